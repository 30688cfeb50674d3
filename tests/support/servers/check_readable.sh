#!/usr/bin/env bash
# check_readable.sh SCRATCH: the download servers serve a folder that only its owner may enter,
# below a path with a space and non-ASCII letters; and when their workers cannot read it, the
# start fails with one line naming the cause instead of serving 403s.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(realpath -m "$1")
rm -rf "$scratch"
mkdir -p "$scratch/private"
chmod 0700 "$scratch/private"
dir="$scratch/private/clone dir é/servers"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# worker user | expected start status | expected in the output
rows=("$(id -un)|0|download servers: nginx")
# Only a root master switches its workers to another user; otherwise they are the invoking user.
if [ "$(id -u)" -eq 0 ]; then rows+=("nobody|1|(workers as nobody) cannot serve $dir/www: HTTP 403"); fi

for row in "${rows[@]}"; do
  IFS='|' read -r user want_rc want_text <<<"$row"
  out=$(TANDORA_SERVERS_USER=$user "$here/start.sh" "$dir" 2>&1); rc=$?
  lines=$(printf '%s\n' "$out" | wc -l)
  [ "$rc" -eq "$want_rc" ] || fail "workers as $user: start ended with $rc, not $want_rc: $out"
  [[ "$out" == *"$want_text"* ]] || fail "workers as $user: output lacks '$want_text': $out"
  [ "$lines" -eq 1 ] || fail "workers as $user: $lines lines of output, not one: $out"
  if [ "$want_rc" -eq 0 ]; then
    port=$(awk '$1=="nginx"{print $2}' "$dir/ports")
    body=$(curl -s "http://127.0.0.1:$port/pkg10.bin" | cmp - "$dir/www/pkg10.bin" && echo same)
    [ "$body" = same ] || fail "workers as $user: the served package differs from the published one"
  else
    [ ! -f "$dir/ports" ] || fail "workers as $user: a failed start still wrote its ports"
    [ ! -f "$dir/nginx.pid" ] && [ ! -f "$dir/fault.pid" ] || fail "workers as $user: a failed start left servers running"
  fi
  "$here/stop.sh" "$dir"
done
rm -rf "$scratch"
[ "$failures" -eq 0 ] && echo "checked ${#rows[@]} starts"
[ "$failures" -eq 0 ]
