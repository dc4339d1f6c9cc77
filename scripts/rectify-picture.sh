#!/usr/bin/env bash
# The README's picture of rectification, made from scratch: a page of A4's
# proportions drawn by ImageMagick (ruled lines, a grid, a circle and its
# diagonals), photographed through a pinhole camera (focal length 1700 px,
# principal point at the centre of a 2000 x 1500 photograph, the page
# turned 35 degrees about the horizontal axis and -25 about the vertical
# one): ImageMagick's own perspective distortion takes the page onto the
# corners that camera gives, over a desk. tessaform-warp --rectify then
# flattens it from those corners, and the bilinear map does the same for
# contrast. Writes docs/rectify-before-after.png (or the file given) and
# prints the estimate.
#   bash scripts/rectify-picture.sh [BUILD_DIR] [OUTPUT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
output=${2:-$root/docs/rectify-before-after.png}
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaform-picture.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The page: 1050 x 1485 (1 : 1.414).
{
  echo "fill none stroke #9db4d8 stroke-width 2"
  for y in $(seq 210 70 1400); do echo "line 60,$y 990,$y"; done
  echo "stroke #d9a0a0 line 120,150 120,1430"
  echo "stroke #404040 stroke-width 3"
  for x in $(seq 225 150 825); do echo "line $x,760 $x,1360"; done
  for y in $(seq 760 150 1360); do echo "line 225,$y 825,$y"; done
  echo "stroke #2060b0 stroke-width 8 circle 525,470 525,240"
  echo "stroke #b03030 stroke-width 6 line 60,60 990,1425 line 990,60 60,1425"
  echo "stroke #202020 stroke-width 10 fill none rectangle 30,30 1020,1455"
} >"$work/page.mvg"
convert -size 1050x1485 xc:white -draw "$(cat "$work/page.mvg")" \
  -fill '#202020' -stroke none -font DejaVu-Sans-Bold -pointsize 64 \
  -annotate +150+140 'Tessaform' "PNG24:$work/page.png"

# Where the camera puts the page's corners (top-left, top-right,
# bottom-right, bottom-left), as "x,y" pairs.
corners=$(python3 - <<'EOF'
import math
f, w, h = 1700.0, 2000, 1500
pw, ph = 1050.0, 1485.0
ax, ay = math.radians(35), math.radians(-25)
rx = [[1, 0, 0], [0, math.cos(ax), -math.sin(ax)], [0, math.sin(ax), math.cos(ax)]]
ry = [[math.cos(ay), 0, math.sin(ay)], [0, 1, 0], [-math.sin(ay), 0, math.cos(ay)]]
r = [[sum(ry[i][k] * rx[k][j] for k in range(3)) for j in range(3)] for i in range(3)]
distance = f * math.hypot(pw, ph) / (0.95 * min(w, h))
out = []
for x, y in ((0, 0), (pw, 0), (pw, ph), (0, ph)):
    p = [r[i][0] * (x - pw / 2) + r[i][1] * (y - ph / 2) for i in range(3)]
    p[0] += 0.05 * min(w, h) * distance / f
    p[2] += distance
    out.append("%.2f,%.2f" % (f * p[0] / p[2] + w / 2, f * p[1] / p[2] + h / 2))
print(" ".join(out))
EOF
)
read -r c0 c1 c2 c3 <<<"$corners"

# The photograph: the page distorted onto those corners over a desk.
convert -size 2000x1500 -seed 3 plasma:'#6a5540-#4a3828' -blur 0x6 -modulate 100,25 \
  "PNG24:$work/desk.png"
convert "$work/page.png" -alpha set -virtual-pixel transparent \
  -define distort:viewport=2000x1500+0+0 \
  -distort Perspective "0,0 $c0  1050,0 $c1  1050,1485 $c2  0,1485 $c3" \
  "PNG32:$work/page-seen.png"
convert "$work/desk.png" "$work/page-seen.png" -composite "PNG24:$work/photo.png"

# Clicked in order round the page from its bottom-left corner: any corner,
# either way round, gives the same rectangle.
from="$c3,$c2,$c1,$c0"
from=${from// /}
"$build/tessaform-warp" "$work/photo.png" "$work/flat.png" --rectify --from "$from" \
  --interpolation cubic --anti-aliasing
size=$(identify -format %wx%h "$work/flat.png")
"$build/tessaform-warp" "$work/photo.png" "$work/bilinear.png" --rectify --from "$from" \
  --interpolation cubic --anti-aliasing --mapping bilinear --size "$size" --quiet

# Side by side at 560 pixels high: the photograph with the corners marked,
# the flattened page, the bilinear map's.
marks=""
for c in $c0 $c1 $c2 $c3; do marks="$marks circle ${c} $(echo "$c" | awk -F, '{ printf "%.1f,%.1f", $1 + 14, $2 }')"; done
convert "$work/photo.png" -fill none -stroke '#ff3030' -strokewidth 6 -draw "$marks" \
  -resize x560 "$work/photo-marked.png"
label() {  # image, text
  convert "$1" -resize x560 -background '#f4f4f0' -gravity south -splice 0x40 \
    -font DejaVu-Sans -pointsize 20 -fill '#202020' -annotate +0+8 "$2" "$1"
}
cp "$work/flat.png" "$work/flat-shown.png"
cp "$work/bilinear.png" "$work/bilinear-shown.png"
label "$work/photo-marked.png" "the photograph, its four corners clicked"
label "$work/flat-shown.png" "--rectify (perspective)"
label "$work/bilinear-shown.png" "bilinear, same corners and size"
gap=(-size 20x600 xc:'#f4f4f0')
convert "$work/photo-marked.png" "${gap[@]}" "$work/flat-shown.png" "${gap[@]}" \
  "$work/bilinear-shown.png" -background '#f4f4f0' +append \
  -bordercolor '#f4f4f0' -border 10 +repage "$output"
echo "rectify-picture: wrote $output (rectified to $size)"
