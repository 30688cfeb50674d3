#!/usr/bin/env bash
# stubtool_download.sh WINE_RUN PREFIX STUBTOOL SERVERS_DIR: the publisher commands end to end
# against the test servers (started by the download_servers fixture).
set -uo pipefail
wine_run=$1 prefix=$2 stubtool=$3 servers=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/stubtool-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
nginx=$(awk '$1=="nginx"{print $2}' "$servers/ports")
fault=$(awk '$1=="fault"{print $2}' "$servers/ports")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
win() { echo "Z:${1//\//\\}"; }
# Runs stubtool with its output in $work/out; never pipes Wine's output.
tool() { "$wine_run" "$prefix" "$stubtool" "$@" >"$work/out" 2>&1 </dev/null; }

# meta agrees with an independent computation: 8-byte little-endian size, SHA-1 per MiB.
head -c $((3 * 1048576 + 7)) /dev/urandom > "$work/pkg.bin"
tool meta "$(win "$work/pkg.bin")" || fail "meta exited $?: $(cat "$work/out")"
python3 - "$work/pkg.bin" "$work/expected.meta" <<'PY'
import hashlib, struct, sys
data = open(sys.argv[1], "rb").read()
out = struct.pack("<q", len(data)) + b"".join(hashlib.sha1(data[i:i + 1048576]).digest()
                                             for i in range(0, len(data), 1048576))
open(sys.argv[2], "wb").write(out)
PY
cmp -s "$work/pkg.bin.meta" "$work/expected.meta" || fail "meta output differs from the independent computation"

tool verify "$(win "$work/pkg.bin")" "$(win "$work/pkg.bin.meta")" || fail "verify of a good file: $(cat "$work/out")"
printf 'X' | dd of="$work/pkg.bin" bs=1 seek=$((2 * 1048576 + 9)) conv=notrunc status=none
if tool verify "$(win "$work/pkg.bin")" "$(win "$work/pkg.bin.meta")"; then fail "verify accepted a changed file"; fi
grep -q "first at block 2 (offset 2097152)" "$work/out" || fail "verify did not name block 2: $(cat "$work/out")"
truncate -s 1048576 "$work/pkg.bin"
if tool verify "$(win "$work/pkg.bin")" "$(win "$work/pkg.bin.meta")"; then fail "verify accepted a short file"; fi

# download: byte-identical; a damaged second half is fetched again from its first bad block only.
url="http://127.0.0.1:$nginx/pkg10.bin"
served_before=$(grep -c '^/pkg10.bin|' "$servers/logs/access.log" || true)
tool download "$url" "$(win "$work/dl.bin")" || fail "download exited $?: $(tail -3 "$work/out")"
cmp -s "$work/dl.bin" "$servers/www/pkg10.bin" || fail "downloaded file differs"
grep -q "result 0x00000000" "$work/out" || fail "download did not print its result"
dd if=/dev/zero of="$work/dl.bin" bs=1048576 seek=5 count=6 conv=notrunc status=none
# nginx logs a request once it has finished it, which can be after the client has all the bytes.
for _ in $(seq 100); do
  [ "$(grep -c '^/pkg10.bin|' "$servers/logs/access.log" || true)" -gt "$served_before" ] && break
  sleep 0.1
done
lines_before=$(wc -l < "$servers/logs/access.log")
tool download "$url" "$(win "$work/dl.bin")" || fail "resumed download exited $?"
cmp -s "$work/dl.bin" "$servers/www/pkg10.bin" || fail "resumed file differs"
new=$(tail -n +$((lines_before + 1)) "$servers/logs/access.log" | grep '^/pkg10.bin|')
[ "$new" = "/pkg10.bin|206|bytes=5242880-10490080|-|5247201" ] || fail "resume fetched: $new"

# Clear failures: no metadata, a server that breaks the contract.
if tool download "http://127.0.0.1:$fault/short" "$(win "$work/x.bin")"; then fail "download without .meta succeeded"; fi
grep -q "failed with 0x80072EFB" "$work/out" || fail "no clear failure: $(cat "$work/out")"
tool check-server "$url" || fail "check-server refused nginx: $(cat "$work/out")"
if tool check-server "http://127.0.0.1:$fault/short"; then fail "check-server accepted the fault server"; fi
grep -q "^FAIL: " "$work/out" || fail "check-server printed no finding"

# fetch (the plain URL-moniker download): byte-identical, no copy in the browser cache, and a
# body shorter than announced or an error status is a failure, not a file.
cache_copies() { find "$prefix/drive_c/users" -path '*INetCache*' -name 'pkg10*' 2>/dev/null | sort; }
cached_before=$(cache_copies)
tool --peak-memory fetch "$url" "$(win "$work/plain.bin")" || fail "fetch exited $?: $(tail -3 "$work/out")"
cmp -s "$work/plain.bin" "$servers/www/pkg10.bin" || fail "fetched file differs"
peak=$(awk '$1=="peak" {print $4}' "$work/out" | tr -d '\r')
[ "${peak:-0}" -gt 1048576 ] || fail "--peak-memory printed no plausible peak: $(tail -2 "$work/out")"
[ "$(cache_copies)" = "$cached_before" ] || fail "fetch left a cache copy: $(cache_copies)"
if tool fetch "http://127.0.0.1:$fault/short" "$(win "$work/short.bin")"; then fail "fetch accepted a short body"; fi
if tool fetch "http://127.0.0.1:$fault/status404" "$(win "$work/missing.bin")"; then fail "fetch accepted a 404"; fi
if tool fetch "$url" "$(win "$work/no/such/folder/x.bin")"; then fail "fetch into a missing folder succeeded"; fi

[ $failures -eq 0 ] && echo "all stubtool checks passed"
exit $((failures > 0))
