#!/usr/bin/env bash
# Anti-aliasing benchmark: bash scripts/bench-aa.sh [--quick]
# Not a test: prints, for a zone plate and a 1-pixel checkerboard of
# 2000x2000 and 4000x3000 shrunk about 4x and 8x onto trapezoids, the call
# time and the PSNR against a brute-force footprint average, with the flag
# off and on and for ImageMagick's -distort Perspective. --quick: 2000x2000
# only. About 10 minutes on 2 cores, most of it in ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD:-build-bench}
bash scripts/setup.sh >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target aa_bench >/dev/null
"$build/bench/aa_bench" "$@"
