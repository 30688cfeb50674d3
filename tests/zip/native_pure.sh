#!/usr/bin/env bash
# native_pure.sh SOURCE_ROOT OUT_DIR: builds the ZIP reader and writer with the host compiler under
# AddressSanitizer and UndefinedBehaviorSanitizer, with their tests over memory, and runs them.
# No Windows headers involved.
set -euo pipefail
src=$1; out=$2
gt=/usr/src/googletest/googletest
mkdir -p "$out"
flags=(-std=c++17 -O0 -g -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
if [ ! -f "$out/gtest-all.o" ]; then
  g++ "${flags[@]}" -isystem "$gt/include" -I"$gt" -c "$gt/src/gtest-all.cc" -o "$out/gtest-all.o"
fi
g++ "${flags[@]}" -Wall -Wextra -Werror -I"$src" -isystem "$gt/include" \
  "$src/tests/zip/ZipReaderTests.cpp" "$src/tests/support/TestMain.cpp" \
  "$src/stubframework/zip/ZipReader.cpp" "$src/stubframework/zip/ZipWriter.cpp" \
  "$out/gtest-all.o" -lz -lpthread -o "$out/zip_native"
"$out/zip_native"
