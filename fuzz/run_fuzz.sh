#!/usr/bin/env bash
# run_fuzz.sh SOURCE_ROOT OUT_DIR TARGET [LIBFUZZER_OPTIONS...]: builds one fuzz target natively
# with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) into OUT_DIR and runs it
# on its committed seed corpus. New inputs go to OUT_DIR, never into the committed corpus; a
# crash, leak or sanitizer report leaves its input in OUT_DIR and fails the run.
set -euo pipefail
src=$(cd "$1" && pwd); out=$(mkdir -p "$2" && cd "$2" && pwd); target=$3; shift 3

# Pure sources each target needs; none of them includes <windows.h>.
case "$target" in
  zip_reader)      sources=(stubframework/zip/ZipReader.cpp); libs=(-lz) ;;
  meta_format)     sources=(downloader/MetaFormat.cpp); libs=() ;;
  content_range)   sources=(downloader/MetaFormat.cpp); libs=() ;;
  msi_progress)    sources=(stubframework/core/InstallText.cpp stubframework/utils/CommandLine.cpp); libs=() ;;
  service_answers) sources=(stubframework/core/ReportDocuments.cpp); libs=() ;;
  command_line)    sources=(stubframework/utils/CommandLine.cpp); libs=() ;;
  signature_format) sources=(stubframework/utils/SignatureFormat.cpp); libs=() ;;
  release_manifest) sources=(stubframework/core/ReleaseManifest.cpp stubframework/utils/SignatureFormat.cpp); libs=() ;;
  *) echo "run_fuzz.sh: unknown target $target" >&2; exit 2 ;;
esac

mkdir -p "$out/$target.new"
exe="$out/fuzz_$target"
flags=(-std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -fno-omit-frame-pointer -Wall -Wextra -Werror -I"$src")
inputs=("$src/fuzz/$target.cpp" "${sources[@]/#/$src/}")
# Rebuild only when a source changed.
if [ ! -x "$exe" ] || [ -n "$(find "${inputs[@]}" "$src/fuzz/FuzzInput.h" -newer "$exe" 2>/dev/null)" ]; then
  clang++ "${flags[@]}" "${inputs[@]}" "${libs[@]}" -o "$exe"
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# libFuzzer runs from OUT_DIR so that -jobs logs and artifacts stay in the build folder.
cd "$out"
exec "$exe" -artifact_prefix="$out/$target-" -rss_limit_mb=2048 "$@" "$out/$target.new" "$src/fuzz/corpus/$target"
