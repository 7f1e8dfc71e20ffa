#!/usr/bin/env bash
# Runs the whole test suite of a build folder. The window tests need a
# display: without one, the suite runs inside a private Xvfb.
set -euo pipefail
build="${1:-build}"
cd "$build"
if [ -n "${DISPLAY:-}" ]; then
  exec ctest --output-on-failure --timeout 600
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure --timeout 600
