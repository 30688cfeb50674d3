#!/usr/bin/env bash
# build.sh [i686|x86_64] [extra cmake args...]: configures and builds into build/<arch>.
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
fi
cmake --build "$build" --parallel "$(nproc)"
