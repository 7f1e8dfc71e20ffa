#!/usr/bin/env bash
# The main job, ready to try: starts the ISDN simulator with its demo device,
# points a private HOME's CAPI configuration at it, starts Kestrin there and
# dials the demo device. With a display the window stays until you close it;
# without one everything runs in a private Xvfb, screenshots are saved and
# the run ends by itself. No process is left behind either way.
#   scripts/demo.sh BUILD [NUMBER]     (default number 100, the demo device)
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
number="${2:-100}"
bin="$build/bin"
out="$build/demo"
mkdir -p "$out"
work="$(mktemp -d /tmp/kestrin-demo.XXXXXX)"
sim_pid=""
kestrin_pid=""

stop() {
  # Kestrin first, asked politely, so that it gives its CAPI application back.
  if [ -n "$kestrin_pid" ] && kill -0 "$kestrin_pid" 2>/dev/null; then
    kill -TERM "$kestrin_pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$kestrin_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$kestrin_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop EXIT

if [ -z "${KESTRIN_DEMO_INNER:-}" ] && [ -z "${DISPLAY:-}" ]; then
  # No display: run this same script inside a private X server.
  trap - EXIT
  rm -rf "$work"
  KESTRIN_DEMO_INNER=1 exec xvfb-run -a -s "-screen 0 1280x900x24" "$0" "$build" "$number"
fi

"$bin/kestrin-sim" --port 0 --trace "$out/isdn-trace.log" --setup-delay 1500 >"$work/sim.out" 2>&1 &
sim_pid=$!
port=""
for _ in $(seq 100); do
  port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out")"
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the simulator did not start:" >&2; cat "$work/sim.out" >&2; exit 1; }
printf 'REMOTE rcapi 127.0.0.1 %s\n' "$port" >"$work/.capi20rc"
echo "ISDN simulator on 127.0.0.1:$port (trace: $out/isdn-trace.log)"
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1

cd "$bin"
if [ -z "${KESTRIN_DEMO_INNER:-}" ]; then
  echo "Kestrin dials $number; close the window to end the demo."
  HOME="$work" XDG_CONFIG_HOME="$work/.config" ./kestrin -d "$number" &
  kestrin_pid=$!
  wait "$kestrin_pid" || true
  kestrin_pid=""
  exit 0
fi

HOME="$work" XDG_CONFIG_HOME="$work/.config" ./kestrin -d "$number" >"$work/kestrin.out" 2>&1 &
kestrin_pid=$!
shot() { "$bin/kestrin-screenshot" "$out/$1" && echo "screenshot: $out/$1"; }
# The status page while the call is set up, then the device's own page.
for _ in $(seq 100); do grep -q "CONNECT_REQ" "$out/isdn-trace.log" 2>/dev/null && break; sleep 0.1; done
sleep 0.8
shot 1-dialling.png
for _ in $(seq 300); do grep -q "connection 1 ended" "$out/isdn-trace.log" 2>/dev/null && break; sleep 0.1; done
sleep 2
shot 2-device-page.png
kill -TERM "$kestrin_pid"
for _ in $(seq 100); do kill -0 "$kestrin_pid" 2>/dev/null || break; sleep 0.1; done
kestrin_pid=""
echo "Kestrin ended; the call and what crossed the line are in $out/isdn-trace.log"
