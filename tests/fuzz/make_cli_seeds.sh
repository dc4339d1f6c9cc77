#!/usr/bin/env bash
# Writes the CLI fuzz target's seed corpus (tests/fuzz/cli_corpus): a small
# file of each format tessaform-warp reads and the hostile inputs of the
# command-line tests, each behind an argument line. Needs ImageMagick, and
# a built tessaform-warp for the OpenEXR seed:
#   bash tests/fuzz/make_cli_seeds.sh build/tessaform-warp
set -euo pipefail
cd "$(dirname "$0")/../.."
warp=$1
out=tests/fuzz/cli_corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source tests/cli/hostile_inputs.sh
hostile_inputs "$work" 16x12
convert -size 8x6 -seed 2 plasma: "PNG24:$work/small.png"
convert "$work/small.png" "$work/small.jpg"
convert "$work/small.png" "$work/small.tif"
convert "$work/small.png" "$work/small.webp"
convert "$work/small.png" "$work/small.ppm"
convert "$work/small.png" -depth 16 "$work/small16.pgm"
convert "$work/small.png" "$work/small.hdr"
"$warp" "$work/small.png" "$work/small.exr" --to 0,0,8,0,8,6,0,6 --quiet
mkdir -p "$out"
seed() {  # name, file, arguments...
  local name=$1 file=$2
  shift 2
  {
    printf "\\x$(printf %02x $#)"
    for a in "$@"; do printf '%s\0' "$a"; done
    cat "$file"
  } >"$out/seed-$name"
}
for f in good.png small.png small.jpg small.tif small.webp small.ppm small16.pgm small.hdr small.exr \
         half.png cut.png checksum.png truncated.jpg truncated.tif truncated.webp huge.png huge.tif; do
  seed "${f//./-}" "$work/$f" in.png out.jpg --to 1,2,30,0,28,20,0,22 --max-pixels 4000
done
seed args-over "$work/small.png" in out.webp --from 0,0,8,0,8,6,0,6 --to 1e3,-2,3,4,5,6,7,8.5 --over --threads 3
seed args-bad "$work/small.png" in out.png --to 1,2,3 --interpolation sharp --crop --over
seed args-help "$work/small.png" --help --max-pixels 99999999999999999999
ls "$out" | wc -l
du -sh "$out"
