#!/usr/bin/env bash
# The main job: a whole installation of the sample product through the real pages. Sets up the
# machine, builds, then runs tools/devhost/install_run.js: the sample product published on a
# local nginx, the installer web-service double over HTTPS, the stub's pages in headless Chromium
# clicked through as a user would, Windows Installer under Wine. Prints the final status, the
# exit code, the installed files, and where the log and the screenshots are.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build="$root/build/i686"
"$root/scripts/wine-prefix.sh" "$build/wineprefix"
"$root/scripts/build.sh" i686

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
set +e
xvfb-run -a --server-args="-screen 0 1280x1024x24" node "$root/tools/devhost/install_run.js" --build "$build" "$@"
rc=$?
set -e
wineserver -w
exit $rc
