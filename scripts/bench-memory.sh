#!/usr/bin/env bash
# Memory benchmark: bash scripts/bench-memory.sh
# Not a test: prints the plug-in's peak memory and time per destination pixel
# for 8-bit and float RGBA bilinear warps at growing destination sizes, and a
# 100x100 result from a 12000x12000 source, each beside a 100x100 call from a
# 100x100 source measured in the same run.
# Environment: BENCH_SIZES (default "4000 16000"), BENCH_FLOAT_SIZES (default
# "4000 8000"), BENCH_BUILD (default build-bench), BENCH_PLUGIN (another
# build of the plug-in to measure instead, e.g. an older one).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BENCH_BUILD:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target tessaform peak_rss >/dev/null
build=$(cd "$build" && pwd)
plugin=$(realpath "${BENCH_PLUGIN:-$build/tessaform}")
work=$(mktemp -d /tmp/tessaform-bench-memory.XXXXXX)
trap 'rm -rf "$work"' EXIT

printf '#!/bin/sh\nexec "%s" "%s" "%s" "$@"\n' \
  "$build/bench/peak_rss" "$work/rss.txt" "$plugin" >"$work/plugin.sh"
chmod 755 "$work/plugin.sh"
bash scripts/install.sh "$work/plugin.sh" "$work/profile" >/dev/null
: >"$work/rss.txt"
BENCH_RESULT="$work/calls.txt" BENCH_SIZES=${BENCH_SIZES:-4000 16000} \
  BENCH_FLOAT_SIZES=${BENCH_FLOAT_SIZES:-4000 8000} GIMP2_DIRECTORY="$work/profile" \
  timeout 3600 gimp-console-2.10 -i -d -f \
    -b "(begin (load \"$root/bench/common.scm\") (load \"$root/bench/memory.scm\"))" \
    -b '(gimp-quit 0)' >"$work/gimp.log" 2>&1 || true
grep -q '^done' "$work/calls.txt" || { tail -20 "$work/gimp.log" >&2; exit 1; }

# Calls and the plug-in's -run lines pair up in order.
grep ' -run ' "$work/rss.txt" | awk '{print $3}' >"$work/peaks.txt"
grep -v '^done' "$work/calls.txt" | paste -d' ' - "$work/peaks.txt" | awk '
  BEGIN { printf "%-17s %-5s %6s %6s %9s %9s %8s %10s\n", "case", "prec", "source", "dest", "seconds", "peak MB", "ns/px", "vs 4000^2" }
  $1 == "floor" { floor[$2] = $5 }
  {
    n = $4 + 2; px = n * n
    ns = ($1 == "grow") ? ($5 - floor[$2]) / px * 1e9 : 0
    if ($1 == "grow" && !($2 in base)) base[$2] = ns
    rel = ($1 == "grow" && base[$2] > 0) ? sprintf("%.2fx", ns / base[$2]) : "-"
    printf "%-17s %-5s %6d %6d %9.2f %9.1f %8s %10s\n", $1, $2, $3, $4, $5, $6 / 1024, ($1 == "grow") ? sprintf("%.1f", ns) : "-", rel
  }'
echo "ns/px: (call - floor call) per destination layer pixel; peak MB: the plug-in process's peak RSS"
