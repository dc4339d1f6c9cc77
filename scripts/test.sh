#!/usr/bin/env bash
# Every test: unit tests (plain, then under ASan and UBSan), the fast path's
# tests under TSan, a minute of fuzzing, the end-to-end tests in headless
# GIMP, the command-line tool against the plug-in, the GEGL operation through
# the gegl command, then the dialog and the GEGL tool in GIMP's GUI under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

echo "== unit tests"
bash scripts/build.sh build -DTESSAFORM_WERROR=ON
ctest --test-dir build --output-on-failure -j"$(nproc)"

echo "== unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/build.sh build-asan -DTESSAFORM_SANITIZE=ON -DTESSAFORM_WERROR=ON \
  -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"

echo "== fast-path tests (anti-aliasing too) under ThreadSanitizer"
bash scripts/build.sh build-tsan -DTESSAFORM_TSAN=ON -DTESSAFORM_WERROR=ON
# GEGL's own swap writer thread races with its tile allocation (reported
# inside libgegl, which TSan cannot see into): tiles stay in memory here.
# Render threads that write their own bands meet in GEGL's tiles, behind
# locks TSan cannot see either (tests/tsan.supp).
GEGL_SWAP=RAM \
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp \
  ctest --test-dir build-tsan --output-on-failure -R '^FastPath\.|^AntiAliasing\.FastPath'

echo "== a minute of fuzzing the settings check and the engine"
bash scripts/fuzz.sh 60
echo "== half a minute of fuzzing tessaform-warp's arguments and input checks"
FUZZ_TARGET=cli bash scripts/fuzz.sh 30

echo "== end-to-end tests in GIMP"
bash scripts/e2e.sh build/tessaform

echo "== tessaform-warp against the plug-in"
bash scripts/cli-test.sh build

echo "== the GEGL operation through the gegl command"
bash scripts/op-test.sh build

echo "== the dialog in GIMP's GUI"
bash scripts/gui_test.sh build/tessaform
