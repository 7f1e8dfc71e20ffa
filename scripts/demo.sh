#!/usr/bin/env bash
# Starts Kestrin from its build folder (next to its status-page template).
set -euo pipefail
build="${1:-build}"
cd "$build/bin"
if [ ! -x ./kestrin ]; then
  echo "kestrin has not been built yet" >&2
  exit 1
fi
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
if [ -n "${DISPLAY:-}" ]; then
  exec ./kestrin "$@"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" ./kestrin "$@"
