#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12. Quick when all is there already.
set -euo pipefail

packages=(
  cmake ninja-build make g++ python3 curl zip unzip p7zip-full libarchive-tools openssl
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  mingw-w64-tools libz-mingw-w64-dev googletest
  wine wine64 wine32:i386 xvfb xauth
  nginx-light msitools wixl osslsigncode squid apache2-utils
  clang libclang-rt-14-dev llvm zlib1g-dev
  chromium
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  # A mirror in the middle of a sync serves an index of the wrong size for a while: try again,
  # then go on with what the other indexes give.
  refreshed=""
  for attempt in 1 2 3; do
    if $sudo apt-get update -qq 2>/tmp/setup-apt-update.err; then refreshed=yes; break; fi
    echo "setup: package index refresh failed (attempt $attempt of 3), retrying" >&2
    sleep $((attempt * 5))
  done
  if [ -z "$refreshed" ]; then
    echo "setup: WARNING: some package indexes stay stale: $(grep -m1 '^E:' /tmp/setup-apt-update.err || tail -n1 /tmp/setup-apt-update.err)" >&2
  fi
  install() { DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"; }
  if ! install "${missing[@]}" >/dev/null 2>/tmp/setup-apt-install.err; then
    # With one architecture's index stale, the newest versions of a multiarch set may not
    # match; the release's own versions always do.
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    echo "setup: installing with the newest versions failed; retrying with the $release release's own versions" >&2
    if ! install -t "$release" "${missing[@]}" >/dev/null 2>/tmp/setup-apt-install.err; then
      left=()
      for p in "${missing[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || left+=("$p")
      done
      echo "setup: could not install ${left[*]}: $(grep -m1 -E '^E:|broken|Depends' /tmp/setup-apt-install.err || tail -n1 /tmp/setup-apt-install.err)" >&2
      exit 1
    fi
  fi
fi

# Node.js drives the pages in Chromium (the development host's runner and tests); playwright-core
# comes from the lock file into the project's own node_modules.
root=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v npm >/dev/null; then
  echo "setup: installing nodejs npm"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi
if [ ! -f "$root/node_modules/playwright-core/package.json" ] || [ "$root/package-lock.json" -nt "$root/node_modules/.package-lock.json" ]; then
  (cd "$root" && npm ci --no-audit --no-fund --loglevel=error)
fi
