#!/usr/bin/env bash
# check_imports.sh OBJDUMP EXE: fails when EXE imports a DLL outside the known system set.
set -eu
objdump=$1 exe=$2
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comdlg32|imm32|msvcrt|rpcrt4|setupapi|ws2_32|psapi|normaliz|nsi|difxapi|wldap32|sechost|clbcatq)\.dll$'
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || { echo "no import table found in $exe"; exit 1; }
bad=$(printf '%s\n' "$dlls" | grep -Ev "$allowed" || true)
echo "imports: $(echo $dlls)"
if [ -n "$bad" ]; then
  echo "imports outside the system set: $bad"
  exit 1
fi
