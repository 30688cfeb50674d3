#!/usr/bin/env bash
# Creates a private Wine prefix once: wine-prefix.sh PREFIX
set -eu
prefix=$(realpath -m "$1")
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.tandora-ready" ]; then
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  touch "$prefix/.tandora-ready"
fi
