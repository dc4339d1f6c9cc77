#!/usr/bin/env bash
# Tests of tessaform-warp: exit statuses and no file left on failure, and
# byte-identity with the layer plug-in-tessaform makes in headless GIMP
# (each interpolation, RGB and RGBA sources, --crop), and of --rectify with
# the layer plug-in-tessaform-rectify makes.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
warp=$build/tessaform-warp
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaform-cli.XXXXXX")
[ "${CLI_KEEP:-0}" = 1 ] && echo "cli: keeping $work" || trap 'rm -rf "$work"' EXIT

passed=0
failed=0
check() {  # description, expected, got
  if [ "$2" = "$3" ]; then passed=$((passed + 1)); else
    failed=$((failed + 1))
    printf 'FAIL %s\n     expected: %s\n     got:      %s\n' "$1" "$2" "$3"
  fi
}

# Sources: a plasma with, for RGBA, alpha falling across the image.
convert -size 48x36 -seed 7 plasma:red-blue "PNG24:$work/rgb.png"
convert "$work/rgb.png" \( -size 48x36 gradient:white-black -rotate 90 \) \
  -alpha off -compose CopyOpacity -composite "PNG32:$work/rgba.png"

from="3.5,2.25,44.75,4,41,33.5,2,30.75"
to="6.25,1.5,40.5,8,46.75,34.25,1.5,27"

# Bad arguments: status 2, no output.
status_of() { "$warp" "$@" >/dev/null 2>&1; echo $?; }
out=$work/out.png
check "bad number gives 2" 2 "$(status_of "$work/rgb.png" "$out" --to 1,2,3,x,5,6,7,8)"
check "missing corner gives 2" 2 "$(status_of "$work/rgb.png" "$out" --to 1,2,3,4,5,6,7)"
check "unknown interpolation gives 2" 2 \
  "$(status_of "$work/rgb.png" "$out" --to "$to" --interpolation sharp)"
check "missing --to gives 2" 2 "$(status_of "$work/rgb.png" "$out")"
check "--crop with --over gives 2" 2 "$(status_of "$work/rgb.png" "$out" --to "$to" --crop --over)"
check "no output after bad arguments" "absent" "$([ -e "$out" ] && echo present || echo absent)"
# Unreadable input or unwritable output: status 1, no output.
check "missing input gives 1" 1 "$(status_of "$work/none.png" "$out" --to "$to")"
printf 'not an image' >"$work/junk.png"
check "unreadable input gives 1" 1 "$(status_of "$work/junk.png" "$out" --to "$to")"
check "unwritable output gives 1" 1 "$(status_of "$work/rgb.png" "$work/no/dir/out.png" --to "$to")"
check "no output after failures" "absent" "$([ -e "$out" ] && echo present || echo absent)"
check "no temporary files left" "" "$(ls -A "$work" | grep '^\.tessaform' || true)"
check "--help gives 0" 0 "$(status_of --help)"

# The mapping and rectification's arguments.
check "unknown mapping gives 2" 2 \
  "$(status_of "$work/rgb.png" "$out" --to "$to" --mapping projective)"
check "perspective onto a concave quadrangle gives 2" 2 \
  "$(status_of "$work/rgb.png" "$out" --to 1,1,40,1,10,10,1,30 --mapping perspective)"
check "--rectify without --from gives 2" 2 "$(status_of "$work/rgb.png" "$out" --rectify)"
check "--rectify with --to gives 2" 2 \
  "$(status_of "$work/rgb.png" "$out" --rectify --from "$from" --to "$to")"
check "--aspect without --rectify gives 2" 2 \
  "$(status_of "$work/rgb.png" "$out" --to "$to" --aspect 3:4)"
check "--aspect and a whole --size give 2" 2 \
  "$(status_of "$work/rgb.png" "$out" --rectify --from "$from" --aspect 3:4 --size 30x40)"
check "a bad --aspect gives 2" 2 \
  "$(status_of "$work/rgb.png" "$out" --rectify --from "$from" --aspect 3:0)"
check "--rectify of a concave quadrangle gives 2" 2 \
  "$(status_of "$work/rgb.png" "$out" --rectify --from 3,2,44,4,10,10,2,30)"
check "no output after refused rectifications" "absent" "$([ -e "$out" ] && echo present || echo absent)"

# --rectify prints the estimate and writes the rectangle alone: a 2:1
# rectangle photographed square on comes out 2:1, its longer side the
# quadrangle's longer mean side.
said=$("$warp" "$work/rgb.png" "$work/flat.png" --rectify --from 4,8,44,8,44,28,4,28)
check "--rectify says what the estimate rests on" \
  "tessaform-warp: aspect ratio 2.000 : 1 (width : height), from the side lengths: both pairs of opposite sides are parallel in the photograph (a view square on); output 40 x 20" \
  "$said"
check "--rectify writes the rectangle" "40x20" "$(identify -format %wx%h "$work/flat.png")"
check "--rectify copies a rectangle square on" \
  "$(convert "$work/rgb.png" -crop 40x20+4+8 +repage -depth 8 rgb:- | sha1sum)" \
  "$(convert "$work/flat.png" -set colorspace sRGB -depth 8 rgb:- | sha1sum)"
check "--quiet says nothing" "" \
  "$("$warp" "$work/rgb.png" "$work/flat.png" --rectify --from "$from" --quiet)"
"$warp" "$work/rgb.png" "$work/flat.png" --rectify --from "$from" --size 30x0 --quiet
check "--size with one side keeps the ratio" "30" "$(identify -format %w "$work/flat.png")"
"$warp" "$work/rgb.png" "$work/flat.png" --rectify --from "$from" --aspect 1:2 --quiet
check "--aspect sets the proportions" "1:2" \
  "$(identify -format '%w %h' "$work/flat.png" | awk '{ print ($2 == 2 * $1) ? "1:2" : $1 ":" $2 }')"

# The default output has the input's size; --crop the destination box's.
"$warp" "$work/rgba.png" "$work/full.png" --from "$from" --to "$to" --quiet
check "output has the usual file mode" 644 "$(umask 022; "$warp" "$work/rgb.png" "$work/mode.png" --to "$to" --quiet; stat -c %a "$work/mode.png")"
check "default output has the input's size" "48x36" "$(identify -format %wx%h "$work/full.png")"

# --over on an input without alpha: pixels of the box around the quadrangle
# keep the input's colour instead of turning black.
"$warp" "$work/rgb.png" "$work/over.png" --from "$from" --to "$to" --over --quiet
pixel() { convert "$1" -set colorspace sRGB -format "%[pixel:p{$2}]" info:; }
check "--over keeps the input around the quadrangle" \
  "$(pixel "$work/rgb.png" 46,1)" "$(pixel "$work/over.png" 46,1)"

# The plug-in's layers, in one GIMP start with a private profile.
gimp=$(command -v gimp-console-2.10 || command -v gimp-console)
export GIMP2_DIRECTORY=$work/profile
timeout 300 "$gimp" -i -d -f -b '(gimp-quit 0)' >"$work/init.log" 2>&1
bash "$root/scripts/install.sh" "$build/tessaform" "$GIMP2_DIRECTORY" >/dev/null
# A photographed rectangle, clicked from its bottom-right corner.
photo="44.5,33,42,6.25,5.5,3,2.75,30.5"
CLI_WORK=$work CLI_FROM=${from//,/ } CLI_TO=${to//,/ } CLI_PHOTO=${photo//,/ } \
  timeout 300 "$gimp" -i -d -f \
  -b "(load \"$root/tests/cli/plugin_layers.scm\")" -b '(gimp-quit 0)' >"$work/gimp.log" 2>&1

# The bytes stored in the file: GEGL's PNG saver labels 8-bit sRGB with a
# gAMA of 2.2, which ImageMagick would otherwise convert from.
stored_bytes() { convert "$1" -set colorspace sRGB -depth 8 "$2:-" | sha1sum; }

# GIMP's layer (THEIRS) against our file (OURS): size and stored bytes.
same_as_gimp() {  # name, kind, theirs, ours
  if [ ! -s "$3" ]; then
    check "$1: GIMP exported the layer" "a file" "none"
    return
  fi
  local channels=rgb
  [ "$2" = rgba ] && channels=rgba
  check "$1: size" "$(identify -format %wx%h "$3")" "$(identify -format %wx%h "$4")"
  check "$1: bytes" "$(stored_bytes "$3" "$channels")" "$(stored_bytes "$4" "$channels")"
}

names=(nearest bilinear cubic lanczos)
for kind in rgb rgba; do
  for i in 0 1 2 3; do
    ours=$work/cli-$kind-$i.png
    "$warp" "$work/$kind.png" "$ours" --from "$from" --to "$to" \
      --interpolation "${names[$i]}" --crop --quiet
    same_as_gimp "$kind ${names[$i]}" "$kind" "$work/gimp-$kind-$i.png" "$ours"
    # --rectify against plug-in-tessaform-rectify: anti-aliased for the odd
    # interpolations, the size estimated.
    ours=$work/cli-rectified-$kind-$i.png
    aa=()
    [ $((i % 2)) = 1 ] && aa=(--anti-aliasing)
    "$warp" "$work/$kind.png" "$ours" --rectify --from "$photo" \
      --interpolation "${names[$i]}" "${aa[@]}" --quiet
    same_as_gimp "rectified $kind ${names[$i]}" "$kind" \
      "$work/gimp-rectified-$kind-$i.png" "$ours"
  done
done

if [ $failed -gt 0 ] && [ -f "$work/gimp.log" ]; then
  echo "---- GIMP output"; head -n 40 "$work/gimp.log"; echo "----"
fi
echo "cli: $passed passed, $failed failed"
[ $failed -eq 0 ]
