# Shared by the benchmark scripts (sourced, not run): the simulator, a private
# HOME with its CAPI configuration, Kestrin dialling in it, and a clean end.
# Kestrin is always asked to end with SIGTERM, so that it gives its CAPI
# application back; SIGKILL only if it hangs.

bench_init() {
  build="$(cd "$1" && pwd)"
  bin="$build/bin"
  work="$(mktemp -d /tmp/kestrin-bench.XXXXXX)"
  sim_pid=""
  kestrin_pid=""
  trap bench_cleanup EXIT
  [ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
  [ -x "$bin/kestrin" ] && [ -x "$bin/kestrin-sim" ] || { echo "no kestrin or kestrin-sim in $bin" >&2; exit 1; }
  [ -n "${DISPLAY:-}" ] || { echo "needs a display (run-all.sh starts Xvfb)" >&2; exit 1; }
  hz="$(getconf CLK_TCK)"
}

bench_stop_kestrin() {
  if [ -n "$kestrin_pid" ] && kill -0 "$kestrin_pid" 2>/dev/null; then
    kill -TERM "$kestrin_pid" 2>/dev/null || true
    for _ in $(seq 150); do kill -0 "$kestrin_pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$kestrin_pid" 2>/dev/null; then
      echo "Kestrin did not end within 15 s of SIGTERM; killed" >&2
      kill -KILL "$kestrin_pid" 2>/dev/null || true
    fi
    wait "$kestrin_pid" 2>/dev/null || true
  fi
  kestrin_pid=""
}

bench_stop_sim() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  sim_pid=""
}

bench_cleanup() {
  bench_stop_kestrin
  bench_stop_sim
  [ -n "${KESTRIN_BENCH_KEEP:-}" ] && echo "kept: $work" >&2 || rm -rf "$work"
}

# bench_start_sim SIM-OPTIONS...: a fresh simulator with its own trace.
bench_start_sim() {
  bench_stop_kestrin
  bench_stop_sim
  trace="$work/trace-$RANDOM.log"
  "$bin/kestrin-sim" --port 0 --trace "$trace" "$@" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  sim_port=""
  for _ in $(seq 100); do
    sim_port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out")"
    [ -n "$sim_port" ] && break
    sleep 0.1
  done
  [ -n "$sim_port" ] || { echo "the simulator did not start:" >&2; cat "$work/sim.out" >&2; exit 1; }
  printf 'REMOTE rcapi 127.0.0.1 %s\n' "$sim_port" >"$work/.capi20rc"
}

# bench_dial NUMBER: Kestrin dials NUMBER; returns once its start page has
# come through the tunnel. Sets kestrin_pid and port (the endpoint).
bench_dial() {
  (cd "$bin" && HOME="$work" XDG_CONFIG_HOME="$work/.config" exec ./kestrin -d "$1") >"$work/kestrin.out" 2>&1 &
  kestrin_pid=$!
  for _ in $(seq 300); do
    grep -q "connection 1 ended" "$trace" 2>/dev/null && break
    kill -0 "$kestrin_pid" 2>/dev/null || { echo "Kestrin ended early" >&2; cat "$work/kestrin.out" >&2; exit 1; }
    sleep 0.1
  done
  grep -q "connection 1 ended" "$trace" || { echo "no call came up within 30 s" >&2; exit 1; }
  port="$(bench_listen_port "$kestrin_pid")"
  [ -n "$port" ] || { echo "Kestrin's endpoint port not found" >&2; exit 1; }
}

# The TCP port that PID listens on at 127.0.0.1, from /proc.
bench_listen_port() {
  local inodes
  inodes="$(for f in /proc/"$1"/fd/*; do readlink "$f" 2>/dev/null; done | sed -n 's/^socket:\[\([0-9]*\)\]$/\1/p' | tr '\n' ' ')"
  local hex
  hex="$(awk -v inodes=" $inodes " '$4 == "0A" && $2 ~ /^0100007F:/ && index(inodes, " " $10 " ") { split($2, a, ":"); print a[2]; exit }' /proc/net/tcp)"
  [ -n "$hex" ] && printf '%d\n' "0x$hex"
}

# User plus system CPU of PID in clock ticks.
bench_cpu_ticks() {
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' /proc/"$1"/stat
}

# Nanoseconds on a CPU of all live threads of PID, from the scheduler's own
# accounting: exact also for short wake-ups, which tick sampling misjudges.
bench_cpu_ns() {
  cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ n += $1 } END { printf "%.0f\n", n }'
}
