#!/usr/bin/env bash
# native_sanitized.sh SOURCE_ROOT OUT_DIR NAME [-lLIB...] SOURCE...: builds pure sources (paths
# relative to SOURCE_ROOT) and their GoogleTest tests with the host compiler under
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs them. No Windows headers involved.
set -euo pipefail
src=$1; out=$2; name=$3; shift 3
libs=(); sources=()
for arg in "$@"; do
  case $arg in
    -l*) libs+=("$arg") ;;
    *) sources+=("$src/$arg") ;;
  esac
done
gt=/usr/src/googletest/googletest
mkdir -p "$out"
flags=(-std=c++17 -O0 -g -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
if [ ! -f "$out/gtest-all.o" ]; then
  g++ "${flags[@]}" -isystem "$gt/include" -I"$gt" -c "$gt/src/gtest-all.cc" -o "$out/gtest-all.o"
fi
g++ "${flags[@]}" -Wall -Wextra -Werror -I"$src" -isystem "$gt/include" \
  "${sources[@]}" "$src/tests/support/TestMain.cpp" "$out/gtest-all.o" "${libs[@]}" -lpthread -o "$out/$name"
"$out/$name"
