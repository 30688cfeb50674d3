#!/usr/bin/env bash
# stubtool_faults.sh WINE_RUN PREFIX STUBTOOL SERVERS_DIR: `stubtool download` against every
# fault of the scripted server. Each case starts from a file whose first two blocks are right;
# the faulty server must leave either the right file or a clear failure, and a good server must
# then finish the file fetching nothing before its first wrong block.
set -uo pipefail
wine_run=$1 prefix=$2 stubtool=$3 servers=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/stubtool-faults.XXXXXX")
trap 'rm -rf "$work"' EXIT
fault=$(awk '$1=="fault"{print $2}' "$servers/ports")
requests="$servers/fault-requests.log"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
win() { echo "Z:${1//\//\\}"; }
# A hang is a failure too: no case may outlive the receive time-out by much.
tool() { timeout 60 "$wine_run" "$prefix" "$stubtool" "$@" >"$work/out" 2>&1 </dev/null; }

# The fault server's package: byte i is i % 251, 4 MiB + 12345 bytes.
python3 - "$work/expected.bin" <<'PY'
import sys
size = 4 * 1048576 + 12345
pattern = bytes(range(251))
open(sys.argv[1], "wb").write((pattern * (size // 251 + 1))[:size])
PY

# first_bad FILE: index of the first 1 MiB block that differs from the package (5 when none).
first_bad() {
  python3 - "$1" "$work/expected.bin" <<'PY'
import sys
got, want = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
blocks = (len(want) + 1048575) // 1048576
print(next((b for b in range(blocks) if got[b * 1048576:(b + 1) * 1048576] != want[b * 1048576:(b + 1) * 1048576]),
           blocks))
PY
}

# fault, how many of its answers are faulty (0: all), then what the run against it must end
# with: ok (the right file), any (the right file or a failure code: some WinINet takes a reset
# for the end of the body) or the one result it must fail with.
cases="
none 0 ok
reset 0 any
short 0 ok
stall 0 any
badrange 0 0x80072EFB
full200 0 0x80072EFB
etag 0 0x80070017
oversize 0 0x80072EFB
chunked 0 ok
loop 0 0x80072F7C
loop 3 ok
status500 0 0x80072EFB
metacut 1 ok
metacut 0 0x80072EFB
metalen 0 0x80004005
metaother 0 0x80070017
metachunked 0 0x80072EFB
"
while read -r name times outcome; do
  [ -n "$name" ] || continue
  tag="sf$$-$name-$times"
  target="$work/$name.bin"
  head -c $((2 * 1048576)) "$work/expected.bin" > "$target"
  tool download --receive-timeout=1500 "http://127.0.0.1:$fault/m/$name/$times/$tag/pkg.bin" "$(win "$target")"
  rc=$?
  result=$(sed -n 's/^result \(0x[0-9A-F]*\).*/\1/p' "$work/out" | tr -d '\r')
  if [ $rc -eq 124 ]; then
    fail "$name: the download hung"
    continue
  fi
  case $outcome in
    ok)
      [ $rc -eq 0 ] && [ "$result" = 0x00000000 ] || fail "$name: expected success, got rc $rc result $result"
      cmp -s "$target" "$work/expected.bin" || fail "$name: the file differs" ;;
    any)
      if [ $rc -eq 0 ]; then
        cmp -s "$target" "$work/expected.bin" || fail "$name: reported good but the file differs"
      else
        [ $rc -eq 1 ] && [ -n "$result" ] && [ "$result" != 0x00000000 ] || fail "$name: no clear failure: rc $rc result $result"
      fi ;;
    *)
      [ $rc -eq 1 ] && [ "$result" = "$outcome" ] || fail "$name: expected $outcome, got rc $rc result $result" ;;
  esac

  # A good server finishes the file from its first wrong block on.
  bad=$(first_bad "$target")
  good="sg$$-$name-$times"
  tool download "http://127.0.0.1:$fault/m/none/0/$good/pkg.bin" "$(win "$target")" ||
    fail "$name: the good server did not finish the file: $(tail -2 "$work/out")"
  cmp -s "$target" "$work/expected.bin" || fail "$name: the finished file differs"
  fetched=$(grep -c "^/m/none/0/$good/pkg.bin|" "$requests")
  if [ "$bad" -ge 5 ]; then
    [ "$fetched" -eq 0 ] || fail "$name: a complete file was fetched again ($fetched requests)"
  else
    line=$(grep "^/m/none/0/$good/pkg.bin|" "$requests")
    [ "$line" = "/m/none/0/$good/pkg.bin|bytes=$((bad * 1048576))-4206648|" ] ||
      fail "$name: expected one request from block $bad, got: $line"
  fi
  echo "$name ($times): first run $result, resumed from block $bad"
done <<< "$cases"

# A redirect loop is given up on after ten hops, not followed without end.
hops=$(grep -c "^/m/loop/0/sf$$-loop-0/pkg.bin|" "$requests")
[ "$hops" -eq 11 ] || fail "loop: the redirect loop was followed $hops times"

[ $failures -eq 0 ] && echo "all fault cases passed"
exit $((failures > 0))
