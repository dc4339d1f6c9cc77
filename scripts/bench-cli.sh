#!/usr/bin/env bash
# Benchmark of tessaform-warp: bash scripts/bench-cli.sh
# Not a test: it prints one table. On the same 4000x3000 PNG, load + warp +
# save per interpolation, against ImageMagick's -distort BilinearReverse and
# Perspective with the default filter and with -filter point; the warp alone
# in process; the start-up of a 2x2 warp. Then PNG -> PNG bilinear: where
# the tool's time goes (--times), and the three-line OpenCV script
# (cv2.imread, cv2.warpPerspective, cv2.imwrite at PNG compression 1) as a
# whole process. Then the hostile inputs of scripts/cli-test.sh: status,
# time and peak memory of each, capped at 30 s and 8 GB of address space.
# BENCH_BEFORE=path/to/an/older/tessaform-warp adds its figures beside;
# BENCH_IMAGEMAGICK=0 leaves out the ImageMagick columns (minutes on busy
# cores).
# Medians of BENCH_RUNS runs (default 3), all in this run: compare only
# within one table.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD:-build-bench}
runs=${BENCH_RUNS:-3}
say() { echo "bench-cli: $*" >&2; }

# OpenCV for the comparison only (the tests never need it), for Debian's
# Python, which the package installs for.
TESSAFORM_BENCH=1 bash scripts/setup.sh >&2
before=${BENCH_BEFORE:+$(realpath "$BENCH_BEFORE")}
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
  if [ "${BENCH_IMAGEMAGICK:-1}" = 0 ]; then
    printf '%-9s %8ss %8ss | (ImageMagick left out: BENCH_IMAGEMAGICK=0)\n' "$n" "$ours" "$alone"
    continue
  fi
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

# PNG -> PNG, bilinear: the tool's stages, the OpenCV script, and the older
# tool when given.
say "PNG -> PNG, bilinear, stages"
for _ in $(seq "$runs"); do
  "$warp" "$work/in.png" "$work/out.png" --to "$to" --quiet --times 2>&1 | tail -1
done >"$work/times.txt"
cat >"$work/opencv.py" <<'EOF'
import sys, cv2, numpy as np
image = cv2.imread(sys.argv[1], cv2.IMREAD_UNCHANGED)
m = cv2.getPerspectiveTransform(np.float32([[0, 0], [4000, 0], [4000, 3000], [0, 3000]]),
                                np.float32([[100, 75], [3900, 250], [3750, 2925], [250, 2700]]))
cv2.imwrite(sys.argv[2], cv2.warpPerspective(image, m, (4000, 3000), flags=cv2.INTER_LINEAR),
            [cv2.IMWRITE_PNG_COMPRESSION, 1])
EOF
say "PNG -> PNG, bilinear, OpenCV"
opencv=$(median /usr/bin/python3 "$work/opencv.py" "$work/in.png" "$work/cv.png")
ours=$(median "$warp" "$work/in.png" "$work/out.png" --to "$to" --quiet)
older=
[ -n "$before" ] && older=$(median "$before" "$work/in.png" "$work/old.png" --to "$to" --quiet)
echo
echo "PNG -> PNG, 4000x3000 RGBA, bilinear, whole process (median of $runs):"
printf '  tessaform-warp %ss (target <= 1.2 s), OpenCV script %ss: %.2fx OpenCV%s\n' "$ours" "$opencv" \
  "$(awk -v a="$ours" -v b="$opencv" 'BEGIN {print a / b}')" "${older:+; older tool ${older}s}"
printf '  file sizes: tessaform-warp %s bytes, OpenCV %s bytes%s\n' "$(stat -c %s "$work/out.png")" \
  "$(stat -c %s "$work/cv.png")" "${older:+, older tool $(stat -c %s "$work/old.png") bytes}"
echo "  where the time goes (--times, each run):"
sed 's/^tessaform-warp: /    /' "$work/times.txt"

# Hostile inputs: status, seconds and peak resident memory per case.
say "hostile inputs"
source tests/cli/hostile_inputs.sh
hostile_inputs "$work"
hostile_exr "$warp" "$work"
convert -size 48x36 -seed 7 plasma: "PNG24:$work/small.png"
case_run() {  # tool, case: "status seconds peak-KB"
  local tool=$1 out=$work/case-out
  local args=("$work/$2" "$out.png" --to 10,0,390,20,380,300,0,280)
  case $2 in
    wide.jpg) args=("$work/small.png" "$out.jpg" --crop --to 0,0,70000,0,70000,2,0,2) ;;
    vast.exr) args=("$work/good.exr" "$out.exr" --crop --to 0,0,32760,0,32760,32760,0,32760) ;;
  esac
  local said
  said=$( (ulimit -v 8388608; /usr/bin/time -f 'RESULT %x %e %M' timeout -k 5 30 "$tool" "${args[@]}" --quiet) 2>&1 >/dev/null |
    grep '^RESULT' | tail -1)
  rm -f "$out".*
  # time(1) gives the child's exit status; 124: still running at 30 s.
  awk '{printf "%s %s %s", $2, $3, $4}' <<<"${said:-RESULT ? ? ?}"
}
echo
echo "Hostile inputs (status, seconds, peak resident MB; capped at 30 s and 8 GB of address space):"
printf '  %-16s %-28s %s\n' case "this tool" "${before:+older tool}"
for c in half.png cut.png checksum.png truncated.jpg truncated.tif truncated.webp huge.png huge.tif wide.jpg vast.exr; do
  row=()
  for tool in "$warp" ${before:+"$before"}; do
    read -r st sec kb <<<"$(case_run "$tool" "$c")"
    row+=("$(printf 'status %-3s %6ss %6s MB' "$st" "$sec" "$(awk -v k="$kb" 'BEGIN {printf "%.0f", k / 1024}')")")
  done
  printf '  %-16s %-28s %s\n' "$c" "${row[0]}" "${row[1]:-}"
done
