#!/usr/bin/env bash
# Benchmark: bash scripts/bench.sh
# Not a test, and not run by the CI: it judges nothing, it prints one table.
# Builds the plug-in in Release mode (in build-bench/), then measures:
#  a) call times of plug-in-tessaform per interpolation on a 4000x3000 RGBA
#     and RGB image, beside GIMP's own perspective transform, for the fast
#     build (after) and the one-pixel-at-a-time build (before);
#  b) the call time of a 2x2 warp (the fixed start-up cost);
#  c) the transfer floor (a plug-in that only reads the source box and
#     writes the layer) against nearest, and the floor's own steps;
#  d) the render loop in-process at about 1, 4, 12 and 48 megapixels, on
#     all cores and (up to 12) on one thread;
#  e) peak memory of the plug-in process;
#  f) ImageMagick's -distort BilinearReverse on the same image;
#  g) CPU time of the plug-in process against its lifetime.
# Figures are medians of BENCH_RUNS runs (default 3), all measured in this
# run: timings on shared machines drift, so compare only within one table.
# About 6 to 9 minutes on 2 cores, a fifth of it in GIMP's own NoHalo.
#
# Environment: BENCH_RUNS (runs per case), BENCH_SIZES (render loop sizes
# in megapixels, default 1,4,12,48), BENCH_BUILD (build folder), BENCH_KEEP=1
# keeps the work folder with the raw records. A quick look:
#   BENCH_RUNS=1 BENCH_SIZES=1,4 bash scripts/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BENCH_BUILD:-build-bench}
runs=${BENCH_RUNS:-3}
sizes=${BENCH_SIZES:-1,4,12,48}
start=$(date +%s)
load_start=$(cut -d' ' -f1-3 /proc/loadavg)

say() { echo "bench: $*" >&2; }

TESSAFORM_BENCH=1 bash scripts/setup.sh >&2

say "building in $build (Release)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target tessaform tessaform_straightforward \
  tessaform_floor peak_rss >/dev/null
cmake --build "$build" -j2 --target render_bench >/dev/null ||
  say "no render benchmark (it needs gtest's library)"
build=$(cd "$build" && pwd)

work=$(mktemp -d /tmp/tessaform-bench.XXXXXX)
if [ "${BENCH_KEEP:-0}" = 1 ]; then
  say "raw records kept in $work"
else
  trap 'rm -rf "$work"' EXIT
fi

# Each plug-in runs behind peak_rss, which appends the process's peak memory
# to a file; GIMP's pipes to the plug-in are inherited through it.
wrapper() {  # BINARY RSS_FILE OUT
  printf '#!/bin/sh\nexec "%s" "%s" "%s" "$@"\n' \
    "$build/bench/peak_rss" "$2" "$1" >"$3"
  chmod 755 "$3"
}
wrapper "$build/tessaform" "$work/rss_after.txt" "$work/after.sh"
wrapper "$build/tessaform_straightforward" "$work/rss_before.txt" "$work/before.sh"
wrapper "$build/bench/tessaform_floor" "$work/rss_after.txt" "$work/floor.sh"

# Both builds register the same procedure: one private profile each.
say "creating two GIMP profiles"
bash scripts/install.sh "$work/after.sh" "$work/after/profile" >/dev/null &
p1=$!
bash scripts/install.sh "$work/before.sh" "$work/before/profile" >/dev/null &
p2=$!
wait $p1
wait $p2
mkdir -p "$work/after/profile/plug-ins/tessaform-floor"
install -m 755 "$work/floor.sh" \
  "$work/after/profile/plug-ins/tessaform-floor/tessaform-floor"

gimp_batch() {  # NAME MODE [PNG]
  say "GIMP batch: $1 build ($runs runs of every case)"
  BENCH_RESULT="$work/$1.txt" BENCH_RUNS=$runs BENCH_MODE=$2 BENCH_PNG=${3:-} \
    BENCH_FLOOR_TRACE="$work/floor_trace.txt" \
    GIMP2_DIRECTORY="$work/$1/profile" \
    timeout 3600 gimp-console-2.10 -i -d -f \
    -b "(begin (load \"$root/bench/common.scm\") (load \"$root/bench/bench.scm\"))" -b '(gimp-quit 0)' \
    >"$work/$1.log" 2>&1 || true
  if ! grep -q '^done' "$work/$1.txt" 2>/dev/null; then
    say "the $1 batch did not finish; its output:"
    tail -20 "$work/$1.log" >&2
  fi
}
gimp_batch after full "$work/in.png"
gimp_batch before plugin

: >"$work/im.txt"
if [ -x /usr/bin/convert ] && [ -f "$work/in.png" ]; then
  say "ImageMagick: -distort BilinearReverse"
  # MIFF holds the pixels nearly raw, so the timing is mostly the distortion.
  /usr/bin/convert "$work/in.png" "$work/in.miff"
  points="0,0 100,75  4000,0 3900,250  4000,3000 3750,2925  0,3000 250,2700"
  for _ in $(seq "$runs"); do
    t0=$(date +%s.%N)
    /usr/bin/convert "$work/in.miff" -distort BilinearReverse "$points" "$work/out.miff"
    t1=$(date +%s.%N)
    echo "distort $(echo "$t1 - $t0" | awk '{print $1 - $3}')" >>"$work/im.txt"
    t0=$(date +%s.%N)
    /usr/bin/convert "$work/in.miff" "$work/copy.miff"
    t1=$(date +%s.%N)
    echo "copy $(echo "$t1 - $t0" | awk '{print $1 - $3}')" >>"$work/im.txt"
  done
fi

: >"$work/render.tsv"
if [ -x "$build/bench/render_bench" ]; then
  say "render loop in-process at $sizes megapixels"
  "$build/bench/render_bench" --sizes "$sizes" --reps "$runs" >"$work/render.tsv"
fi

touch "$work/after.txt" "$work/before.txt" "$work/rss_after.txt" \
  "$work/rss_before.txt" "$work/floor_trace.txt"
cores=$(nproc)
title="Tessaform benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $cores cores, \
$(gimp-console-2.10 --version 2>/dev/null | head -1 | sed 's/.*version //;s/^/GIMP /'); \
4000x3000 source, medians of $runs runs; before = one pixel at a time on one thread, \
after = bulk transfers on all cores"
load="at start $load_start, at end $(cut -d' ' -f1-3 /proc/loadavg); above $cores, other work shared the cores"
awk -F'[ \t]+' -v runs="$runs" -v cores="$cores" -v title="$title" -v load="$load" -f bench/report.awk \
  src=after "$work/after.txt" src=before "$work/before.txt" \
  src=rss_after "$work/rss_after.txt" src=rss_before "$work/rss_before.txt" \
  src=im "$work/im.txt" src=floor_trace "$work/floor_trace.txt" \
  src=render "$work/render.tsv"
say "done in $(( $(date +%s) - start )) s"
