# Shared by bench/transferd-*.sh (sourced, not run): an isolated home for transferd, an nginx on a
# free loopback port serving a folder, and clean-up of both on exit.
set -euo pipefail

BUILD=${SORVANE_BUILD_DIR:-$PWD/build-bench}
TD=$BUILD/transferd
cmake --build "$BUILD" --target transferd transferctl transferd_bench >/dev/null

WORK=$(mktemp -d "${TMPDIR:-/tmp}/transferd-bench-XXXXXX")
export HOME=$WORK/home XDG_RUNTIME_DIR=$WORK/run XDG_STATE_HOME=$WORK/state XDG_CONFIG_HOME=$WORK/config
export TRANSFERD_PATH=$TD/transferd
mkdir -p "$HOME" "$XDG_STATE_HOME" "$XDG_CONFIG_HOME/transferd" "$WORK/www" "$WORK/dl"
mkdir -m 700 "$XDG_RUNTIME_DIR"
NGINX_PID=

# transferd.conf lines for this run.
transferd_config() { printf '%s\n' "$@" >"$XDG_CONFIG_HOME/transferd/transferd.conf"; }

# A process that exists and is not a zombie.
alive() { [ -r "/proc/$1/stat" ] && [ "$(awk '{print $3}' "/proc/$1/stat")" != Z ]; }

daemon_pid() {
  local pid
  pid=$(cat "$XDG_STATE_HOME/transferd/transferd.lock" 2>/dev/null || true)
  if [ -n "$pid" ] && alive "$pid"; then echo "$pid"; fi
}

stop_daemon() {
  local pid
  pid=$(daemon_pid)
  [ -n "$pid" ] || return 0
  kill -"${1:-TERM}" "$pid" 2>/dev/null || true
  while alive "$pid"; do sleep 0.01; done
}

# start_nginx ROOT [LIMIT_RATE]: sets NGINX_PORT.
start_nginx() {
  local root=$1 rate=${2:-} user= attempt
  [ "$(id -u)" = 0 ] && user="user root root;"
  mkdir -p "$WORK/nginx/temp"
  for attempt in 1 2 3 4 5; do
    NGINX_PORT=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$NGINX_PORT") 2>/dev/null && continue
    cat >"$WORK/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $WORK/nginx/nginx.pid;
$user
events { worker_connections 256; }
http {
  log_format bench '\$status \$body_bytes_sent "\$http_range"';
  access_log $WORK/nginx/access.log bench;
  client_body_temp_path $WORK/nginx/temp/body;
  proxy_temp_path $WORK/nginx/temp/proxy;
  fastcgi_temp_path $WORK/nginx/temp/fastcgi;
  uwsgi_temp_path $WORK/nginx/temp/uwsgi;
  scgi_temp_path $WORK/nginx/temp/scgi;
  default_type application/octet-stream;
  sendfile on;
  server { listen 127.0.0.1:$NGINX_PORT; root $root; ${rate:+limit_rate $rate;} }
}
CONF
    nginx -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" -e "$WORK/nginx/error.log" >/dev/null 2>&1 &
    NGINX_PID=$!
    for _ in $(seq 100); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$NGINX_PORT") 2>/dev/null; then return 0; fi
      alive "$NGINX_PID" || break
      sleep 0.05
    done
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
  done
  echo "nginx did not start: $(cat "$WORK/nginx/error.log" 2>/dev/null)" >&2
  return 1
}

cleanup() {
  stop_daemon TERM
  if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
