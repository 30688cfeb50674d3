#!/usr/bin/env bash
# native_pure.sh SOURCE_ROOT OUT_DIR: builds the pure rules of the registry and system rows with
# the host compiler under AddressSanitizer and UndefinedBehaviorSanitizer, with their tests, and
# runs them, with the install's text rules. No Windows headers involved.
set -euo pipefail
src=$1; out=$2
gt=/usr/src/googletest/googletest
mkdir -p "$out"
flags=(-std=c++17 -O0 -g -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
if [ ! -f "$out/gtest-all.o" ]; then
  g++ "${flags[@]}" -isystem "$gt/include" -I"$gt" -c "$gt/src/gtest-all.cc" -o "$out/gtest-all.o"
fi
g++ "${flags[@]}" -Wall -Wextra -Werror -I"$src" -isystem "$gt/include" \
  "$src/tests/methods/PureRulesTest.cpp" "$src/tests/support/TestMain.cpp" \
  "$src/stubframework/utils/RegistryText.cpp" "$src/stubframework/core/OsRequirement.cpp" \
  "$src/tests/install/InstallTextTest.cpp" "$src/stubframework/core/InstallText.cpp" \
  "$src/stubframework/utils/CommandLine.cpp" \
  "$out/gtest-all.o" -lpthread -o "$out/methods_rules_native"
"$out/methods_rules_native"
