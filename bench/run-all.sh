#!/usr/bin/env bash
# Runs every benchmark against the programs in BUILD_DIR and prints the figures.
#   bench/run-all.sh BUILD_DIR     (IDLE_SECONDS=60 and RUNS=5 may be changed)
# Without a display everything runs inside a private Xvfb.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: bench/run-all.sh BUILD_DIR}" && pwd)"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build"
fi
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
echo "Kestrin benchmarks, $(date '+%Y-%m-%d %H:%M'), $(nproc) cores, $(uname -m)"
status=0
"$here/tunnel.sh" "$build" goodput || status=1
echo
"$here/tunnel.sh" "$build" hostcost || status=1
echo
"$here/tunnel.sh" "$build" idle || status=1
echo
(cd "$build/bin" && ./kestrin-bench-view all --runs "${RUNS:-5}" --setup-delay 1000) || status=1
echo
(cd "$build/bin" && ./kestrin-bench-view dial --runs "${RUNS:-5}" --setup-delay 0) || status=1
exit $status
