#!/usr/bin/env bash
# Redraws docs/antialiasing.png: an 800 x 800 zone plate shrunk about 4x
# onto a trapezoid by tessaform-warp, bilinear, with the flag off (left)
# and on (right), each shown twice as large with square pixels.
# bash scripts/aa-picture.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
build=${1:-build}
bash scripts/build.sh "$build" -DTESSAFORM_TESTS=OFF -DTESSAFORM_WERROR=OFF >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Half a cycle per pixel at 400 pixels from the centre, as the benchmark's.
convert -size 800x800 xc: -colorspace Gray \
  -fx '0.5 + 0.5 * cos(pi * ((i + 0.5 - w / 2)^2 + (j + 0.5 - h / 2)^2) / 800)' \
  -depth 8 "$work/zoneplate.png"
to=65.3,45.3,225.3,55.3,265.3,245.3,25.3,235.3
"$build/tessaform-warp" "$work/zoneplate.png" "$work/off.png" --to "$to" --crop --quiet
"$build/tessaform-warp" "$work/zoneplate.png" "$work/on.png" --to "$to" --crop \
  --anti-aliasing --quiet
convert "$work/off.png" "$work/on.png" -filter point -resize 200% \
  -bordercolor white -border 8 +append -strip docs/antialiasing.png
echo docs/antialiasing.png
