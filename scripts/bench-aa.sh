#!/usr/bin/env bash
# Anti-aliasing benchmark: bash scripts/bench-aa.sh [--quick]
# Not a test: prints, for a zone plate and a checkerboard of 3-pixel cells,
# 2000x2000 and 4000x3000, shrunk about 4x, 8x and 32x onto trapezoids, the
# time and the PSNR against the band-limited reference (the patterns' exact
# warp in linear light, low-passed by Lanczos-3 at the destination's rate)
# and against the former box reference, with the zone plate's residual
# aliasing: for the engine in-process on one thread with the flag off and
# on (tessaform-*, with CPU ns per destination pixel), for whole calls in
# one headless GIMP run (gimp-linear, gimp-nohalo, gimp-lohalo: GIMP's
# perspective transform; plugin-*: plug-in-tessaform, bilinear, flag off and
# on) and for ImageMagick's -distort Perspective (EWA) in linear light.
# --quick: 2000x2000 only.
# Environment: AA_BENCH_RUNS (GIMP calls per row, the fastest kept; default
# 1), AA_BENCH_REPS (in-process calls per row, the median kept; default 3),
# AA_BENCH_IMAGEMAGICK=0 leaves ImageMagick out, AA_BENCH_GIMP=0 leaves
# GIMP out, BENCH_BUILD (build folder), BENCH_KEEP=1 keeps the work folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BENCH_BUILD:-build-bench}
bash scripts/setup.sh >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target aa_bench tessaform >/dev/null
build=$(cd "$build" && pwd)

work=$(mktemp -d /tmp/tessaform-bench-aa.XXXXXX)
if [ "${BENCH_KEEP:-0}" = 1 ]; then
  echo "bench-aa: work folder kept: $work" >&2
else
  trap 'rm -rf "$work"' EXIT
fi

if [ "${AA_BENCH_GIMP:-1}" != 0 ] && command -v gimp-console-2.10 >/dev/null; then
  "$build/bench/aa_bench" --write-cases "$work" "$@"
  bash scripts/install.sh "$build/tessaform" "$work/profile" >/dev/null
  echo "bench-aa: GIMP batch" >&2
  # The exit status says nothing: the records do.
  AA_DIR="$work" GIMP2_DIRECTORY="$work/profile" \
    timeout 3600 gimp-console-2.10 -i -d -f \
    -b "(begin (load \"$root/bench/common.scm\") (load \"$root/bench/aa_gimp.scm\"))" -b '(gimp-quit 0)' \
    >"$work/gimp.log" 2>&1 || true
  if ! grep -q '^done' "$work/results.txt" 2>/dev/null; then
    echo "bench-aa: the GIMP batch did not finish; its output:" >&2
    tail -20 "$work/gimp.log" >&2
  fi
fi
"$build/bench/aa_bench" --gimp "$work" "$@"
