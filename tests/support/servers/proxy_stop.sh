#!/usr/bin/env bash
# proxy_stop.sh DIR: stops the squid that proxy_start.sh started, by its recorded process id.
dir=$(realpath -m "$1")
[ -f "$dir/squid.state" ] || exit 0
state=$(cat "$dir/squid.state")
if [ -f "$state/squid.pid" ]; then
  pid=$(cat "$state/squid.pid")
  kill "$pid" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
fi
case "$state" in /tmp/tandora-squid.*) rm -rf "$state" ;; esac
rm -f "$dir/squid.state" "$dir/proxy"
exit 0
