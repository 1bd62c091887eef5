#!/usr/bin/env bash
# transferd idle with no job: resident memory and CPU over 10 s (goal: RSS <= 12 MB, no CPU).
# Then 100 queued jobs: the time of each state query from a client (goal: < 5 ms each).
cd "$(dirname "$0")/.."
source bench/transferd-lib.bash
transferd_config idle-exit=120 max-jobs-per-user=100
"$TD/transferctl" list >/dev/null
pid=$(daemon_pid)
sleep 1
rss() { awk '/VmRSS/ {print $2}' "/proc/$pid/status"; }
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
switches() { awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$pid/status"; }
t0=$(ticks) s0=$(switches)
sleep 10
echo "idle, no job: RSS $(rss) kB (goal <= 12288 kB); CPU over 10 s: $(( $(ticks) - t0 )) ticks, $(( $(switches) - s0 )) wake-ups"

head -c $((10 << 20)) /dev/zero >"$WORK/www/slow.bin"
start_nginx "$WORK/www" 1k
"$TD/transferd_bench" queries 100 "http://127.0.0.1:$NGINX_PORT/slow.bin" "$WORK/dl"
echo "with 100 jobs: RSS $(rss) kB"
