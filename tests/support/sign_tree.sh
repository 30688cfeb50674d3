#!/usr/bin/env bash
# sign_tree.sh KEY PATH...: publishes the signature of every file below each PATH (or of PATH
# itself) as FILE.sig, made with openssl and the private KEY, as a publisher would. A ".meta"
# gets its ".meta.sig" the same way. Existing ".sig" files are signatures, not content.
set -euo pipefail
key=$1; shift
[ -f "$key" ] || { echo "sign_tree.sh: no signing key at '$key'"; exit 1; }
find "$@" -type f ! -name '*.sig' -print0 |
  while IFS= read -r -d '' file; do
    openssl dgst -sha256 -sign "$key" -out "$file.sig" "$file"
  done
