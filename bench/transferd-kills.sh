#!/usr/bin/env bash
# A 256 MiB download during which transferd is killed (SIGKILL) 10 times at random points and
# started again by the next client call. Reports the bytes the server sent beyond the file's size
# (fetched again). Goal: <= 1 MiB in all; the result must be byte-identical.
# TRANSFERD_BENCH_MB and TRANSFERD_BENCH_RATE (nginx limit_rate) change the run.
cd "$(dirname "$0")/.."
source bench/transferd-lib.bash
MB=${TRANSFERD_BENCH_MB:-256}
KILLS=10
transferd_config idle-exit=60
head -c $((MB << 20)) /dev/urandom >"$WORK/www/big.bin"
start_nginx "$WORK/www" "${TRANSFERD_BENCH_RATE:-24m}"
id=$("$TD/transferctl" create bench "http://127.0.0.1:$NGINX_PORT/big.bin" "$WORK/dl/big.bin")

state() { "$TD/transferctl" show "$id" | awk '/State:/ {print $2}'; }
kills=0
while [ "$kills" -lt "$KILLS" ]; do
  sleep "0.$((2 + RANDOM % 5))$((RANDOM % 10))"
  [ "$(state)" = TRANSFERRING ] || { [ "$(state)" = TRANSFERRED ] && break; continue; }
  stop_daemon KILL
  kills=$((kills + 1))
done
"$TD/transferctl" watch "$id" >/dev/null
"$TD/transferctl" complete "$id" >/dev/null
cmp "$WORK/www/big.bin" "$WORK/dl/big.bin"
sent=$(awk '{s += $2} END {print s}' "$WORK/nginx/access.log")
requests=$(wc -l <"$WORK/nginx/access.log")
refetched=$((sent - (MB << 20)))
echo "kills: $kills  requests: $requests  file: $((MB << 20)) bytes  sent by the server: $sent bytes"
echo "fetched again: $refetched bytes ($(awk -v b="$refetched" 'BEGIN {printf "%.3f", b / 1048576}') MiB; goal <= 1 MiB); result identical"
