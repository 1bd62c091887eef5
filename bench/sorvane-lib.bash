# Shared by bench/sorvane-*.sh (sourced, not run): transferd-lib's isolated home, nginx and
# clean-up, plus sorvane of the bench build, the sample product served at the product's own URL,
# an X server for the GTK window, and the machine's load at the start.
source bench/transferd-lib.bash
cmake --build "$BUILD" --target sorvane >/dev/null
SORVANE=$BUILD/sorvane
ARCHIVE_NAME=LorvasKaldo2018NovembrisWebArchive.exe
export SORVANE_SAMPLE_LOG=$WORK/setup.log SORVANE_SAMPLE_SECONDS=1
XVFB_PID=
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"

# serve_product PAYLOAD_BYTES [LIMIT_RATE]: the sample product made with that payload and served by
# nginx where the product's URL (download.lorva.example/kaldo/...) reaches it through transferd.
serve_product() {
  tools/make-sample-product "$WORK/www/kaldo" "$1" >/dev/null
  start_nginx "$WORK/www" "${2:-}"
  transferd_config "connect-to=download.lorva.example:80:127.0.0.1:$NGINX_PORT"
}

# CPU time (user + system) of a process in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }

# The time in seconds since 1970 of transferd's last log line that matches PATTERN.
log_time() {
  local stamp
  stamp=$(grep -- "$1" "$XDG_STATE_HOME/transferd/transferd.log" | tail -1 | cut -d' ' -f1)
  [ -n "$stamp" ] && date -d "$stamp" +%s.%N
}

# Waits up to SECONDS for a file to hold a line that matches PATTERN.
wait_for_line() {
  local pattern=$1 file=$2 i
  for ((i = 0; i < $3 * 20; i++)); do
    grep -q -- "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# start_xvfb: an X server on a display number that Xvfb picks free; sets DISPLAY.
start_xvfb() {
  command -v Xvfb >/dev/null || { echo "Xvfb is not installed (scripts/setup installs it)" >&2; exit 1; }
  Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.display" 2>/dev/null &
  XVFB_PID=$!
  local i
  for ((i = 0; i < 100; i++)); do
    [ -s "$WORK/xvfb.display" ] && break
    sleep 0.05
  done
  export DISPLAY=:$(head -1 "$WORK/xvfb.display") GDK_BACKEND=x11 NO_AT_BRIDGE=1
}

sorvane_cleanup() {
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
  cleanup
}
trap sorvane_cleanup EXIT

# seconds A B: B - A with millisecond precision.
seconds() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", b - a}'; }
