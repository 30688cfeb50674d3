#!/usr/bin/env bash
# stop.sh DIR: stops what start.sh started, by the recorded process ids only.
dir=$(realpath -m "$1")
if [ -f "$dir/nginx.pid" ]; then
  nginx -p "$dir/" -c "$dir/nginx.conf" -e "$dir/logs/error.log" -s quit 2>/dev/null || kill "$(cat "$dir/nginx.pid")" 2>/dev/null
  rm -f "$dir/nginx.pid"
fi
if [ -f "$dir/fault.pid" ]; then
  kill "$(cat "$dir/fault.pid")" 2>/dev/null
  rm -f "$dir/fault.pid"
fi
exit 0
