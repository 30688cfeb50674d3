#!/usr/bin/env bash
# os_bits_x86.sh PREFIX TEST_EXE OUT: runs the checkOS probe of SystemProbeTest.cpp in a 32-bit
# Wine prefix (created once), where the system architecture is x86, and checks its answers.
set -eu
prefix=$(realpath -m "$1"); exe=$2; out=$(realpath -m "$3")
export WINEARCH=win32 WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")" "$(dirname "$out")"
(
  flock 9
  if [ ! -f "$prefix/.tandora-ready" ]; then
    wineboot -i </dev/null >/dev/null 2>&1
    touch "$prefix/.tandora-ready"
  fi
) 9>"$prefix.lock"
rm -f "$out"
rc=0
TANDORA_PROBE_OUT="Z:${out//\//\\}" wine "$exe" --gtest_filter=MethodsProbe.Report </dev/null >/dev/null 2>&1 || rc=$?
wineserver -k 2>/dev/null || true   # this prefix's own server; nothing else runs in it
[ "$rc" -eq 0 ] || { echo "probe failed with $rc"; exit 1; }
cat "$out"
fail=0
for line in "architecture=x86" "checkOS Windows XP|x86=1" "checkOS Windows XP|x64=0" "checkOS Windows 7|x64=0" \
            "OSBitNotSupport=true"; do
  grep -qxF "$line" <(tr -d '\r' <"$out") || { echo "missing: $line"; fail=1; }
done
exit $fail
