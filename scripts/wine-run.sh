#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is created on first use (without Mono and Gecko) so the build and tests never wait on dialogs.
set -eu
prefix=$(realpath -m "$1"); shift
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$prefix/.tandora-ready" ]; then
  "$(dirname "$0")/wine-prefix.sh" "$prefix"
fi
exec wine "$@"
