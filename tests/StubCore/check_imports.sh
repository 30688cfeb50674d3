#!/usr/bin/env bash
# check_imports.sh OBJDUMP EXE: fails when EXE imports a DLL outside the known system set.
set -eu
objdump=$1 exe=$2
known=$(grep -v '^[[:space:]]*#' "$(dirname "$0")/known_dlls.txt" | awk 'NF' | tr 'A-Z' 'a-z')
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || { echo "no import table found in $exe"; exit 1; }
bad=$(printf '%s\n' "$dlls" | grep -vxF "$known" || true)
echo "imports: $(echo $dlls)"
if [ -n "$bad" ]; then
  echo "imports outside the system set: $bad"
  exit 1
fi
