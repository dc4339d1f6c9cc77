#!/usr/bin/env bash
# Builds a libFuzzer target with clang and runs it from the repository's
# seed corpus for the given seconds (default 60; 0: no limit), in one
# process (libFuzzer's -jobs would fork and log to files in the current
# folder). FUZZ_TARGET picks the target: engine (default: the settings
# check and the engine, seeds in tests/fuzz/corpus) or cli (tessaform-warp's
# arguments and input checks, seeds in tests/fuzz/cli_corpus).
# Further arguments go to libFuzzer, e.g. `scripts/fuzz.sh 0 -runs=10000000`.
# FUZZ_DIR (default build-fuzz) holds the build, the new inputs (corpus/)
# and the findings (findings/). FUZZ_ASAN_EXTRA adds AddressSanitizer
# options; for a long run, quarantine_size_mb=16:malloc_context_size=4 gave
# 1.6 times the executions a second (freed memory is reused sooner,
# allocation stacks are shorter).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
dir=${FUZZ_DIR:-build-fuzz}
case ${FUZZ_TARGET:-engine} in
  engine) target=tessaform_fuzz corpus=corpus ;;
  cli) target=tessaform_cli_fuzz corpus=cli_corpus ;;
  *) echo "fuzz.sh: FUZZ_TARGET is engine or cli" >&2; exit 2 ;;
esac

CXX=clang++ cmake -S . -B "$dir" -DTESSAFORM_FUZZ=ON -DTESSAFORM_TESTS=OFF \
  -DTESSAFORM_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"$(nproc)" --target "$target"

mkdir -p "$dir/$corpus" "$dir/findings"
limit=()
[ "$seconds" -gt 0 ] && limit=(-max_total_time="$seconds")
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1${FUZZ_ASAN_EXTRA:+:$FUZZ_ASAN_EXTRA} \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$dir/tests/fuzz/$target" "${limit[@]}" -print_final_stats=1 \
    -artifact_prefix="$dir/findings/" "$@" \
    "$dir/$corpus" "tests/fuzz/$corpus"
