#!/usr/bin/env bash
# Installs the Debian packages Tessaform needs, and nothing when all are there.
set -euo pipefail

packages=(g++ make cmake pkg-config libgimp2.0-dev libgegl-dev libbabl-dev
          libglib2.0-dev gimp libgtest-dev)
# tessaform-warp writes PNG itself and checks its inputs' checksums.
packages+=(libpng-dev zlib1g-dev)
# The command-line tests: crafted files and the peak memory of a run.
packages+=(python3 time)
# The dialog test: GIMP's GUI on a virtual screen, keys typed into it,
# screenshots, and the theme engine GIMP's themes draw with.
packages+=(xvfb xdotool x11-apps imagemagick gtk2-engines-pixbuf)
# The GEGL operation's tests: GEGL's own command runs the module on files.
packages+=(gegl)
# The fuzz target: clang and its libFuzzer and sanitizer runtimes.
packages+=(clang libclang-rt-dev)
# The benchmarks only (TESSAFORM_BENCH=1): OpenCV, the speed the render
# core and the command-line tool are measured against, for Debian's Python.
if [ "${TESSAFORM_BENCH:-0}" = 1 ]; then
  packages+=(python3-opencv)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
