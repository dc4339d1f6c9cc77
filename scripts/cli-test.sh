#!/usr/bin/env bash
# Tests of tessaform-warp: exit statuses and no file left on failure,
# damaged and declared-huge inputs, format and memory limits, signals during
# the write, and
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
# Without gAMA and cHRM: GEGL's loader would read them as a space of their
# own (a 2.2 power curve), which anti-aliasing's linear light then follows,
# while GIMP takes the pixels as sRGB.
plain_png=(-define png:exclude-chunk=gAMA,cHRM,bKGD)
convert -size 48x36 -seed 7 plasma:red-blue "${plain_png[@]}" "PNG24:$work/rgb.png"
convert "$work/rgb.png" \( -size 48x36 gradient:white-black -rotate 90 \) \
  -alpha off -compose CopyOpacity -composite "${plain_png[@]}" "PNG32:$work/rgba.png"

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
# Anti-aliasing's bytes do not depend on which conversion paths babl picks
# by timing them: runs side by side, each with a babl cache of its own
# (empty, so each times its paths under the others' load), agree. A 16-bit
# input that declares a 2.2 curve had several paths to choose from.
deep=$work/deep.png
convert -size 160x120 -seed 3 plasma:green-yellow -depth 16 "PNG48:$deep"
for i in 1 2 3 4 5 6; do
  mkdir -p "$work/babl-$i"
  HOME=$work/babl-$i XDG_CACHE_HOME=$work/babl-$i/cache "$warp" "$deep" \
    "$work/deep-$i.png" --to 4,4,90,10,80,70,2,60 --crop --anti-aliasing \
    --quiet &
done
wait
check "anti-aliasing: the same bytes whatever babl's timing" 1 \
  "$(for i in 1 2 3 4 5 6; do convert "$work/deep-$i.png" -depth 16 rgba:- | sha1sum; done | sort -u | wc -l)"

# Damaged inputs: status 1 and a message naming the file; an existing
# OUTPUT keeps its bytes and nothing else appears beside it.
source "$root/tests/cli/hostile_inputs.sh"
hostile=$work/hostile
mkdir -p "$hostile"
hostile_inputs "$hostile"
kept=$hostile/kept.png
cp "$work/rgb.png" "$kept"
kept_sum=$(sha1sum <"$kept")
listing() { ls -A "$hostile" | paste -sd' '; }
files_before=$(listing)
for bad in half.png cut.png checksum.png truncated.jpg truncated.tif truncated.webp; do
  said=$(timeout 20 "$warp" "$hostile/$bad" "$kept" --to "$to" 2>&1 >/dev/null)
  check "damaged $bad gives 1" 1 "$?"
  check "damaged $bad: the message names it" yes \
    "$(grep -qF "$hostile/$bad" <<<"$said" && echo yes || echo "no: $said")"
  check "damaged $bad: OUTPUT kept" "$kept_sum" "$(sha1sum <"$kept")"
done
check "damaged inputs: no other file" "$files_before" "$(listing)"

# Declared huge: refused from the header, before any decoding, in a few MB.
for huge in huge.png huge.tif; do
  said=$( { /usr/bin/time -f 'peak %M' timeout 20 "$warp" "$hostile/$huge" "$kept" --to "$to"; } 2>&1)
  check "declared-huge $huge gives 1" 1 "$(grep -q 'declares 100000 x 100000' <<<"$said" && echo 1 || echo "$said")"
  peak=$(sed -n 's/^peak //p' <<<"$said")
  check "declared-huge $huge: refused within 32 MB" yes "$([ "${peak:-999999}" -lt 32768 ] && echo yes || echo "no: $peak KB")"
done
check "--max-pixels below the input gives 1" 1 "$(status_of "$hostile/good.png" "$out" --to "$to" --max-pixels 1000)"
check "--max-pixels above the input gives 0" 0 "$(status_of "$hostile/good.png" "$out" --to "$to" --max-pixels 120000)"
rm -f "$out"
check "--max-pixels 0 gives 2" 2 "$(status_of "$hostile/good.png" "$out" --to "$to" --max-pixels 0)"

# Format limits before rendering: libjpeg takes at most 65500 a side, WebP
# 16383.
said=$("$warp" "$work/rgb.png" "$hostile/wide.jpg" --crop --to 0,0,70000,0,70000,2,0,2 2>&1)
check "JPEG wider than its limit gives 1" 1 "$?"
check "JPEG over its limit: says so" yes "$(grep -q 'JPEG files hold at most 65500' <<<"$said" && echo yes || echo "no: $said")"
check "WebP over its limit gives 1" 1 "$(status_of "$work/rgb.png" "$hostile/wide.webp" --crop --to 0,0,17000,0,17000,2,0,2)"
# A float image onto 32760 x 32760 pixels: about 17 GB for the destination
# alone, refused with a message instead of GLib's abort (8 GB of address
# space here, whatever the machine has).
hostile_exr "$warp" "$hostile"
said=$(ulimit -v 8000000; timeout 60 "$warp" "$hostile/good.exr" "$hostile/vast.exr" --crop \
  --to 0,0,32760,0,32760,32760,0,32760 2>&1)
check "out of memory gives 1" 1 "$?"
check "out of memory: says so" yes "$(grep -q 'not enough memory' <<<"$said" && echo yes || echo "no: $said")"
rm -f "$hostile/good.exr"
check "refused outputs: no other file" "$files_before" "$(listing)"

# A signal during the write: the process ends as the signal says, OUTPUT
# keeps its bytes, and no other file shows beside it, during or after.
convert -size 2400x1800 -seed 9 plasma: "PNG24:$work/large.png"
signal_case() {  # signal, output extension
  local target=$hostile/kept.$2 pid seen=no during
  cp "$work/rgb.png" "$target"
  local sum
  sum=$(sha1sum <"$target")
  local before
  before=$(listing)
  "$warp" "$work/large.png" "$target" --to 10,20,2300,0,2400,1700,0,1800 --interpolation lanczos --quiet 2>/dev/null &
  pid=$!
  # Once its output is open (a file without a name), it is writing.
  for _ in $(seq 400); do
    if ls -l "/proc/$pid/fd" 2>/dev/null | grep -q '(deleted)'; then seen=yes; break; fi
    sleep 0.01
  done
  during=$(listing)
  kill -s "$1" "$pid"
  wait "$pid" 2>/dev/null
  local status=$?
  check "SIG$1 during the write of .$2: output open when signalled" yes "$seen"
  check "SIG$1 during the write of .$2: status" "$((128 + $(kill -l "$1")))" "$status"
  check "SIG$1 during the write of .$2: no other file during the write" "$before" "$during"
  check "SIG$1 during the write of .$2: no other file after it" "$before" "$(listing)"
  check "SIG$1 during the write of .$2: OUTPUT kept" "$sum" "$(sha1sum <"$target")"
  rm -f "$target"
}
for sig in INT TERM HUP KILL; do signal_case $sig png; done
signal_case TERM jpg

# Short of memory at any point of a run: either it finishes or it ends with
# status 1 and a message, never GLib's abort; nothing is left behind.
before=$(listing)
for kb in 40000 80000 100000 120000 160000 200000 220000 240000; do
  for ext in png exr; do
    said=$(ulimit -v $kb; "$warp" "$work/large.png" "$hostile/short.$ext" --to 10,20,2300,0,2400,1700,0,1800 --quiet 2>&1)
    status=$?
    [ $status -eq 1 ] && grep -q 'memory' <<<"$said" && status=memory
    check "$((kb / 1000)) MB of address space, .$ext: done or a message about memory" yes \
      "$([ "$status" = 0 ] || [ "$status" = memory ] && echo yes || echo "status $status: $said")"
    rm -f "$hostile/short.$ext"
  done
done
check "short of memory: no other file" "$before" "$(listing)"

# Nothing but OUTPUT appears in the current folder (GEGL's swap settings
# once made a folder there).
mkdir "$work/here"
(cd "$work/here" && "$warp" "$work/rgb.png" out.png --to "$to" --quiet)
check "a run leaves only OUTPUT in the current folder" "out.png" "$(ls -A "$work/here")"

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
