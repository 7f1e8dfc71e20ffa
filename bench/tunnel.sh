#!/usr/bin/env bash
# Tunnel benchmarks on the real program: Kestrin dials the simulator's demo
# device, curl plays the browser against Kestrin's endpoint.
#   bench/tunnel.sh BUILD goodput    64 kbit/s: 256 KB and 1 MB down, 256 KB up
#   bench/tunnel.sh BUILD hostcost   unlimited line: 16 MB down and up, CPU per MB
#   bench/tunnel.sh BUILD idle       a connected call left alone (IDLE_SECONDS, default 60)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/common.sh"
bench_init "$1"
what="${2:-goodput}"
fnv="$bin/kestrin-bench-fnv1a"
line_rate=8000
MiB=1048576

# download SIZE: one GET of /blob?size=SIZE; prints "seconds first-byte-seconds" and checks the bytes.
download() {
  local size=$1 out
  out="$(curl -s --max-time 900 -D "$work/head" -o "$work/body" \
          -w '%{time_total} %{time_starttransfer} %{size_download}' \
          "http://127.0.0.1:$port/blob?size=$size")" || { echo "curl failed for $size bytes" >&2; return 1; }
  set -- $out
  local want got
  want="$(sed -n 's/^X-Checksum-Fnv1a: *\([0-9a-fA-F]*\).*/\1/Ip' "$work/head" | tr 'A-F' 'a-f')"
  got="$("$fnv" "$work/body")"
  [ "$3" = "$size" ] && [ "$want" = "$got" ] || { echo "download of $size bytes: got $3 bytes, fnv1a $got, device says $want" >&2; return 1; }
  echo "$1 $2"
}

# upload SIZE: one POST of SIZE bytes to /upload; prints "seconds" and checks the device's count.
upload() {
  local size=$1 out
  head -c "$size" /dev/urandom >"$work/up"
  out="$(curl -s --max-time 900 -H 'Expect:' -H 'Content-Type: application/octet-stream' \
          --data-binary @"$work/up" -o "$work/answer" -w '%{time_total}' \
          "http://127.0.0.1:$port/upload")" || { echo "curl failed for the upload of $size bytes" >&2; return 1; }
  local want
  want="bytes=$size fnv1a=$("$fnv" "$work/up")"
  grep -qx "$want" "$work/answer" || { echo "upload of $size bytes: device says '$(cat "$work/answer")', want '$want'" >&2; return 1; }
  echo "$out"
}

goodput() {
  bench_start_sim --rate "$line_rate" --device 100=demo
  bench_dial 100
  echo "== Tunnel goodput at 64 kbit/s (line $line_rate bytes/s each way; target ratio >= 0.99)"
  printf '%-12s %10s %9s %10s %7s %12s %7s\n' transfer bytes seconds "bytes/s" ratio "stream B/s" ratio
  for size in $((256 * 1024)) $MiB; do
    set -- $(download "$size")
    awk -v n="$size" -v t="$1" -v f="$2" -v r="$line_rate" -v label="down $((size / 1024)) KB" 'BEGIN {
      s = (n - 2047) / (t - f)
      printf "%-12s %10d %9.2f %10.0f %7.4f %12.0f %7.4f\n", label, n, t, n / t, n / t / r, s, s / r }'
  done
  size=$((256 * 1024))
  t="$(upload "$size")"
  awk -v n="$size" -v t="$t" -v r="$line_rate" 'BEGIN {
    printf "%-12s %10d %9.2f %10.0f %7.4f\n", "up 256 KB", n, t, n / t, n / t / r }'
  echo "(bytes/s: body bytes over curl's whole transfer time; stream: from the first response byte on)"
}

hostcost() {
  bench_start_sim --rate 0 --device 100=demo
  bench_dial 100
  echo "== Host cost, unlimited line (target >= 20 MB/s; MB = 2^20 bytes)"
  printf '%-12s %10s %9s %8s %12s\n' transfer bytes seconds "MB/s" "CPU s/MB"
  size=$((16 * MiB))
  for dir in down up; do
    before="$(bench_cpu_ticks "$kestrin_pid")"
    if [ "$dir" = down ]; then set -- $(download "$size"); t=$1; else t="$(upload "$size")"; fi
    after="$(bench_cpu_ticks "$kestrin_pid")"
    awk -v n="$size" -v t="$t" -v c="$((after - before))" -v hz="$hz" -v label="$dir 16 MB" 'BEGIN {
      mb = n / 1048576
      printf "%-12s %10d %9.2f %8.2f %12.4f\n", label, n, t, mb / t, c / hz / mb }'
  done
  echo "(CPU: user + system time of the Kestrin process, from /proc/PID/stat)"
}

# Every thread of PID: "tid name context-switches cpu-ticks".
thread_stats() {
  local t
  for t in /proc/"$1"/task/*; do
    { awk -v tid="${t##*/}" '/^Name:/ { name = $2 } /ctxt_switches/ { n += $2 } END { printf "%s %s %d ", tid, name, n }' "$t/status"
      awk '{ print $1 }' "$t/schedstat"; } 2>/dev/null || true
  done
}

idle() {
  local seconds="${IDLE_SECONDS:-60}"
  bench_start_sim --rate "$line_rate" --device 100=demo
  bench_dial 100
  sleep 3  # the start page has settled in the view
  echo "== Idle connected call over $seconds s (target < 1 % of a core, no periodic busy wake-ups)"
  thread_stats "$kestrin_pid" >"$work/sw0"
  before="$(bench_cpu_ticks "$kestrin_pid")"
  before_ns="$(bench_cpu_ns "$kestrin_pid")"
  trace_before="$(wc -l <"$trace")"
  sleep "$seconds"
  after="$(bench_cpu_ticks "$kestrin_pid")"
  after_ns="$(bench_cpu_ns "$kestrin_pid")"
  thread_stats "$kestrin_pid" >"$work/sw1"
  trace_after="$(wc -l <"$trace")"
  awk -v n="$((after_ns - before_ns))" -v c="$((after - before))" -v hz="$hz" -v s="$seconds" 'BEGIN {
    printf "Kestrin process CPU: %.3f s in %d s = %.3f %% of a core (scheduler time; tick sampling says %.2f s)\n", n / 1e9, s, 100 * n / 1e9 / s, c / hz }'
  echo "CAPI messages meanwhile: $((trace_after - trace_before)) trace lines"
  echo "threads that woke more than once in 10 s or used over 1 ms of CPU (main thread: $kestrin_pid):"
  awk -v s="$seconds" -v hz="$hz" 'NR == FNR { sw[$1] = $3; cpu[$1] = $4; next }
    { d = $3 - ($1 in sw ? sw[$1] : 0); c = $4 - ($1 in cpu ? cpu[$1] : 0)
      if (d / s > 0.1 || c > 1e6) printf "  %-22s %6.1f wake-ups/s %8.4f s CPU\n", $2 " (" $1 ")", d / s, c / 1e9 }' \
    "$work/sw0" "$work/sw1" | sort -t'(' -k1,1
}

case "$what" in
goodput) goodput ;;
hostcost) hostcost ;;
idle) idle ;;
*) echo "unknown benchmark: $what (goodput, hostcost or idle)" >&2; exit 2 ;;
esac
