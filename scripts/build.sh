#!/usr/bin/env bash
# build.sh [i686|x86_64] [extra cmake args...]: configures and builds into build/<arch>.
# Options given to an already-configured build are applied to it (the build is configured again
# with them), never silently dropped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-i686}; shift || true
build="$root/build/$arch"
if [ ! -f "$build/build.ninja" ]; then
  # Without a publisher key of its own the build signs with a development key pair made here
  # (never committed), so the tests, the demo and the benchmarks all run signed.
  keys=()
  if ! printf '%s\n' "$@" | grep -q '^-DTANDORA_PUBLIC_KEYS='; then
    devkey="$build/devkey"
    if [ ! -f "$devkey/publisher.pub.der" ]; then
      mkdir -p "$devkey"
      (umask 077; openssl ecparam -name prime256v1 -genkey -noout -out "$devkey/publisher.pem")
      openssl ec -in "$devkey/publisher.pem" -pubout -outform DER -out "$devkey/publisher.pub.der" 2>/dev/null
    fi
    keys=(-DTANDORA_PUBLIC_KEYS="$devkey/publisher.pub.der" -DTANDORA_SIGNING_KEY="$devkey/publisher.pem")
  fi
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" "${keys[@]}" "$@"
elif [ $# -gt 0 ]; then
  echo "build.sh: applying $* to the configured build in $build"
  if printf '%s\n' "$@" | grep -q '^-DTANDORA_PUBLIC_KEYS=' && ! printf '%s\n' "$@" | grep -q '^-DTANDORA_SIGNING_KEY='; then
    echo "build.sh: note: the tests still sign with $(grep -m1 '^TANDORA_SIGNING_KEY' "$build/CMakeCache.txt" | cut -d= -f2-);" \
         "give -DTANDORA_SIGNING_KEY=YOUR_PRIVATE_KEY (or an empty value) to match the new public keys"
  fi
  cmake -S "$root" -B "$build" "$@"
fi
cmake --build "$build" --parallel "$(nproc)"
# Say which keys the stub trusts, so a build never trusts other keys than intended unnoticed.
grep -m1 '^TANDORA_PUBLIC_KEYS' "$build/CMakeCache.txt" | sed 's/^[^=]*=/build.sh: the stub trusts publisher key(s): /' || true
