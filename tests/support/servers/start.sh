#!/usr/bin/env bash
# start.sh DIR [KEY]: starts nginx and the fault server on 127.0.0.1 for the download tests.
# DIR/ports gets "nginx PORT" and "fault PORT"; packages are in DIR/www, signed with KEY.
# nginx's workers run as the invoking user (TANDORA_SERVERS_USER names another one), so they can
# read DIR whatever the clone's path and permissions; when they cannot, the start fails with one
# line that says so instead of every download answering 403.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(realpath -m "$1")
"$here/stop.sh" "$dir" || true
rm -rf "$dir"
mkdir -p "$dir/www" "$dir/logs" "$dir/temp"
python3 "$here/make_packages.py" "$dir/www"
if [ -n "${2:-}" ]; then "$here/../sign_tree.sh" "$2" "$dir/www"; fi

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
nginx_port=$(free_port)
# The user directive is honoured only when the master runs as root; otherwise the workers are
# the invoking user anyway.
worker_user=${TANDORA_SERVERS_USER:-$(id -un)}
user_line=""
[ "$(id -u)" -ne 0 ] || user_line="user $worker_user $(id -gn "$worker_user");"
# Every path is relative to the prefix (-p), so the folder's name never needs quoting here.
cat > "$dir/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid nginx.pid;
error_log logs/error.log;
events { worker_connections 64; }
http {
  client_body_temp_path temp/body;
  proxy_temp_path temp/proxy;
  fastcgi_temp_path temp/fastcgi;
  uwsgi_temp_path temp/uwsgi;
  scgi_temp_path temp/scgi;
  default_type application/octet-stream;
  log_format ranges '\$request_uri|\$status|\$http_range|\$http_if_range|\$body_bytes_sent';
  server {
    listen 127.0.0.1:$nginx_port;
    root www;
    access_log logs/access.log ranges;
    # the same files at a modem's pace, for runs that must still be downloading when something happens
    location /slow/ {
      alias www/;
      limit_rate 1k;
    }
  }
}
CONF
nginx -p "$dir/" -c "$dir/nginx.conf" -e "$dir/logs/error.log"

nohup python3 "$here/fault_server.py" "$dir/fault.port" "$dir/fault-requests.log" "${2:-}" \
  >"$dir/logs/fault.out" 2>&1 </dev/null &
echo $! > "$dir/fault.pid"
for _ in $(seq 100); do [ -s "$dir/fault.port" ] && break; sleep 0.1; done
[ -s "$dir/fault.port" ] || { echo "fault server did not start"; "$here/stop.sh" "$dir"; exit 1; }

status=000
for _ in $(seq 100); do
  status=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$nginx_port/empty.bin" || true)
  [ "$status" = 000 ] || break
  sleep 0.1
done
if [ "$status" != 200 ]; then
  reason=$(grep -m1 -o 'open() .*failed ([^)]*)' "$dir/logs/error.log" || true)
  echo "download servers: nginx (workers as $worker_user) cannot serve $dir/www: HTTP $status for /empty.bin${reason:+; $reason}" >&2
  "$here/stop.sh" "$dir"
  exit 1
fi
printf 'nginx %s\nfault %s\n' "$nginx_port" "$(cat "$dir/fault.port")" > "$dir/ports"
echo "download servers: $(tr '\n' ' ' < "$dir/ports")"
