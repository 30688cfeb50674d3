#!/usr/bin/env bash
# stubtool_publish.sh WINE_RUN PREFIX STUBTOOL SIGNING_KEY SOURCE_ROOT: "stubtool publish" on the
# sample product. A list that names a missing file is refused and the folder stays as it was; the
# published release is what the README's openssl recipe writes (signatures aside, which openssl
# verifies); served by nginx with the README's server block, every URL passes "check-server".
set -uo pipefail
wine_run=$1 prefix=$2 stubtool=$3 key=$4 src=$5
work=$(mktemp -d "${TMPDIR:-/tmp}/stubtool-publish.XXXXXX")
cleanup() {
  [ -f "$work/nginx/nginx.pid" ] && nginx -p "$work/nginx/" -c "$work/nginx/nginx.conf" -s stop 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
win() { echo "Z:${1//\//\\}"; }
tool() { "$wine_run" "$prefix" "$stubtool" "$@" >"$work/out" 2>&1 </dev/null; }
snapshot() { (cd "$work/www" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
# The README's fenced block after the marker line "<!-- recipe: NAME -->".
recipe() { awk -v m="<!-- recipe: $1 -->" '$0==m{on=1;next} on&&/^```/{if(in_block){exit}in_block=1;next} in_block{print}' "$src/README.md"; }

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
base="http://127.0.0.1:$port"
node "$src/tests/support/sample/publish_sample.js" "$work/www" "$base" >/dev/null || { echo "FAIL: sample"; exit 1; }
folder="$work/www/tandora/22"
list="$folder/installerlistTDR22.js"
x86="$folder/1001/32Bit/Tandora22_x86.msi"

# A list naming a file the folder lacks: refused with the URL and the file, nothing written.
mv "$x86" "$work/x86.msi"
before=$(snapshot)
if tool publish --key "$(win "$key")" "$(win "$folder")"; then fail "published without $x86"; fi
grep -q "publish refused: the list names $base/tandora/22/1001/32Bit/Tandora22_x86.msi, but .* (Tandora22_x86.msi is missing); nothing was written" "$work/out" ||
  fail "refusal: $(cat "$work/out")"
[ "$before" = "$(snapshot)" ] || fail "a refused publish changed the folder"
mv "$work/x86.msi" "$x86"

# Published twice: the second release differs only in its serial.
tool publish --key "$(win "$key")" "$(win "$folder")" || fail "publish: $(cat "$work/out")"
grep -q '^release 1 of Tandora: 2 files' "$work/out" || fail "first release: $(cat "$work/out")"
cp "$list" "$work/release1.js"
tool publish --key "$(win "$key")" "$(win "$folder")" || fail "publish again: $(cat "$work/out")"
[ "$(diff "$work/release1.js" "$list" | grep '^[<>]')" = "$(printf '< serial 1\n> serial 2')" ] ||
  fail "the second release differs in more than its serial: $(diff "$work/release1.js" "$list")"
ls "$work/www" -R | grep -q publishing && fail "temporary files were left"

# The README's openssl recipe writes the same .meta files and manifest lines; openssl verifies
# every signature.
eval "$(recipe openssl-publish)"
openssl ec -in "$key" -pubout -out "$work/pub.pem" 2>/dev/null
for file in "$list" "$folder"/1001/*/*.msi; do
  for signed in "$file" "$file.meta"; do
    openssl dgst -sha256 -verify "$work/pub.pem" -signature "$signed.sig" "$signed" >/dev/null || fail "openssl refused $signed.sig"
  done
  cp "$file" "$work/copy"
  meta "$work/copy"
  cmp -s "$work/copy.meta" "$file.meta" || fail "$file.meta differs from the recipe's"
  [ "$file" = "$list" ] && continue
  url="$base/tandora/22/${file#"$folder/"}"
  for pair in "$file $url" "$file.meta $url.meta"; do
    set -- $pair
    grep -qxF "$(line "$1" "$2")" "$list" || fail "the manifest has no line $(line "$1" "$2")"
    grep -qF "\"sha256\": \"$(openssl dgst -sha256 -r "$file" | cut -d' ' -f1)\"" "$list" || fail "no entry holds the SHA-256 of $file"
  done
done

# Served by nginx with the README's server block: the list and every file pass check-server.
mkdir -p "$work/nginx/logs" "$work/nginx/temp"
block=$(recipe nginx-server | sed -e "s|listen 80;|listen 127.0.0.1:$port;|" -e "s|root /srv/tandora;|root $work/www;|")
# Workers as the invoking user, who can read the scratch folder (the directive counts for root only).
user_line=""
[ "$(id -u)" -ne 0 ] || user_line="user $(id -un) $(id -gn);"
cat > "$work/nginx/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid nginx.pid;
error_log logs/error.log;
events { worker_connections 64; }
http {
  client_body_temp_path temp/body;
  proxy_temp_path temp/proxy;
  fastcgi_temp_path temp/fastcgi;
  uwsgi_temp_path temp/uwsgi;
  scgi_temp_path temp/scgi;
  access_log logs/access.log;
$block
}
CONF
nginx -p "$work/nginx/" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" || { echo "FAIL: nginx did not start"; exit 1; }
for _ in $(seq 50); do curl -s -o /dev/null "$base/tandora/22/installerlistTDR22.js" && break; sleep 0.1; done
for path in installerlistTDR22.js 1001/64Bit/Tandora22_x64.msi 1001/32Bit/Tandora22_x86.msi; do
  tool check-server "--key=$(win "$work/pub.pem")" "$base/tandora/22/$path" || fail "check-server $path: $(cat "$work/out")"
done
tool check-server "--key=$(win "$work/pub.pem")" "$base/tandora/22/installerlistTDR22.js"
grep -q '^ok:   release manifest: product Tandora, serial 2, 4 files' "$work/out" || fail "check-server read no manifest: $(cat "$work/out")"
[ "$(grep -c '^ok:   .*\.meta is the one the release manifest lists' "$work/out")" = 2 ] || fail "check-server compared no .meta: $(cat "$work/out")"

# Mirrors: given ones are written, the next release keeps them, a bad one refuses the release.
mirror="mirror $base/tandora/ https://mirror.example.net/t/"
tool publish --key "$(win "$key")" --mirror "$base/tandora/=https://mirror.example.net/t/" "$(win "$folder")" ||
  fail "publish with a mirror: $(cat "$work/out")"
tool publish --key "$(win "$key")" "$(win "$folder")" || fail "publish after a mirror: $(cat "$work/out")"
grep -qxF "$mirror" "$list" || fail "the next release lost the mirror line: $(head -5 "$list")"
before=$(snapshot)
if tool publish --key "$(win "$key")" --mirror "$base/tandora=https://m.example.net/" "$(win "$folder")"; then
  fail "published a mirror whose base ends no path"
fi
grep -q "a mirror's addresses end with" "$work/out" || fail "mirror refusal: $(cat "$work/out")"
[ "$before" = "$(snapshot)" ] || fail "a refused mirror changed the folder"

# A move that fails half-way (here the list's signature cannot be set aside) puts back what had
# moved: the folder is as it was.
before=$(snapshot)
mkdir -p "$list.sig.before-publish/blocker"
if tool publish --key "$(win "$key")" "$(win "$folder")"; then fail "published although a move failed"; fi
grep -q "the folder is as it was" "$work/out" || fail "failed move: $(cat "$work/out")"
rm -rf "$list.sig.before-publish"
[ "$before" = "$(snapshot)" ] || fail "a failed move changed the folder"

[ "$failures" -eq 0 ] && echo "the published release checks out"
exit $((failures > 0))
