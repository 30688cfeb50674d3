#!/usr/bin/env bash
# build.sh [i686|x86_64] [extra cmake args...]: configures and builds into build/<arch>.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-i686}; shift || true
build="$root/build/$arch"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" "$@"
fi
cmake --build "$build" --parallel "$(nproc)"
