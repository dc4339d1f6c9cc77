#!/usr/bin/env bash
# Installs the Tessaform plug-in into a GIMP 2.10 profile.
set -euo pipefail

usage() {
  cat <<EOF
usage: $(basename "$0") [BINARY] [PROFILE_DIR] [GEGL_DIR]
  BINARY       the built plug-in (default: build/tessaform)
  PROFILE_DIR  the GIMP 2.10 profile to install into
               (default: \${GIMP2_DIRECTORY:-\$HOME/.config/GIMP/2.10})
  GEGL_DIR     GEGL's plug-in folder for the operation tessaform:warp
               (default: \${XDG_DATA_HOME:-\$HOME/.local/share}/gegl-0.4/plug-ins)
Copies BINARY to PROFILE_DIR/plug-ins/tessaform/tessaform with its exec bit.
GIMP registers it at its next start. The command-line tool tessaform-warp,
when built beside BINARY, goes next to it with its folder of module links.
The GEGL module tessaform-warp.so, when built beside BINARY, goes into
GEGL_DIR, where GIMP (Tools > GEGL Operation) and the gegl command find it;
with a profile other than your own it goes there only when GEGL_DIR or
XDG_DATA_HOME is given, so that a test never installs it for you.
EOF
}

case "${1:-}" in
  -h|--help) usage; exit 0 ;;
esac
if [ $# -gt 3 ]; then
  usage >&2
  exit 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-$root/build/tessaform}
profile=${2:-${GIMP2_DIRECTORY:-$HOME/.config/GIMP/2.10}}

if [ ! -f "$binary" ]; then
  echo "install: no plug-in binary at $binary (build it first: bash scripts/build.sh)" >&2
  exit 1
fi

# GIMP sets up a profile only when its folder does not exist yet: creating
# plug-ins/ first would leave it without its default files.
if [ ! -d "$profile" ]; then
  gimp=$(command -v gimp-console-2.10 || command -v gimp-console || true)
  if [ -z "$gimp" ]; then
    echo "install: $profile does not exist; start GIMP 2.10 once to create it" >&2
    exit 1
  fi
  echo "install: creating the GIMP profile $profile"
  GIMP2_DIRECTORY=$profile timeout 300 "$gimp" -i -d -f -b "(gimp-quit 0)" >/dev/null 2>&1 || true
  if [ ! -d "$profile" ]; then
    echo "install: GIMP did not create $profile" >&2
    exit 1
  fi
fi

target=$profile/plug-ins/tessaform
mkdir -p "$target"
# GIMP registers only executable plug-ins, and re-queries one whose mtime is
# newer than its record, so a fresh copy (not a preserved mtime) is wanted.
install -m 755 "$binary" "$target/tessaform.new"
mv -f "$target/tessaform.new" "$target/tessaform"
echo "install: $target/tessaform"

# GIMP runs only the executable named after its folder: the tool beside it
# is left alone.
tool=$(dirname "$binary")/tessaform-warp
if [ -f "$tool" ]; then
  rm -rf "$target/tessaform-warp-modules"
  cp -RP "$(dirname "$binary")/tessaform-warp-modules" "$target/"
  install -m 755 "$tool" "$target/tessaform-warp"
  echo "install: $target/tessaform-warp"
fi

# ---- The GEGL operation tessaform:warp ------------------------------------
module=$(dirname "$binary")/tessaform-op-modules/tessaform-warp.so
if [ -f "$module" ]; then
  own_profile=0
  [ $# -lt 2 ] && [ -z "${GIMP2_DIRECTORY:-}" ] && own_profile=1
  if [ $# -ge 3 ] || [ -n "${XDG_DATA_HOME:-}" ] || [ $own_profile = 1 ]; then
    gegl_dir=${3:-${XDG_DATA_HOME:-$HOME/.local/share}/gegl-0.4/plug-ins}
    mkdir -p "$gegl_dir"
    # Copied then renamed: a GIMP that is running keeps the old file mapped.
    install -m 644 "$module" "$gegl_dir/tessaform-warp.so.new"
    mv -f "$gegl_dir/tessaform-warp.so.new" "$gegl_dir/tessaform-warp.so"
    echo "install: $gegl_dir/tessaform-warp.so"
  else
    echo "install: the GEGL operation is not installed for a private profile" \
         "(give GEGL_DIR or XDG_DATA_HOME)"
  fi
fi
