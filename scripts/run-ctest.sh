#!/usr/bin/env bash
# run-ctest.sh BUILD [ctest args...]: runs CTest with one persistent Wine server for the run.
set -uo pipefail
build=$(realpath "$1"); shift
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -p
wine cmd /c exit 0 </dev/null >/dev/null 2>&1     # start the prefix's services once, off ctest's pipes
# A long-lived desktop user, also off ctest's pipes (see tests/support/DesktopKeeper.cpp).
keeper="$build/tests/support/desktop_keeper.exe"
if [ -f "$keeper" ]; then
  (setsid wine "$keeper" </dev/null >/dev/null 2>&1 &)
  sleep 2     # its desktop is up before the first test needs one
fi
cd "$build"
ctest --output-on-failure --timeout 300 -j "$(nproc)" "$@"
rc=$?
# Wine's own teardown very rarely crashes a test process after its tests have passed, so the
# tests that failed run once more, said loudly; a test that fails twice fails the run.
failed="$build/Testing/Temporary/LastTestsFailed.log"
if [ "$rc" -ne 0 ] && [ -s "$failed" ]; then
  echo "================================================================================"
  echo "RERUN: these tests failed and run once more (a second failure fails the run):"
  sed 's/^[0-9]*:/  /' "$failed"
  echo "================================================================================"
  ctest --output-on-failure --timeout 300 -j "$(nproc)" --rerun-failed
  rc=$?
  if [ "$rc" -eq 0 ]; then
    echo "RERUN: all passed the second time; the list above failed once in this run."
  else
    echo "RERUN: failed twice:"; sed 's/^[0-9]*:/  /' "$failed"
  fi
fi
wineserver -k
exit $rc
