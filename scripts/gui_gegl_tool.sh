# The GEGL tool's part of scripts/gui_test.sh, sourced inside Xvfb once the
# path dialogs are answered: drives Tools -> GEGL Operation -> Quadrangle
# Warp while tests/gui/gegl_tool.scm waits on the pipe $work/go, then lets
# the batch go on with the word "applied" (every step done) or "failed".
# Positions inside GIMP's windows were measured on this layout (Xvfb
# 1280x1024, GIMP 2.10.34's default single-window layout, 100% zoom).

gegl_log() { echo "$*" >>"$work/driver.log"; }

gegl_shot() { xwd -root -silent | convert xwd:- "$work/pictures/$1.png"; }

gegl_wait_window() {  # name, seconds; prints the window
  local i win
  for ((i = 0; i < $2 * 2; i++)); do
    win=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1)
    [ -n "$win" ] && { echo "$win"; return 0; }
    sleep 0.5
  done
  return 1
}

gegl_click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-1}"; }

gegl_tool_steps() {
  local i win dialog box ox oy X Y WIDTH HEIGHT
  for ((i = 0; i < 240; i++)); do
    [ -f "$work/ready" ] && break
    kill -0 "$gimp_pid" 2>/dev/null || { gegl_log "GEGL: GIMP ended"; return 1; }
    sleep 0.5
  done
  [ -f "$work/ready" ] || { gegl_log "GEGL: the batch never got ready"; return 1; }
  win=$(gegl_wait_window ' GIMP$' 30) || { gegl_log "GEGL: no image window"; return 1; }
  sleep 2
  gegl_shot gegl-before
  # The chart's magenta 4 x 4 corner marks where its pixel (0, 0) is shown;
  # the layer's dashed boundary may hide its first row and column.
  box=$(convert "$work/pictures/gegl-before.png" -fill black +opaque '#ff00ff' \
          -fill white -opaque '#ff00ff' -format '%@' info: 2>/dev/null)
  if [[ ! $box =~ ^([34])x([34])\+([0-9]+)\+([0-9]+)$ ]]; then
    gegl_log "GEGL: marker not found ($box)"
    return 1
  fi
  ox=$((BASH_REMATCH[3] + BASH_REMATCH[1] - 4)) oy=$((BASH_REMATCH[4] + BASH_REMATCH[2] - 4))
  echo "$ox $oy" >"$work/canvas-origin"
  eval "$(xdotool getwindowgeometry --shell "$win")"
  # Tools -> GEGL Operation...
  gegl_click $((X + 366)) $((Y + 13))
  gegl_click $((X + 434)) $((Y + 167)) 2
  dialog=$(gegl_wait_window '^GEGL Operation$' 30) || { gegl_log "GEGL: no tool dialog"; return 1; }
  # Beside the canvas, not over it.
  xdotool windowmove "$dialog" 840 0
  sleep 1
  # The operation list: Quadrangle Warp is third from its end.
  gegl_click 1024 61
  xdotool key End Up Up Return
  sleep 3
  gegl_shot gegl-chosen
  eval "$(xdotool getwindowgeometry --shell "$dialog")"
  # Each corner's pick button, then the corner's pixel on the canvas. The
  # buttons keep to the dialog's right edge; its width follows how GTK
  # wraps the operation's description.
  local corners=(30 20 225 40 200 170 15 150) rows=(300 347 392 438)
  for i in 0 1 2 3; do
    gegl_click $((X + WIDTH - 71)) $((Y + rows[i])) 0.7
    gegl_click $((ox + corners[2 * i])) $((oy + corners[2 * i + 1])) 1.5
  done
  sleep 3
  gegl_shot gegl-preview
  xwd -id "$dialog" -silent | convert xwd:- "$work/pictures/gegl-dialog.png"
  gegl_log "GEGL: corners picked"
  # OK, at the dialog's bottom right.
  gegl_click $((X + WIDTH - 48)) $((Y + HEIGHT - 22)) 2
  for ((i = 0; i < 60; i++)); do
    xdotool search --onlyvisible --name '^GEGL Operation$' >/dev/null 2>&1 || break
    sleep 0.5
  done
  if xdotool search --onlyvisible --name '^GEGL Operation$' >/dev/null 2>&1; then
    gegl_log "GEGL: the dialog stayed after OK"
    return 1
  fi
  sleep 1
  gegl_shot gegl-after
  gegl_log "GEGL: applied"
}

gegl_tool_drive() {
  local word=failed
  local start_ms=$(( $(date +%s%N) / 1000000 ))
  gegl_tool_steps && word=applied
  # The batch waits on the pipe; a batch that died never opens it.
  timeout 60 bash -c "echo $word >'$work/go'" || gegl_log "GEGL: the batch did not read the pipe"
  gegl_log "GEGL-TIME $(( $(date +%s%N) / 1000000 - start_ms ))"
}
