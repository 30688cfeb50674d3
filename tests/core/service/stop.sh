#!/usr/bin/env bash
# stop.sh STATE_DIR: ends the service double that start.sh started.
state=$1
if [ -f "$state/pid" ]; then
  kill "$(cat "$state/pid")" 2>/dev/null || true
  rm -f "$state/pid" "$state/port"
fi
exit 0
