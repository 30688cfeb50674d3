#!/usr/bin/env bash
# proxy_start.sh DIR: starts squid on 127.0.0.1 as the only route to the download host, with
# Basic authentication against an htpasswd file made here. DIR/proxy gets "port PORT", "host NAME"
# (a name only squid resolves, to 127.0.0.1), "user NAME" and "password TEXT"; squid's own files
# live in a folder of their own (its worker user must write them), named in DIR/proxy too.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(realpath -m "$1")
"$here/proxy_stop.sh" "$dir" || true
mkdir -p "$dir"
state=$(mktemp -d /tmp/tandora-squid.XXXXXX)
echo "$state" > "$dir/squid.state"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
port=$(free_port)
host=tandora-downloads.test
user=tandora-proxy-user
# A fresh password every start: nothing the tests look for can come from an earlier run.
password="Pw-$(openssl rand -hex 8)"
printf '127.0.0.1 %s\n' "$host" > "$state/hosts"
htpasswd -bcB "$state/passwd" "$user" "$password" >/dev/null 2>&1 || htpasswd -bc "$state/passwd" "$user" "$password" >/dev/null
# squid refuses to keep root: it works as its own user, which must read and write its folder.
owner_line=""
if [ "$(id -u)" -eq 0 ]; then
  owner_line="cache_effective_user proxy"
  chown -R proxy "$state"
fi
cat > "$state/squid.conf" <<CONF
http_port 127.0.0.1:$port
$owner_line
pid_filename $state/squid.pid
cache_log $state/cache.log
access_log stdio:$state/access.log
logfile_rotate 0
strip_query_terms off
netdb_filename none
coredump_dir $state
cache deny all
cache_mem 4 MB
hosts_file $state/hosts
dns_nameservers 127.0.0.1
shutdown_lifetime 1 seconds
auth_param basic program /usr/lib/squid/basic_ncsa_auth $state/passwd
auth_param basic realm Tandora test proxy
auth_param basic children 2
acl authenticated proxy_auth REQUIRED
http_access allow authenticated
http_access deny all
CONF
squid -f "$state/squid.conf"
status=000
for _ in $(seq 100); do
  status=$(curl -s -o /dev/null -w '%{http_code}' -x "http://127.0.0.1:$port" "http://$host/" || true)
  [ "$status" = 000 ] || break
  sleep 0.1
done
if [ "$status" != 407 ]; then
  echo "proxy: squid on port $port answered $status instead of 407" >&2
  tail -n 5 "$state/cache.log" >&2 || true
  "$here/proxy_stop.sh" "$dir"
  exit 1
fi
printf 'port %s\nhost %s\nuser %s\npassword %s\nstate %s\n' "$port" "$host" "$user" "$password" "$state" > "$dir/proxy"
echo "proxy: squid on port $port"
