#!/usr/bin/env bash
# tool_archives.sh WINE_RUN PREFIX STUBTOOL: archives made now by the tools publishers use, each
# unpacked by `stubtool extract` (the reader of the bundle and the packages) and compared byte for
# byte with what `unzip` makes of it and with the tree it was made from.
set -uo pipefail
wine_run=$1 prefix=$2 stubtool=$3
for tool in zip unzip 7z bsdtar python3; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/tool-archives.XXXXXX")
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8   # the tools store "café.txt" as UTF-8, flagged or with a Unicode path field
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The tree: a name outside ASCII, a folder with a blank, an empty folder and an empty file,
# text that deflates well and noise that does not.
src=$work/src
mkdir -p "$src/sub dir/deeper" "$src/empty folder"
python3 - "$src" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20)
open(os.path.join(root, "café.txt"), "w", encoding="utf-8").write("crème brûlée\n" * 500)
open(os.path.join(root, "sub dir", "noise.bin"), "wb").write(bytes(rng.getrandbits(8) for _ in range(200000)))
open(os.path.join(root, "sub dir", "deeper", "text.txt"), "w").write("the quick brown fox\n" * 30000)
open(os.path.join(root, "empty.txt"), "w").close()
PY
big=$work/stdin.bin   # one stream read from stdin
head -c 300000 /dev/urandom > "$big"; yes stream | head -c 400000 >> "$big"

a=$work/archives
mkdir -p "$a"
# name | what it holds: "tree", "tree-ansi" or "stdin" | command run in the tree, making $A/name.zip.
# Info-ZIP stores names as they are, unflagged: those are read in the ANSI code page (Windows-1252
# in the test prefix), so "café.txt" comes out as "cafÃ©.txt" where unzip keeps the bytes.
cases=(
  "infozip|tree-ansi|zip -qr \$A/infozip.zip ."
  "infozip-stored|tree-ansi|zip -qr -0 \$A/infozip-stored.zip ."
  "infozip-9|tree-ansi|zip -qr -9 \$A/infozip-9.zip ."
  "infozip-stdout|tree-ansi|zip -qr - . | cat > \$A/infozip-stdout.zip"
  "infozip-stdin|stdin|cat \$BIG | zip -q \$A/infozip-stdin.zip -"
  "7zip|tree|7z a -tzip -bd -bso0 \$A/7zip.zip ."
  "7zip-ultra|tree|7z a -tzip -mx9 -bd -bso0 \$A/7zip-ultra.zip ."
  "bsdtar|tree|bsdtar --format zip -cf \$A/bsdtar.zip ."
  "bsdtar-stored|tree|bsdtar --format zip --options zip:compression=store -cf \$A/bsdtar-stored.zip ."
  "python-stored|tree|python3 \$PYZIP \$A/python-stored.zip stored"
  "python-deflated|tree|python3 \$PYZIP \$A/python-deflated.zip deflated"
  "python-zip64|tree|python3 \$PYZIP \$A/python-zip64.zip zip64"
  "python-stream|tree|python3 \$PYZIP - stream | cat > \$A/python-stream.zip"
)
cat > "$work/pyzip.py" <<'PY'
# pyzip.py OUT MODE: the tree in the current folder through Python's zipfile. "zip64" forces the
# ZIP64 fields on every entry; "stream" writes to a pipe (data descriptors, no seeking).
import os, sys, zipfile
out, mode = sys.argv[1], sys.argv[2]
method = zipfile.ZIP_STORED if mode == "stored" else zipfile.ZIP_DEFLATED
target = sys.stdout.buffer if out == "-" else out
with zipfile.ZipFile(target, "w", method) as z:
    for folder, dirs, files in os.walk("."):
        dirs.sort()
        for d in dirs:
            z.write(os.path.join(folder, d)[2:], os.path.join(folder, d)[2:] + "/")
        for f in sorted(files):
            path = os.path.join(folder, f)[2:]
            with open(path, "rb") as data, z.open(path, "w", force_zip64=(mode == "zip64")) as entry:
                entry.write(data.read())
PY
export A=$a BIG=$big PYZIP=$work/pyzip.py

cd "$work" && mkdir -p unzip out
for row in "${cases[@]}"; do
  IFS='|' read -r name content command <<<"$row"
  (cd "$src" && eval "$command") || { fail "$name: the tool failed: $command"; continue; }
  if [ "$content" = stdin ]; then mkdir -p "$work/expected/$name"; cp "$big" "$work/expected/$name/-"
  else mkdir -p "$work/expected"; cp -r "$src" "$work/expected/$name"; fi
  unzip -qq "$a/$name.zip" -d "$work/unzip/$name" || fail "$name: unzip failed"
  if [ "$content" = tree-ansi ]; then
    for tree in expected unzip; do mv "$work/$tree/$name/café.txt" "$work/$tree/$name/cafÃ©.txt"; done
  fi
  # A relative destination with folders that do not exist yet.
  "$wine_run" "$prefix" "$stubtool" extract "archives/$name.zip" "out/$name/deep" >"$work/log" 2>&1 </dev/null ||
    { fail "$name: stubtool extract exited $?: $(tr -d '\r' < "$work/log")"; continue; }
  # diff -r compares names (so a mangled "café.txt" shows), folders and every byte.
  diff -r "$work/unzip/$name" "$work/out/$name/deep" >/dev/null || fail "$name: differs from unzip's result
$(diff -r "$work/unzip/$name" "$work/out/$name/deep" | head -5)"
  diff -r "$work/expected/$name" "$work/out/$name/deep" >/dev/null || fail "$name: differs from the source tree
$(diff -r "$work/expected/$name" "$work/out/$name/deep" | head -5)"
done

# The table above must have met what it is about: flagged UTF-8 names, "./" entries, ZIP64 end
# records and fields, data descriptors. (No tool here writes a Unicode path field: the reader's
# own tests cover it.)
python3 - "$a" <<'PY' || fail "the archives no longer hold the features this test is about"
import os, struct, sys, zipfile
a = sys.argv[1]
def raw(name): return open(os.path.join(a, name + ".zip"), "rb").read()
def infos(name): return zipfile.ZipFile(os.path.join(a, name + ".zip")).infolist()
checks = {
    "UTF-8 flag": any(i.flag_bits & 0x800 for i in infos("python-deflated")),
    "unflagged names": not any(i.flag_bits & 0x800 for i in infos("infozip")),
    "./ entries": any(i.filename.startswith("./") for i in infos("bsdtar")),
    "ZIP64 end record (stream)": b"PK\x06\x06" in raw("infozip-stdin"),
    "ZIP64 local fields": b"\x01\x00\x10\x00" in raw("python-zip64"),
    "data descriptors": all(i.flag_bits & 8 for i in infos("infozip-stdout") if not i.is_dir()),
}
missing = [k for k, v in checks.items() if not v]
print("missing:", missing) if missing else None
sys.exit(1 if missing else 0)
PY

echo "$((${#cases[@]})) archives, $failures failures"
[ "$failures" -eq 0 ]
