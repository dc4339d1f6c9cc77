#!/usr/bin/env bash
# Every test: unit tests (plain, then under ASan and UBSan), the end-to-end
# tests in headless GIMP, then the command-line tool against the plug-in.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

echo "== unit tests"
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j"$(nproc)"

echo "== unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/build.sh build-asan -DTESSAFORM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"

echo "== end-to-end tests in GIMP"
bash scripts/e2e.sh build/tessaform

echo "== tessaform-warp against the plug-in"
bash scripts/cli-test.sh build
