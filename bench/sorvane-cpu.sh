#!/usr/bin/env bash
# CPU time of sorvane (headless) and transferd over a download limited to 5 MiB/s (nginx
# limit_rate 5m) that lasts 60 s (a 300 MiB payload): user plus system time of both processes, read
# from /proc from sorvane's start (transferd is started on demand by sorvane) until the job is
# TRANSFERRED, as a share of one core over that time. Goal: under 1 % of one core.
# SORVANE_BENCH_SECONDS changes the length of the download.
cd "$(dirname "$0")/.."
source bench/sorvane-lib.bash
LENGTH=${SORVANE_BENCH_SECONDS:-60}
serve_product $((LENGTH * (5 << 20))) 5m
HZ=$(getconf CLK_TCK)

start=$(date +%s.%N)
WINSHIM_UI=headless "$SORVANE" >"$WORK/sorvane.out" 2>&1 &
pid=$!
sorvane_ticks=0 transferd_ticks=0 transferd=
# The last reading before the job is seen TRANSFERRED is the figure; sorvane's own CPU while it
# unpacks afterwards (it waits for the archive) is not counted.
until grep -q -- '-> TRANSFERRED' "$XDG_STATE_HOME/transferd/transferd.log" 2>/dev/null; do
  alive "$pid" || { echo "sorvane ended before the download did:" >&2; cat "$WORK/sorvane.out" >&2; exit 1; }
  transferd=${transferd:-$(daemon_pid)}
  sorvane_ticks=$(cpu_ticks "$pid")
  [ -n "$transferd" ] && transferd_ticks=$(cpu_ticks "$transferd")
  sleep 0.2
done
elapsed=$(seconds "$start" "$(log_time '-> TRANSFERRED')")
wait "$pid"
wait_for_line started "$SORVANE_SAMPLE_LOG" 30 || { echo "the sample setup program did not start" >&2; exit 1; }

total=$((sorvane_ticks + transferd_ticks))
echo "download of $((LENGTH * 5)) MiB at 5 MiB/s: ${elapsed} s from sorvane's start to TRANSFERRED"
awk -v s="$sorvane_ticks" -v t="$transferd_ticks" -v hz="$HZ" -v e="$elapsed" 'BEGIN {
  printf "CPU: sorvane %.2f s, transferd %.2f s, together %.2f s = %.2f %% of one core (goal < 1 %%)\n",
    s / hz, t / hz, (s + t) / hz, 100 * (s + t) / hz / e }'
