#!/usr/bin/env bash
# check_planting_list.sh SOURCE_DIR: fails when the stub's code loads a DLL by name, or creates a
# COM server, that planted_dlls.txt (or, for DLLs, known_dlls.txt) does not account for, and when
# a "code" or "com" entry of the list no longer occurs in the code.
set -eu
root=$1 here=$(dirname "$0")
list="$here/planted_dlls.txt" known="$here/known_dlls.txt"
entries() { grep -v '^[[:space:]]*#' "$1" | awk 'NF' ; }
mapfile -t sources < <(find "$root/StubCore" "$root/stubframework" "$root/downloader" -name '*.cpp' -o -name '*.h' | sort)
fail=0

# DLLs asked for by name: the loaders of our own and the raw system calls.
loaded=$(grep -ohE '(LoadSystemLibrary|SystemFolderPath|LoadLibrary(Ex)?[AW]?|GetModuleHandle(Ex)?[AW]?)\((0, )?L?"[^"]+"' "${sources[@]}" |
         sed -E 's/.*"([^"]+)"/\1/' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$loaded" ] || { echo "no DLL loads found below $root: the pattern is out of date"; exit 1; }
for dll in $loaded; do
  if entries "$known" | tr 'A-Z' 'a-z' | grep -qxF "$dll"; then continue; fi
  if ! entries "$list" | awk '$2 == "code" { print tolower($1) }' | grep -qxF "$dll"; then
    echo "loaded by name but not in planted_dlls.txt: $dll"; fail=1
  fi
done
for dll in $(entries "$list" | awk '$2 == "code" { print tolower($1) }'); do
  printf '%s\n' $loaded | grep -qxF "$dll" || { echo "listed as code but no longer loaded: $dll"; fail=1; }
done

# A name computed at run time cannot be checked: only the loader itself may take one.
computed=$(grep -nE '(LoadSystemLibrary|LoadLibrary(Ex)?[AW]?|GetModuleHandle(Ex)?[AW]?)\(' "${sources[@]}" |
           grep -v '/stubframework/utils/SystemLibrary\.\(h\|cpp\):' |
           grep -vE '(LoadSystemLibrary|LoadLibrary(Ex)?[AW]?|GetModuleHandle(Ex)?[AW]?)\((0, )?(L"|nullptr|NULL)' || true)
if [ -n "$computed" ]; then
  echo "DLL loaded by a computed name (use a literal name listed in planted_dlls.txt):"
  echo "$computed"; fail=1
fi

# COM servers: the class id is the first argument of CoCreateInstance.
classes=$(grep -ohE 'CoCreateInstance\((__uuidof\()?[A-Za-z_][A-Za-z0-9_]*' "${sources[@]}" |
          sed -E 's/.*[(]//' | sort -u)
listed=$(entries "$list" | awk '$2 == "com" || $2 == "known" || $2 == "local" { print $3 }')
for class in $classes; do
  printf '%s\n' $listed | grep -qxF "$class" || { echo "COM class not in planted_dlls.txt: $class"; fail=1; }
done
for class in $listed; do
  printf '%s\n' $classes | grep -qxF "$class" || { echo "listed COM class no longer created: $class"; fail=1; }
done

echo "loaded by name: $(echo $loaded)"
echo "COM classes: $(echo $classes)"
exit $fail
