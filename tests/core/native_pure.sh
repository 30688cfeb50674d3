#!/usr/bin/env bash
# native_pure.sh SOURCE_ROOT OUT_DIR: builds the pure report rules (documents, answers, status
# texts, languages, machine-identity layout) with the host compiler under AddressSanitizer and
# UndefinedBehaviorSanitizer, with their tests, and runs them. No Windows headers involved.
set -euo pipefail
src=$1; out=$2
gt=/usr/src/googletest/googletest
mkdir -p "$out"
flags=(-std=c++17 -O0 -g -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
if [ ! -f "$out/gtest-all.o" ]; then
  g++ "${flags[@]}" -isystem "$gt/include" -I"$gt" -c "$gt/src/gtest-all.cc" -o "$out/gtest-all.o"
fi
g++ "${flags[@]}" -Wall -Wextra -Werror -I"$src" -isystem "$gt/include" \
  "$src/tests/core/ReportDocumentsTest.cpp" "$src/tests/support/TestMain.cpp" \
  "$src/stubframework/core/ReportDocuments.cpp" "$src/stubframework/core/LanguageTable.cpp" \
  "$src/stubframework/core/StatusCodes.cpp" "$src/stubframework/utils/MachineIdFormat.cpp" \
  "$out/gtest-all.o" -lpthread -o "$out/report_rules_native"
"$out/report_rules_native"
