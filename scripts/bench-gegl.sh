#!/usr/bin/env bash
# GEGL operation benchmark: bash scripts/bench-gegl.sh [gegl_bench args]
# Not a test: prints, for a 4000x3000 RGBA source at 8-bit, 16-bit and float,
# the time of tessaform:warp (bilinear, Lanczos, each with and without
# anti-aliasing) and of gegl:transform with the matching perspective matrix
# (linear, NoHalo) in one process, one graph each, and their ratio; then the
# engine alone. E.g. --size 2000x1500 --runs 3 --threads 2.
# Environment: BENCH_BUILD (build folder, default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD:-build-bench}
bash scripts/setup.sh >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target gegl_bench tessaform_gegl_op >/dev/null
# Only the modules the graphs use: the module itself, gegl-common
# (buffer-source) and transformops (gegl:transform).
GEGL_PATH=$(cd "$build" && pwd)/tessaform-op-modules "$build/bench/gegl_bench" "$@"
