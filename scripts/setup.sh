#!/usr/bin/env bash
# Installs the Debian packages Tessaform needs, and nothing when all are there.
set -euo pipefail

packages=(g++ make cmake pkg-config libgimp2.0-dev libgegl-dev libbabl-dev
          libglib2.0-dev gimp libgtest-dev imagemagick)

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
