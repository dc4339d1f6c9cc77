#!/usr/bin/env bash
# End-to-end tests: installs the plug-in into a private GIMP profile and runs
# every tests/e2e/*.scm case file in one headless GIMP start.
set -uo pipefail

usage() {
  cat <<EOF
usage: $(basename "$0") [BINARY]
  BINARY  the built plug-in (default: build/tessaform)
Runs tests/e2e/*.scm in headless GIMP 2.10 with BINARY installed into a
temporary profile, and ends with the line "e2e: N passed, N failed".
  E2E_ONLY="identity mapping"  runs only these case files
  E2E_KEEP=1                   keeps the temporary folder (profile, GIMP output,
                               results) for inspection
  E2E_TIMEOUT=900              GIMP's time limit in seconds
EOF
}

case "${1:-}" in
  -h|--help) usage; exit 0 ;;
esac
if [ $# -gt 1 ]; then
  usage >&2
  exit 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
binary=$(realpath "${1:-$root/build/tessaform}" 2>/dev/null || true)
cases_dir=$root/tests/e2e
gimp=$(command -v gimp-console-2.10 || command -v gimp-console || true)

if [ -z "$binary" ] || [ ! -f "$binary" ]; then
  echo "e2e: no plug-in binary at ${1:-$root/build/tessaform}" >&2
  echo "e2e: 0 passed, 1 failed"
  exit 1
fi
if [ -z "$gimp" ]; then
  echo "e2e: gimp-console-2.10 not found (bash scripts/setup.sh installs it)" >&2
  echo "e2e: 0 passed, 1 failed"
  exit 1
fi

start_ns=$(date +%s%N)
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaform-e2e.XXXXXX")
cleanup() {
  if [ "${E2E_KEEP:-0}" = 1 ]; then
    echo "e2e: kept $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  printf 'FAIL %s\n' "$1"
  [ $# -gt 1 ] && printf '     expected: %s\n     got:      %s\n' "$2" "$3"
  return 0
}

# GIMP sets up a profile only in a folder that does not exist yet: an empty
# batch creates it before plug-ins/ is added.
export GIMP2_DIRECTORY=$work/profile
timeout 300 "$gimp" -i -d -f -b '(gimp-quit 0)' >"$work/init.log" 2>&1
if [ ! -d "$GIMP2_DIRECTORY/plug-ins" ]; then
  cat "$work/init.log" >&2
  echo "e2e: GIMP did not create the profile $GIMP2_DIRECTORY" >&2
  echo "e2e: 0 passed, 1 failed"
  exit 1
fi
if ! bash "$root/scripts/install.sh" "$binary" "$GIMP2_DIRECTORY" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "e2e: 0 passed, 1 failed"
  exit 1
fi

mapfile -t case_files < <(find "$cases_dir" -maxdepth 1 -name '*.scm' ! -name lib.scm | sort)
batches=()
names=()
for file in "${case_files[@]}"; do
  name=$(basename "$file" .scm)
  if [ -n "${E2E_ONLY:-}" ] && [[ " $E2E_ONLY " != *" $name "* ]]; then
    continue
  fi
  if [[ ! $name =~ ^[a-z0-9_]+$ ]]; then
    fail "case file name $name.scm (use a-z, 0-9 and _ only)"
    continue
  fi
  names+=("$name")
  # Each -b runs in a fresh Script-Fu environment: one case file per batch,
  # so an error in one file cannot disturb the others.
  batches+=(-b "(begin (load (string-append (getenv \"E2E_CASES\") \"/lib.scm\")) (load (string-append (getenv \"E2E_CASES\") \"/$name.scm\")) (e2e-run \"$name\"))")
done

if [ ${#names[@]} -eq 0 ]; then
  fail "case files to run" "at least one of tests/e2e/*.scm" "none (E2E_ONLY=${E2E_ONLY:-})"
fi

results=$work/results
mkdir -p "$results"
log=$work/gimp.log
# In the background, so that an interrupt reaches the trap below at once.
E2E_CASES=$cases_dir E2E_RESULTS=$results \
  timeout "${E2E_TIMEOUT:-900}" "$gimp" -i -d -f "${batches[@]}" -b '(gimp-quit 0)' \
  >"$log" 2>&1 &
gimp_pid=$!
# killed.scm: for each "kill-armed-N" marker, SIGKILL to our plug-in (the
# binary under this run's own profile) after a second of its CPU time; for
# each "memory-NAME" marker, GIMP's resident memory into memory-NAME.kb.
killer_pid=
if [[ " ${names[*]} " == *" killed "* ]]; then
  plugin=$GIMP2_DIRECTORY/plug-ins/tessaform/tessaform
  (
    kill_after_a_second() {  # N
      for _ in $(seq 600); do
        pid=$(pgrep -n -x -f "$plugin.*" || true)
        if [ -n "$pid" ] && [ -r "/proc/$pid/stat" ]; then
          ticks=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)
          if [ "${ticks:-0}" -ge "$(( $(getconf CLK_TCK) ))" ]; then
            kill -KILL "$pid" && echo "killed $pid after $ticks ticks" >>"$results/kill-done"
            return
          fi
        fi
        sleep 0.05
      done
    }
    gimp_process=$(pgrep -P "$gimp_pid" | head -1)
    done_kills=0
    for _ in $(seq 9000); do
      [ -e "$results/memory-after.kb" ] && exit 0
      for name in before after; do
        if [ -e "$results/memory-$name" ] && [ ! -e "$results/memory-$name.kb" ]; then
          awk '/^VmRSS:/ {print $2}' "/proc/$gimp_process/status" >"$results/memory-$name.tmp"
          mv "$results/memory-$name.tmp" "$results/memory-$name.kb"
        fi
      done
      next=$((done_kills + 1))
      if [ -e "$results/kill-armed-$next" ]; then
        kill_after_a_second "$next"
        done_kills=$next
      fi
      sleep 0.05
    done
  ) &
  killer_pid=$!
fi
trap 'kill -TERM "$gimp_pid" 2>/dev/null; exit 130' INT TERM
wait "$gimp_pid"
status=$?
[ -n "$killer_pid" ] && kill "$killer_pid" 2>/dev/null
trap 'exit 130' INT TERM
if [ $status -eq 124 ]; then
  fail "GIMP finished within ${E2E_TIMEOUT:-900} s" "finished" "timed out"
fi

# Checks written by the case files.
for name in "${names[@]}"; do
  out=$results/$name.out
  if [ ! -s "$out" ]; then
    fail "$name.scm ran" "a results file" "none (see GIMP output below)"
    continue
  fi
  while IFS=$'\t' read -r head expected got; do
    case $head in
      "PASS "*) pass ;;
      "FAIL "*) fail "$name: ${head#FAIL }" "$expected" "$got" ;;
    esac
  done <"$out"
  grep -q "^END $name\$" "$out" || fail "$name.scm ran to its end" "END line" "missing"
  grep -qE '^(PASS|FAIL) ' "$out" || fail "$name.scm made checks" "at least one" "none"
done

# What only GIMP's output shows.
ran() { [[ " ${names[*]} " == *" $1 "* ]]; }
check_log() {  # description, text, "some" or "none"
  if grep -qF -- "$2" "$log"; then found=some; else found=none; fi
  if [ "$found" = "$3" ]; then pass; else fail "GIMP output: $1" "$3 \"$2\"" "$found"; fi
}
if ran killed; then
  # The crashes are the plug-ins killed on purpose. Killed while a tile is
  # on the wire, GIMP reports the broken pipe instead of the crash.
  count=$(grep -cF "Plug-in crashed" "$log")
  wire=$(grep -cF "gimp_wire_read(): error" "$log")
  kills=$(cat "$results/kill-done" 2>/dev/null | grep -c '^killed' || true)
  if [ "$kills" -eq 6 ] && [ $((count + wire)) -ge 6 ] && [ "$count" -le 6 ] && [ "$wire" -le 6 ]; then
    pass
  else
    fail "GIMP output: the six killed calls, and no other, seen ending" \
      "six kills, six \"Plug-in crashed\" or wire errors" \
      "$kills kill(s), $count crash and $wire wire line(s)"
  fi
  # What the killed calls took is given back once the next call has run.
  mem_before=$(cat "$results/memory-before.kb" 2>/dev/null || echo)
  mem_after=$(cat "$results/memory-after.kb" 2>/dev/null || echo)
  if [ -n "$mem_before" ] && [ -n "$mem_after" ] && [ $((mem_after - mem_before)) -le 16384 ]; then
    pass
  else
    fail "GIMP's memory after a second round of three kills and one call, against before it" \
      "at most 16 MB more" "${mem_before:-?} KB before, ${mem_after:-?} KB after"
  fi
  echo "e2e: GIMP's resident memory before the second round of three kills ${mem_before:-?} KB, after them and one call ${mem_after:-?} KB"
else
  check_log "no plug-in crashed" "Plug-in crashed" none
fi
check_log "no leaked GEGL buffers" "GeglBuffers leaked" none
check_log "no critical warning" "-CRITICAL" none
check_log "no batch error outside the checks" "batch command experienced an execution error" none
if ran new_layer; then
  check_log "a label that is not UTF-8 reaches the progress bar" "gimp-progress-init" none
fi
if ran path; then
  check_log "a wrong path says what it holds and what is needed" \
    "The path has one stroke of 3 anchors. Needed: one stroke of 4 anchors" some
  check_log "interactive mode without a display says one is needed" \
    "Quadrangle Warp from Path needs a display to show its dialog" some
fi
if ran refusals; then
  check_log "interpolation refusal says why" "unknown interpolation!" some
  check_log "locked group refusal names the lock" "content is locked" some
fi
if ran run_modes; then
  check_log "interactive mode logged" "run interactive . . ." some
  check_log "last-values mode logged" "run with last values . . ." some
  # Interactive and last-values answers come without this line; run mode 3
  # gives it once.
  count=$(grep -cF "Wrong run-mode - need non-interactive" "$log")
  if [ "$count" = 1 ]; then pass; else
    fail "GIMP output: \"Wrong run-mode - need non-interactive\" only for run mode 3" "1 line" "$count"
  fi
fi

# The menu label, image types and menu paths are only recorded in pluginrc.
rc=$GIMP2_DIRECTORY/pluginrc
proc_block() {  # procedure name
  awk -v head="(proc-def \"$1\" " 'index($0, head) {on = 1} on {print} on && /^ *[0-9]+ [0-9]+$/ {exit}' "$rc" 2>/dev/null
}
check_rc() {  # description, expected, got
  if [ "$2" = "$3" ]; then pass; else fail "pluginrc: $1" "$2" "$3"; fi
}
check_proc_rc() {  # procedure, label, menu paths (count, then each), counts
  local block
  block=$(proc_block "$1")
  # The fields after the help, author, copyright and date lines.
  check_rc "$1 menu label" "$2" "$(sed -n '7p' <<<"$block" | sed 's/^ *//')"
  check_rc "$1 menu paths" "$3" "$(sed -n '/^ *"_\?[^"]*\.\.\."$/,/(icon /p' <<<"$block" | sed '1d;$d' | sed 's/^ *//' | paste -sd' ')"
  check_rc "$1 image types" '"RGB*, GRAY*"' "$(grep -A1 '(icon ' <<<"$block" | sed -n '2p' | sed 's/^ *//')"
  check_rc "$1 parameters and return values" "$4" "$(tail -n1 <<<"$block" | sed 's/^ *//')"
}
check_proc_rc plug_in_tessaform '"_Tessaform..."' "0" "23 1"
check_proc_rc plug_in_tessaform_path '"Quadrangle Warp from _Path..."' \
  '1 (menu-path "<Image>/Filters/Distorts")' "6 1"

if [ $failed -gt 0 ]; then
  echo "---- GIMP output (warnings and errors)"
  grep -vE '^\s*$|^batch command executed successfully' "$log" | head -n 60
  echo "----"
fi

end_ns=$(date +%s%N)
elapsed=$(( (end_ns - start_ns) / 1000000 ))
# Time inside the batch, as the case files measured it.
if compgen -G "$results/*.out" >/dev/null; then
  awk '$1 == "TIME-TOTAL" { n += $2; c += $3; r += $4; m += $5 }
       END { printf "e2e: %d plug-in calls %.1f s, reading pixels %.1f s, modelling and comparing %.1f s\n", n, c / 1000, r / 1000, m / 1000 }' \
    "$results"/*.out
fi
printf 'e2e: wall time %d.%03d s (%d case files in one GIMP start)\n' \
  $((elapsed / 1000)) $((elapsed % 1000)) "${#names[@]}"
echo "e2e: $passed passed, $failed failed"
[ $failed -eq 0 ] && [ $passed -gt 0 ]
