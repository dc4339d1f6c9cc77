#!/usr/bin/env bash
# Benchmark of tessaform-warp: bash scripts/bench-cli.sh
# Not a test: it prints one table. On the same 4000x3000 PNG, load + warp +
# save per interpolation, against ImageMagick's -distort BilinearReverse and
# Perspective with the default filter and with -filter point; the warp alone
# in process; the start-up of a 2x2 warp. Medians of BENCH_RUNS runs
# (default 3), all in this run: compare only within one table.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD:-build-bench}
runs=${BENCH_RUNS:-3}
say() { echo "bench-cli: $*" >&2; }

bash scripts/setup.sh >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target tessaform-warp warp_bench >/dev/null
warp=$(cd "$build" && pwd)/tessaform-warp
work=$(mktemp -d /tmp/tessaform-bench-cli.XXXXXX)
trap 'rm -rf "$work"' EXIT

convert -size 4000x3000 -seed 5 plasma: "PNG32:$work/in.png"
convert -size 2x2 xc:gray "PNG24:$work/small.png"
to="100,75,3900,250,3750,2925,250,2700"
points="0,0 100,75  4000,0 3900,250  4000,3000 3750,2925  0,3000 250,2700"

median() {  # COMMAND...: seconds, median of $runs runs
  local t=()
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    t+=($(( (t1 - t0) / 1000000 )))
  done
  printf '%s\n' "${t[@]}" | sort -n | awk '{a[NR] = $1} END {printf "%.3f", a[int((NR + 1) / 2)] / 1000}'
}

names=(nearest bilinear cubic lanczos)
# ImageMagick's point-sampling interpolation nearest to each kernel.
im_interpolate=(nearest bilinear catrom catrom)
say "start-up"
startup=$(median "$warp" "$work/small.png" "$work/small-out.png" --to 0,0,2,0,2,2,0,2 --quiet)
say "warp alone, in process"
"$build/bench/warp_bench" 4000 3000 "$runs" >"$work/alone.txt"

load=$(cut -d' ' -f1-3 /proc/loadavg)
printf 'tessaform-warp benchmark, %s, %s cores, 4000x3000 RGBA PNG, medians of %s runs, load %s\n' \
  "$(date -u '+%Y-%m-%d %H:%M UTC')" "$(nproc)" "$runs" "$load"
printf '%-9s %9s %9s | %13s %13s %13s %13s | %7s\n' interp tool warp-only \
  "BilRev dflt" "BilRev point" "Persp dflt" "Persp point" "IM best/tool"
for i in 0 1 2 3; do
  n=${names[$i]}
  say "$n"
  ours=$(median "$warp" "$work/in.png" "$work/out-$n.png" --to "$to" --interpolation "$n" --quiet)
  alone=$(awk -v n="$n" '$1 == n {print $2}' "$work/alone.txt")
  row=()
  for method in BilinearReverse Perspective; do
    row+=("$(median convert "$work/in.png" -distort "$method" "$points" "$work/im.png")")
    row+=("$(median convert "$work/in.png" -filter point -interpolate "${im_interpolate[$i]}" \
      -distort "$method" "$points" "$work/im.png")")
  done
  best=$(printf '%s\n' "${row[@]}" | sort -g | head -1)
  printf '%-9s %8ss %8ss | %12ss %12ss %12ss %12ss | %6.1fx\n' "$n" "$ours" "$alone" \
    "${row[0]}" "${row[1]}" "${row[2]}" "${row[3]}" "$(awk -v a="$best" -v b="$ours" 'BEGIN {print a / b}')"
done
printf 'start-up, 2x2 warp load + warp + save: %ss (target < 0.2 s)\n' "$startup"
printf 'IM point sampling used -interpolate %s for nearest, bilinear, cubic, lanczos\n' "${im_interpolate[*]}"
