#!/usr/bin/env bash
# The main job: build the shipping stub and run it once under Wine as a user would start it,
# then show where its log went and the log itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build="$root/build/i686"
"$root/scripts/wine-prefix.sh" "$build/wineprefix"
"$root/scripts/build.sh" i686

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A temporary folder of its own, so this run's log is the only one there.
run_temp="$build/main-run-temp"
rm -rf "$run_temp"; mkdir -p "$run_temp"
win_temp=$(winepath -w "$run_temp" 2>/dev/null)

set +e
# Wine sets TMP and TEMP from its own registry: set them inside the Windows side.
xvfb-run -a wine cmd /c "set TMP=$win_temp&& set TEMP=$win_temp&& $(winepath -w "$build/Tandora22_setup.exe")" </dev/null >"$build/main-run.out" 2>&1
rc=$?
set -e
wineserver -w
echo "Tandora22_setup.exe ended with exit code $rc (low 8 bits as Linux sees them)."
echo "Registry value \"status\": $(wine reg query 'HKCU\SOFTWARE\Zarvo\stubframework\Tandora\22' /v status 2>/dev/null | tr -d '\r' | awk '/status/ {print $3}')"
shopt -s nullglob
logs=("$run_temp"/Tandora_log/installer_log_*.txt)
if [ ${#logs[@]} -eq 0 ]; then
  echo "No log was kept in $run_temp/Tandora_log"; exit 1
fi
for log in "${logs[@]}"; do
  echo "Log kept at $log ($(winepath -w "$log" 2>/dev/null)):"
  tr -d '\r' < "$log"
done
