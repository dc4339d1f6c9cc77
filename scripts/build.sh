#!/usr/bin/env bash
# Builds into build/ (or the folder given), passing further arguments to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -DTESSAFORM_TESTS=ON "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
