#!/usr/bin/env bash
# GIMP's GUI under Xvfb, one GIMP start for all of it. The path procedure's
# dialog: opens it through an interactive call, takes a screenshot, presses
# OK (Return) and checks the new layer; opens it again, presses Cancel
# (Escape) and checks the image is unchanged; a third time chooses the
# perspective mapping and checks that last values repeat it. The rectify
# procedure's dialog: types a width (the height follows the ratio) and
# presses OK, then Cancel. Then the GEGL operation
# tessaform:warp in Tools -> GEGL Operation: chooses Quadrangle Warp in the
# list, picks the four corners on the canvas with the pick buttons, checks
# the live preview, presses OK and compares the layer with plug-in-tessaform's
# for the same corners. A fresh private profile (and XDG_DATA_HOME, where the
# GEGL module goes) per run: a GUI GIMP that is killed leaves crash-recovery
# state that blocks the next start.
#   GUI_DOCS=1   copies the screenshots and the before/after pictures to docs/
#   GUI_KEEP=1   keeps the temporary folder
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
path_dialog="Quadrangle Warp from Path"
rectify_dialog="Rectify from Path"

# Inside Xvfb: GIMP in the background, the dialogs answered from here.
if [ "${1:-}" = --inside ]; then
  work=$2
  mkfifo "$work/go"
  gimp-2.10 -n -d -f \
    -b "(begin (load \"$root/tests/e2e/lib.scm\") (load \"$root/tests/gui/path_dialog.scm\") (e2e-run \"gui\")
               (load \"$root/tests/gui/rectify_dialog.scm\") (e2e-run \"rectify\")
               (load \"$root/tests/gui/gegl_tool.scm\") (e2e-run \"gegl\"))" \
    -b '(gimp-quit 0)' >"$work/gimp.log" 2>&1 &
  gimp_pid=$!
  find_dialog() {  # title, seconds to wait; prints its window
    local i win
    for ((i = 0; i < $2 * 2; i++)); do
      win=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)
      [ -n "$win" ] && { echo "$win"; return 0; }
      kill -0 "$gimp_pid" 2>/dev/null || return 1
      sleep 0.5
    done
    return 1
  }
  # title, name of the answer, seconds to wait for the dialog, then the
  # keys (xdotool words: "key Return", "type 300"...), a word per argument.
  answer() {
    local title=$1 name=$2 wait=$3 win i
    shift 3
    if ! win=$(find_dialog "$title" "$wait"); then echo "NO-DIALOG $name" >>"$work/driver.log"; return 1; fi
    sleep 1  # let GTK draw it
    case $name in ok|rectify-ok)
      xwd -id "$win" -silent | convert xwd:- "$work/pictures/$name-dialog.png"
      xwd -root -silent | convert xwd:- "$work/pictures/$name-screen.png" ;;
    esac
    # No window manager here: focus the dialog directly, then type.
    xdotool windowfocus --sync "$win"
    while [ $# -gt 0 ]; do
      xdotool "$1" -- "$2"
      sleep 0.3
      shift 2
    done
    echo "ANSWERED $name" >>"$work/driver.log"
    for ((i = 0; i < 60; i++)); do
      xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 || return 0
      sleep 0.5
    done
  }
  # The first dialog waits for GIMP's start.
  answer "$path_dialog" ok 240 key Return &&
    answer "$path_dialog" cancel 60 key Escape &&
    answer "$path_dialog" perspective 60 key alt+m key Down key alt+o
  # The width typed, Tab to take it (the height follows), then OK.
  answer "$rectify_dialog" rectify-ok 60 key alt+w key ctrl+a type 300 key Tab key alt+o &&
    answer "$rectify_dialog" rectify-cancel 60 key Escape
  # shellcheck source=scripts/gui_gegl_tool.sh
  source "$root/scripts/gui_gegl_tool.sh"
  gegl_tool_drive
  for ((i = 0; i < 120; i++)); do
    kill -0 "$gimp_pid" 2>/dev/null || break
    sleep 0.5
  done
  if kill -0 "$gimp_pid" 2>/dev/null; then
    echo "GIMP-DID-NOT-QUIT" >>"$work/driver.log"
    kill -TERM "$gimp_pid"
  fi
  wait "$gimp_pid" 2>/dev/null
  exit 0
fi

binary=$(realpath "${1:-$root/build/tessaform}" 2>/dev/null || true)
for tool in xvfb-run xdotool xwd convert gimp-2.10 gimp-console-2.10; do
  if ! command -v "$tool" >/dev/null; then
    echo "gui: $tool not found (bash scripts/setup.sh installs it)" >&2
    echo "gui: 0 passed, 1 failed"
    exit 1
  fi
done
if [ -z "$binary" ] || [ ! -f "$binary" ]; then
  echo "gui: no plug-in binary at ${1:-$root/build/tessaform}" >&2
  echo "gui: 0 passed, 1 failed"
  exit 1
fi

start_ns=$(date +%s%N)
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaform-gui.XXXXXX")
cleanup() {
  if [ "${GUI_KEEP:-0}" = 1 ]; then echo "gui: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
mkdir -p "$work/results" "$work/pictures"

export GIMP2_DIRECTORY=$work/profile
export XDG_DATA_HOME=$work/data
timeout 300 gimp-console-2.10 -i -d -f -b '(gimp-quit 0)' >"$work/init.log" 2>&1
bash "$root/scripts/install.sh" "$binary" "$GIMP2_DIRECTORY" >"$work/install.log" 2>&1
# The console start registers every plug-in; the GUI start then only
# queries the fresh one.
timeout 300 gimp-console-2.10 -i -d -f -b '(gimp-quit 0)' >>"$work/init.log" 2>&1

E2E_RESULTS=$work/results GUI_PICTURES=$work/pictures GUI_WORK=$work \
  timeout 600 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$root/scripts/gui_test.sh" --inside "$work" </dev/null

passed=0
failed=0
for name in gui rectify gegl; do
  out=$work/results/$name.out
  if [ -s "$out" ]; then
    while IFS=$'\t' read -r head expected got; do
      case $head in
        "PASS "*) passed=$((passed + 1)) ;;
        "FAIL "*) failed=$((failed + 1))
                  printf 'FAIL %s\n     expected: %s\n     got:      %s\n' "${head#FAIL }" "$expected" "$got" ;;
      esac
    done <"$out"
    grep -q "^END $name\$" "$out" || { failed=$((failed + 1)); echo "FAIL the $name batch ran to its end"; }
  else
    failed=$((failed + 1))
    echo "FAIL the $name batch wrote its results"
  fi
done
for answer in ok cancel perspective rectify-ok rectify-cancel; do
  if grep -q "^ANSWERED $answer\$" "$work/driver.log" 2>/dev/null; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1)); echo "FAIL the dialog appeared and was answered: $answer"
  fi
done
for shot in ok rectify-ok; do
  if [ -s "$work/pictures/$shot-dialog.png" ]; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAIL screenshot of the dialog ($shot)"
  fi
done
# The GEGL tool: the operation's layer is plug-in-tessaform's, byte for byte,
# and the canvas showed the warp before OK.
pictures=$work/pictures
rgba_of() { convert "$1" -depth 8 rgba:- 2>/dev/null | sha1sum; }
if [ -s "$pictures/gegl-reference.png" ] && [ -s "$pictures/gegl-applied.png" ] &&
   [ "$(rgba_of "$pictures/gegl-reference.png")" = "$(rgba_of "$pictures/gegl-applied.png")" ]; then
  passed=$((passed + 1))
else
  failed=$((failed + 1)); echo "FAIL the GEGL tool's layer has plug-in-tessaform's bytes"
fi
changed=0
if [ -s "$work/canvas-origin" ] && [ -s "$pictures/gegl-preview.png" ]; then
  read -r ox oy <"$work/canvas-origin"
  changed=$(compare -metric AE "$pictures/gegl-before.png[240x180+$ox+$oy]" \
              "$pictures/gegl-preview.png[240x180+$ox+$oy]" null: 2>&1 | cut -d' ' -f1)
fi
if [ "${changed%.*}" -gt 5000 ] 2>/dev/null; then passed=$((passed + 1)); else
  failed=$((failed + 1)); echo "FAIL the canvas previewed the warp (pixels changed: $changed)"
fi
grep -h '^GEGL' "$work/driver.log" 2>/dev/null | grep -v '^GEGL-TIME' | sed 's/^/gui: /'
for bad in "Plug-in crashed" "-CRITICAL" "GeglBuffers leaked"; do
  if grep -qF -- "$bad" "$work/gimp.log"; then
    failed=$((failed + 1)); echo "FAIL GIMP output has \"$bad\""
  else
    passed=$((passed + 1))
  fi
done
if grep -q GIMP-DID-NOT-QUIT "$work/driver.log" 2>/dev/null; then
  failed=$((failed + 1)); echo "FAIL GIMP quit at the end of the batch"
fi

if [ "${GUI_DOCS:-0}" = 1 ] && [ $failed -eq 0 ]; then
  cp "$work/pictures/ok-dialog.png" "$root/docs/path-dialog.png"
  cp "$work/pictures/rectify-ok-dialog.png" "$root/docs/rectify-dialog.png"
  convert "$work/pictures/before.png" "$work/pictures/after.png" +append \
    "$root/docs/path-before-after.png"
  echo "gui: wrote docs/path-dialog.png, docs/rectify-dialog.png and docs/path-before-after.png"
  # The canvas with its live preview beside the operation's dialog.
  convert "$pictures/gegl-preview.png" -crop 900x870+380+0 +repage "$root/docs/gegl-tool-preview.png"
  echo "gui: wrote docs/gegl-tool-preview.png"
fi
if [ $failed -gt 0 ]; then
  echo "---- GIMP output"; head -n 40 "$work/gimp.log"; echo "----"
fi
end_ns=$(date +%s%N)
elapsed=$(( (end_ns - start_ns) / 1000000 ))
printf 'gui: wall time %d.%03d s\n' $((elapsed / 1000)) $((elapsed % 1000))
gegl_ms=$(sed -n 's/^GEGL-TIME //p' "$work/driver.log" 2>/dev/null)
[ -n "$gegl_ms" ] && printf 'gui: of which the GEGL tool %d.%03d s\n' $((gegl_ms / 1000)) $((gegl_ms % 1000))
echo "gui: $passed passed, $failed failed"
[ $failed -eq 0 ]
