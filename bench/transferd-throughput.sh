#!/usr/bin/env bash
# 1 GiB from nginx on loopback: transferd (job created to TRANSFERRED, file synced) against
# `curl -o` of the same file, alternating, three rounds. Goal: transferd within 1.2x of curl.
# The ratio is against plain `curl -o`; its time with the file synced is shown beside it.
# TRANSFERD_BENCH_MB changes the size.
cd "$(dirname "$0")/.."
source bench/transferd-lib.bash
MB=${TRANSFERD_BENCH_MB:-1024}
transferd_config idle-exit=60
head -c $((MB << 20)) /dev/urandom >"$WORK/www/big.bin"
start_nginx "$WORK/www"
URL=http://127.0.0.1:$NGINX_PORT/big.bin
cat "$WORK/www/big.bin" >/dev/null

ratios=()
for round in 1 2 3; do
  start=$(date +%s.%N)
  curl -sS -o "$WORK/dl/curl.bin" "$URL"
  curl_s=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.3f", b - a}')
  sync "$WORK/dl/curl.bin"
  synced_s=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.3f", b - a}')
  td_s=$("$TD/transferd_bench" download "$URL" "$WORK/dl/transferd.bin")
  if [ "$round" = 1 ]; then cmp "$WORK/www/big.bin" "$WORK/dl/transferd.bin"; fi
  rm -f "$WORK/dl/curl.bin" "$WORK/dl/transferd.bin"
  ratio=$(awk -v a="$td_s" -v b="$curl_s" 'BEGIN {printf "%.3f", a / b}')
  ratios+=("$ratio")
  printf 'round %d: %d MiB  curl -o %.3f s (%.3f s with the file synced, as transferd does)  transferd %.3f s  ratio %.2f\n' \
    "$round" "$MB" "$curl_s" "$synced_s" "$td_s" "$ratio"
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | sed -n 2p)
echo "transferd/curl median ratio: $median (goal <= 1.2)"
