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
# A test that fails is run once more: Wine's own teardown very rarely crashes a test process
# after its tests have passed. A test that fails twice fails the run.
ctest --output-on-failure --timeout 300 -j "$(nproc)" --repeat until-pass:2 "$@"
rc=$?
wineserver -k
exit $rc
