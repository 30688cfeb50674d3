#!/usr/bin/env bash
# signed_stub.sh WINE_RUN PREFIX STUB WORKDIR: signs the shipping stub with a throwaway
# certificate, checks that it verifies and that a changed image does not, and that the signed exe
# still finds and unpacks its bundle.
set -euo pipefail
wine_run=$1 prefix=$2 stub=$3 work=$4
rm -rf "$work"; mkdir -p "$work/temp"
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -subj /CN=TandoraTestSigner -days 1 2>/dev/null
osslsigncode sign -certs cert.pem -key key.pem -n "Tandora Setup" -in "$stub" -out signed.exe >/dev/null
# The release step verifies what it signed; a changed image no longer verifies.
osslsigncode verify -CAfile cert.pem -in signed.exe >verify.out 2>&1 || { echo "the signed stub does not verify:"; cat verify.out; exit 1; }
cp signed.exe tampered.exe
# One byte of the appended bundle changed (well inside the image, before the signature block).
offset=$(( $(stat -c %s "$stub") - 4096 ))
byte=$(od -An -tx1 -j "$offset" -N1 tampered.exe | tr -d ' ')
printf "\\x$(printf '%02x' $(( 0x$byte ^ 0xff )))" | dd of=tampered.exe bs=1 seek="$offset" conv=notrunc status=none
cmp -s signed.exe tampered.exe && { echo "the image was not changed"; exit 1; }
if osslsigncode verify -CAfile cert.pem -in tampered.exe >tampered.out 2>&1; then
  echo "a changed image still verified"; exit 1
fi
# The signature block now follows the archive.
osslsigncode extract-signature -in signed.exe -out sig.der >/dev/null
[ "$(stat -c %s signed.exe)" -gt "$(stat -c %s "$stub")" ] || { echo "signing added nothing"; exit 1; }

win_temp="Z:$(echo "$work/temp" | tr / '\\')"
# Wine sets TMP and TEMP from its own registry: set them inside the Windows side. The folder is
# entered first so that no quoted path (which Wine would escape for cmd) is needed.
"$wine_run" "$prefix" cmd /c "set TMP=$win_temp&& set TEMP=$win_temp&& cd /d Z:$(echo "$work" | tr / '\\')&& signed.exe run=1" </dev/null >wine.out 2>&1 || true
log=$(ls "$work"/temp/Tandora_log/installer_log_*.txt 2>/dev/null | head -1)
[ -n "$log" ] || { echo "the signed stub kept no log"; exit 1; }
if grep -q "Load Resource from pe finished." "$log"; then
  echo "signed stub unpacked its bundle"
else
  echo "signed stub did not unpack its bundle:"; tr -d '\r' < "$log"; exit 1
fi
