#!/usr/bin/env bash
# start.sh DIR: starts nginx and the fault server on 127.0.0.1 for the download tests.
# DIR/ports gets "nginx PORT" and "fault PORT"; packages are in DIR/www.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$1
"$here/stop.sh" "$dir" || true
rm -rf "$dir"
mkdir -p "$dir/www" "$dir/logs" "$dir/temp"
python3 "$here/make_packages.py" "$dir/www"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
nginx_port=$(free_port)
cat > "$dir/nginx.conf" <<CONF
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log;
events { worker_connections 64; }
http {
  client_body_temp_path $dir/temp/body;
  proxy_temp_path $dir/temp/proxy;
  fastcgi_temp_path $dir/temp/fastcgi;
  uwsgi_temp_path $dir/temp/uwsgi;
  scgi_temp_path $dir/temp/scgi;
  default_type application/octet-stream;
  log_format ranges '\$request_uri|\$status|\$http_range|\$http_if_range|\$body_bytes_sent';
  server {
    listen 127.0.0.1:$nginx_port;
    root $dir/www;
    access_log $dir/logs/access.log ranges;
    # the same files at a modem's pace, for runs that must still be downloading when something happens
    location /slow/ {
      alias $dir/www/;
      limit_rate 2k;
    }
  }
}
CONF
nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log"

nohup python3 "$here/fault_server.py" "$dir/fault.port" "$dir/fault-requests.log" \
  >"$dir/logs/fault.out" 2>&1 </dev/null &
echo $! > "$dir/fault.pid"
for _ in $(seq 100); do [ -s "$dir/fault.port" ] && break; sleep 0.1; done
[ -s "$dir/fault.port" ] || { echo "fault server did not start"; exit 1; }
for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$nginx_port/empty.bin" && break; sleep 0.1; done
printf 'nginx %s\nfault %s\n' "$nginx_port" "$(cat "$dir/fault.port")" > "$dir/ports"
echo "download servers: $(tr '\n' ' ' < "$dir/ports")"
