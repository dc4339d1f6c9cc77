#!/usr/bin/env bash
# Rectification's benchmark: bash scripts/bench-rectify.sh
# Not a test: it judges nothing, it prints figures. Builds in Release
# (build-bench/), then
#  a) the table of rectification cases on synthetic photographs: true and
#     estimated aspect ratio, what the estimate rests on, the mean-sides
#     guess, and how far page features land from where they belong with the
#     perspective and the bilinear map (output pixels, worst of a 9 x 9 grid);
#  b) a 4000 x 3000 rectification in process (one thread and all cores)
#     beside OpenCV's warpPerspective on the same homography (python3-opencv,
#     installed by TESSAFORM_BENCH=1 bash scripts/setup.sh);
#  c) the same rectification as whole plug-in-tessaform-rectify calls in
#     headless GIMP beside GIMP's own perspective transform of the
#     photograph by that homography, clipped to the same frame.
# Medians of BENCH_RUNS runs (default 3), all in this run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BENCH_BUILD:-build-bench}
runs=${BENCH_RUNS:-3}

say() { echo "bench-rectify: $*" >&2; }
TESSAFORM_BENCH=1 bash scripts/setup.sh >&2

say "building in $build (Release)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target tessaform rectify_bench >/dev/null
build=$(cd "$build" && pwd)
work=$(mktemp -d /tmp/tessaform-bench-rectify.XXXXXX)
trap 'rm -rf "$work"' EXIT

say "cases and the in-process timing"
"$build/bench/rectify_bench" --reps "$((runs > 3 ? runs : 3))" >"$work/bench.tsv"

echo "## Rectification of synthetic photographs"
echo
echo "Aspect ratio as width / height; errors in percent of the true ratio;"
echo "positions: the worst of a 9 x 9 grid of page points, output pixels."
echo
echo "| page | tilt x, y (deg) | focal (px) | true | estimated | error | from | mean-sides guess | perspective | bilinear | output |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
awk -F'\t' '$1 == "case" && $3 != "refused" {
  printf "| %s | %s, %s | %s | %s | %s | %s %% | %s | %s %% | %s px | %s px | %s x %s |\n",
    $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14 }' "$work/bench.tsv"
echo
echo "## A 4000 x 3000 rectification (in process, 8-bit RGBA)"
echo
echo "| what | interpolation | threads | seconds | ns per output pixel |"
echo "|---|---|---|---|---|"
awk -F'\t' '$1 == "time" { printf "| %s | %s | %s | %s | %s |\n", $2, $3, ($4 == 0 ? "all" : $4), $5, $6 }' \
  "$work/bench.tsv"

quad=$(awk -F'\t' '$1 == "gimp" { print $3, $4, $5, $6, $7, $8, $9, $10 }' "$work/bench.tsv")
frame=$(awk -F'\t' '$1 == "gimp" { print $12, $13, $14, $15, $16, $17, $18, $19 }' "$work/bench.tsv")

say "the same in headless GIMP"
gimp=$(command -v gimp-console-2.10 || command -v gimp-console)
export GIMP2_DIRECTORY=$work/profile
timeout 300 "$gimp" -i -d -f -b '(gimp-quit 0)' >/dev/null 2>&1
bash scripts/install.sh "$build/tessaform" "$GIMP2_DIRECTORY" >/dev/null
BENCH_RESULT=$work/gimp.txt BENCH_RUNS=$runs BENCH_QUAD=$quad BENCH_FRAME=$frame \
  timeout 1200 "$gimp" -i -d -f \
  -b "(begin (load \"$root/bench/common.scm\") (load \"$root/bench/rectify_gimp.scm\"))" \
  -b '(gimp-quit 0)' >"$work/gimp.log" 2>&1 || true
echo
echo "## The same in GIMP (whole calls from Script-Fu, 2 cores)"
echo
echo "| what | interpolation | median seconds | layer |"
echo "|---|---|---|---|"
awk '$1 == "plugin" || $1 == "gimp" {
  key = $1 " " $2; n[key]++; t[key, n[key]] = $4; size[key] = $5 " x " $6 }
  END {
    for (key in n) {
      m = n[key]
      for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++)
        if (t[key, j] + 0 < t[key, i] + 0) { x = t[key, i]; t[key, i] = t[key, j]; t[key, j] = x }
      split(key, k, " ")
      name = k[1] == "plugin" ? "plug-in-tessaform-rectify" : "GIMP perspective transform"
      printf "| %s | %s | %s | %s |\n", name, k[2], t[key, int((m + 1) / 2)], size[key]
    }
  }' "$work/gimp.txt" | sort
grep -q '^done' "$work/gimp.txt" 2>/dev/null || { say "GIMP did not finish:"; tail -n 20 "$work/gimp.log" >&2; }
