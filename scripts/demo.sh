#!/usr/bin/env bash
# The main job: installs what is missing, builds, installs the plug-in into a
# private GIMP profile and warps a generated test chart with each
# interpolation, then warps the chart file once more with tessaform-warp,
# printing the paths of the PNG files it writes.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
build=${BUILD_DIR:-build}
bash scripts/build.sh "$build" -DTESSAFORM_TESTS=OFF -DTESSAFORM_WERROR=OFF >/dev/null

out=${DEMO_OUT:-$PWD/out/demo}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export GIMP2_DIRECTORY=$work/profile
# GIMP builds a fresh profile on its first start; the plug-in goes in after.
timeout 300 gimp-console-2.10 -i -d -f -b '(gimp-quit 0)' >/dev/null 2>&1
bash scripts/install.sh "$build/tessaform" "$GIMP2_DIRECTORY" >/dev/null

rm -f "$out"/{chart,nearest,bilinear,cubic,lanczos,overview,command-line}.png
DEMO_OUT=$out timeout 300 gimp-console-2.10 -i -d -f \
  -b "(load \"$PWD/scripts/demo.scm\")" -b '(gimp-quit 0)' >"$work/log" 2>&1 || true
missing=0
for name in chart nearest bilinear cubic lanczos overview; do
  if [ -s "$out/$name.png" ]; then echo "$out/$name.png"; else missing=1; fi
done
if [ "$missing" -ne 0 ]; then
  echo "demo: GIMP did not write every image; its output:" >&2
  cat "$work/log" >&2
  exit 1
fi
# The same engine from the command line: the whole chart onto a tilted
# quadrangle, over the chart itself.
"$build/tessaform-warp" "$out/chart.png" "$out/command-line.png" \
  --to 40,30,300,10,280,220,20,200 --interpolation cubic --over --quiet
echo "$out/command-line.png"
echo "demo: the chart, one warp per interpolation, an overview and a warp by tessaform-warp, in $out"
