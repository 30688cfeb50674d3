#!/usr/bin/env bash
# stubtool_signatures.sh WINE_RUN PREFIX STUBTOOL SERVERS_DIR: keys and signatures made by
# stubtool are accepted by openssl and the other way round; every kind of bad signature is
# refused with its reason; check-server reports a file published without signatures.
set -uo pipefail
wine_run=$1 prefix=$2 stubtool=$3 servers=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/stubtool-sig.XXXXXX")
trap 'rm -rf "$work" "$servers/www/unsigned.bin" "$servers/www/unsigned.bin.meta"' EXIT
nginx=$(awk '$1=="nginx"{print $2}' "$servers/ports")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
win() { echo "Z:${1//\//\\}"; }
tool() { "$wine_run" "$prefix" "$stubtool" "$@" >"$work/out" 2>&1 </dev/null; }
cd "$work"
head -c 200000 /dev/urandom > file.bin

# Keys of either maker, signatures of either maker: every pairing verifies on the other side.
tool keygen "$(win "$work/st.der")" "$(win "$work/st.pub.der")" || fail "keygen: $(cat out)"
openssl ec -inform DER -in st.der -pubout -outform DER -out st.pub.check 2>/dev/null || fail "openssl cannot read keygen's private key"
cmp -s st.pub.der st.pub.check || fail "keygen's public key is not the private key's"
openssl ecparam -name prime256v1 -genkey -noout -out os.pem
openssl ec -in os.pem -pubout -out os.pub.pem 2>/dev/null
openssl ec -in os.pem -pubout -outform DER -out os.pub.der 2>/dev/null
openssl pkcs8 -topk8 -nocrypt -in os.pem -out os.p8.pem
openssl ecparam -name secp384r1 -genkey -noout -out p384.pem
for key in st.der os.pem os.p8.pem; do
  pub=$([ "$key" = st.der ] && echo st.pub.der || echo os.pub.der)
  tool sign "$(win "$work/$key")" "$(win "$work/file.bin")" "$(win "$work/$key.sig")" || fail "sign with $key: $(cat out)"
  openssl dgst -sha256 -verify "$pub" -keyform DER -signature "$key.sig" file.bin >/dev/null ||
    fail "openssl refused stubtool's signature with $key"
done
openssl dgst -sha256 -sign os.pem -out file.bin.sig file.bin
for pub in os.pub.der os.pub.pem; do
  tool verify-signature "$(win "$work/$pub")" "$(win "$work/file.bin")" || fail "openssl's signature refused with $pub: $(cat out)"
done

# Refusals: CASE|PUBLIC|SIGNATURE FILE (made by the set-up line)|REASON
printf 'x' | cat file.bin - > changed.bin
head -c 20 file.bin.sig > cut.sig
openssl dgst -sha256 -sign p384.pem -out p384.sig file.bin
cp file.bin.sig changed.bin.sig
while IFS='|' read -r name pub data sig reason; do
  if tool verify-signature "$(win "$work/$pub")" "$(win "$work/$data")" "$(win "$work/$sig")"; then
    fail "$name: accepted"
  elif ! grep -q "refused: .*: $reason" out; then
    fail "$name: expected '$reason', got: $(cat out)"
  fi
done <<'CASES'
another key|st.pub.der|file.bin|file.bin.sig|bad signature
changed file|os.pub.der|changed.bin|changed.bin.sig|bad signature
signature cut short|os.pub.der|file.bin|cut.sig|bad format
no signature|os.pub.der|file.bin|none.sig|missing
key of another curve|os.pub.der|file.bin|p384.sig|unknown key
CASES

# check-server names a file published without its signatures.
cp "$servers/www/pkg10.bin" "$servers/www/unsigned.bin"
cp "$servers/www/pkg10.bin.meta" "$servers/www/unsigned.bin.meta"
if tool check-server "http://127.0.0.1:$nginx/unsigned.bin"; then fail "check-server accepted an unsigned file"; fi
grep -q '^FAIL: .meta.sig verifies with a publisher key (missing)' out || fail "check-server: $(cat out)"
tool check-server "http://127.0.0.1:$nginx/pkg10.bin" || fail "check-server refused the signed file: $(cat out)"

[ "$failures" -eq 0 ] && echo "all signature checks passed"
exit $((failures > 0))
