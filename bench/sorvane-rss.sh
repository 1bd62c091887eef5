#!/usr/bin/env bash
# Peak resident memory of sorvane with its GTK window (under Xvfb) over a whole run (a 32 MiB
# payload at 8 MiB/s, about 4 s), beside an empty GTK 3 window's (bench/empty-gtk-window.c, shown
# for 2 s), both as the kernel reports it when the process ends (ru_maxrss, through GNU time), in
# the same environment. sorvane's own high-water mark (VmHWM) is read from /proc as well, since
# ru_maxrss covers the children it waited for (the archive's shell and tar) too; and its peak with
# the headless back end is shown for comparison.
cd "$(dirname "$0")/.."
source bench/sorvane-lib.bash
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time, Debian package time) is not installed" >&2; exit 1; }
serve_product $((32 << 20)) 8m
cc -O2 -Wall -o "$WORK/empty-gtk-window" bench/empty-gtk-window.c $(pkg-config --cflags --libs gtk+-3.0)
start_xvfb

# run_sorvane UI: one whole run; sets RUN_MAX (ru_maxrss, kB) and RUN_HWM (last VmHWM seen, kB).
run_sorvane() {
  rm -rf "$HOME/Downloads" "$SORVANE_SAMPLE_LOG"
  WINSHIM_UI=$1 /usr/bin/time -f %M -o "$WORK/maxrss" "$SORVANE" >"$WORK/sorvane.out" 2>&1 &
  local timer=$! pid= now
  RUN_HWM=0
  while alive "$timer"; do
    pid=${pid:-$(pgrep -P "$timer" || true)}
    if [ -n "$pid" ]; then
      now=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      RUN_HWM=${now:-$RUN_HWM}
    fi
    sleep 0.05
  done
  wait "$timer" || { cat "$WORK/sorvane.out" >&2; exit 1; }
  wait_for_line started "$SORVANE_SAMPLE_LOG" 10 || { echo "the sample setup program did not start" >&2; exit 1; }
  RUN_MAX=$(cat "$WORK/maxrss")
}

run_sorvane gtk
gtk_max=$RUN_MAX gtk_hwm=$RUN_HWM
run_sorvane headless
headless_max=$RUN_MAX headless_hwm=$RUN_HWM
/usr/bin/time -f %M -o "$WORK/maxrss" "$WORK/empty-gtk-window"
empty_max=$(cat "$WORK/maxrss")
echo "sorvane, GTK window:      peak RSS $gtk_max kB (its own VmHWM $gtk_hwm kB)"
echo "empty GTK 3 window:       peak RSS $empty_max kB"
echo "sorvane, headless:        peak RSS $headless_max kB (its own VmHWM $headless_hwm kB)"
awk -v s="$gtk_max" -v e="$empty_max" 'BEGIN {printf "sorvane with its window takes %.1f MiB more than an empty GTK window (%.2fx)\n", (s - e) / 1024, s / e}'
