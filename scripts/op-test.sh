#!/usr/bin/env bash
# tessaform:warp through GEGL's own command: install.sh puts the module into
# a private XDG_DATA_HOME, where `gegl` finds it with no other setting, and
# each warp's pixels must be those of tessaform-warp --crop (every
# interpolation, anti-aliasing, a source quadrangle, an input without alpha).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaform-op.XXXXXX")
[ "${OP_KEEP:-0}" = 1 ] && echo "op: keeping $work" || trap 'rm -rf "$work"' EXIT

passed=0
failed=0
check() {  # description, expected, got
  if [ "$2" = "$3" ]; then passed=$((passed + 1)); else
    failed=$((failed + 1))
    printf 'FAIL %s\n     expected: %s\n     got:      %s\n' "$1" "$2" "$3"
  fi
}

if ! command -v gegl >/dev/null; then
  echo "op: the gegl command is missing (bash scripts/setup.sh installs it)" >&2
  echo "op: 0 passed, 1 failed"
  exit 1
fi

# The profile folder exists already: install.sh then starts no GIMP.
mkdir -p "$work/profile"
export XDG_DATA_HOME=$work/data
bash "$root/scripts/install.sh" "$build/tessaform" "$work/profile" >"$work/install.log" 2>&1
check "install.sh put the module into XDG_DATA_HOME" "present" \
  "$([ -f "$XDG_DATA_HOME/gegl-0.4/plug-ins/tessaform-warp.so" ] && echo present || echo absent)"
check "gegl lists the operation" "tessaform:warp" \
  "$(gegl --list-all 2>/dev/null | grep -x 'tessaform:warp')"

convert -size 64x48 -seed 11 plasma:green-yellow "PNG24:$work/rgb.png"
convert "$work/rgb.png" \( -size 64x48 gradient:white-black -rotate 90 \) \
  -alpha off -compose CopyOpacity -composite "PNG32:$work/rgba.png"
convert "$work/rgb.png" -alpha on "PNG32:$work/rgb-with-alpha.png"

to=(4.5 2 60.25 7 57 45.5 1 40)
from=(3 1.5 62 0 63.5 47 0.5 44)
names=(nearest bilinear cubic lanczos)
# Coordinates as the operation's properties: dx0=... dy3=..., sx0=...
props() {  # prefix x0 y0 x1 y1 x2 y2 x3 y3
  local p=$1 i
  shift
  for i in 0 1 2 3; do
    printf '%sx%d=%s %sy%d=%s ' "$p" "$i" "${@:$((2 * i + 1)):1}" "$p" "$i" "${@:$((2 * i + 2)):1}"
  done
}
joined() { local IFS=,; echo "$*"; }
# The bytes the pixels hold, 8 bits deep whatever the file's depth (GEGL's
# saver writes 16 bits: v * 257, which comes back exactly).
pixels_of() { convert "$1" -set colorspace sRGB -depth 8 rgba:- | sha1sum; }

run_case() {  # name, input, reference input, interpolation, extra words
  local name=$1 input=$2 reference=$3 interp=$4 extra=$5
  local ours=$work/op-$name.png theirs=$work/cli-$name.png cli_from=() op_from="whole-layer=true"
  if [[ $extra == *from* ]]; then
    cli_from=(--from "$(joined "${from[@]}")")
    op_from="whole-layer=false $(props s "${from[@]}")"
  fi
  local aa_op="" aa_cli=() mapping=bilinear
  [[ $extra == *aa* ]] && { aa_op="anti-aliasing=true"; aa_cli=(--anti-aliasing); }
  [[ $extra == *perspective* ]] && mapping=perspective
  # shellcheck disable=SC2046
  gegl "$input" -o "$ours" -- tessaform:warp $(props d "${to[@]}") $op_from \
    interpolation="${names[$interp]}" $aa_op mapping=$mapping >"$work/gegl-$name.log" 2>&1
  "$build/tessaform-warp" "$reference" "$theirs" --to "$(joined "${to[@]}")" \
    "${cli_from[@]}" --interpolation "${names[$interp]}" "${aa_cli[@]}" \
    --mapping $mapping --crop --quiet
  if [ ! -s "$ours" ]; then
    check "$name: gegl wrote a file" "a file" "none: $(head -c 300 "$work/gegl-$name.log")"
    return
  fi
  check "$name: size" "$(identify -format %wx%h "$theirs")" "$(identify -format %wx%h "$ours")"
  check "$name: pixels" "$(pixels_of "$theirs")" "$(pixels_of "$ours")"
}

for i in 0 1 2 3; do run_case "rgba-${names[$i]}" "$work/rgba.png" "$work/rgba.png" "$i" ""; done
run_case rgba-cubic-anti-aliased-source-quadrangle "$work/rgba.png" "$work/rgba.png" 2 "from aa"
run_case rgba-bilinear-source-quadrangle "$work/rgba.png" "$work/rgba.png" 1 "from"
run_case rgba-cubic-perspective "$work/rgba.png" "$work/rgba.png" 2 "from aa perspective"
# Without alpha the operation warps as if the input had one: transparent
# around the quadrangle.
run_case rgb-bilinear "$work/rgb.png" "$work/rgb-with-alpha.png" 1 ""

# The defaults (all corners 0) give a warp inside the input, not nothing.
gegl "$work/rgba.png" -o "$work/defaults.png" -- tessaform:warp >/dev/null 2>&1
size=$(identify -format %wx%h "$work/defaults.png" 2>/dev/null)
w=${size%x*} h=${size#*x}
check "the defaults give a warp inside the input" "yes" \
  "$([ "${w:-0}" -ge 32 ] && [ "${w:-0}" -le 66 ] && [ "${h:-0}" -ge 24 ] && [ "${h:-0}" -le 50 ] && echo yes || echo "no: ${size:-no file}")"

echo "op: $passed passed, $failed failed"
[ $failed -eq 0 ]
