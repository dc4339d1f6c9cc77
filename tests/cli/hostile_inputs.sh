# Sourced by scripts/cli-test.sh and scripts/bench-cli.sh: writes the inputs
# a careless or hostile user hands tessaform-warp into the folder given.
# Damaged: half a PNG, a PNG cut after its first chunks, a PNG whose IDAT
# checksum is wrong, a truncated JPEG, TIFF and WebP. Declared huge: a
# 1-bit PNG that declares 100000 x 100000 pixels and holds 4 rows, a
# 200-byte TIFF declaring the same. Small good files: a float OpenEXR is
# written by the tool itself (hostile_exr).
hostile_inputs() {  # folder [size of the good files, default 400x300]
  local dir=$1
  convert -size "${2:-400x300}" -seed 5 plasma: "PNG32:$dir/good.png"
  convert "$dir/good.png" -quality 90 "$dir/good.jpg"
  convert "$dir/good.png" -compress lzw "$dir/good.tif"
  convert "$dir/good.png" "$dir/good.webp"
  local half
  half=$(( $(stat -c %s "$dir/good.png") / 2 ))
  head -c "$half" "$dir/good.png" >"$dir/half.png"
  head -c 93 "$dir/good.png" >"$dir/cut.png"
  head -c "$(( $(stat -c %s "$dir/good.jpg") / 2 ))" "$dir/good.jpg" >"$dir/truncated.jpg"
  head -c "$(( $(stat -c %s "$dir/good.tif") / 2 ))" "$dir/good.tif" >"$dir/truncated.tif"
  head -c "$(( $(stat -c %s "$dir/good.webp") / 2 ))" "$dir/good.webp" >"$dir/truncated.webp"
  python3 - "$dir" <<'EOF'
import struct, sys, zlib
d = sys.argv[1]

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

good = bytearray(open(d + "/good.png", "rb").read())
at = good.find(b"IDAT")
good[at + 6] ^= 0x55  # the checksum now disagrees
open(d + "/checksum.png", "wb").write(good)

side = 100000
rows = b"".join(b"\0" + bytes((side + 7) // 8) for _ in range(4))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 1, 0, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))
open(d + "/huge.png", "wb").write(png)

# Little-endian TIFF: one directory, one strip of 8 bytes inside the file.
entries = [(256, 4, 1, side), (257, 4, 1, side), (258, 3, 1, 8), (259, 3, 1, 1),
           (262, 3, 1, 1), (273, 4, 1, 8), (277, 3, 1, 1), (278, 4, 1, side),
           (279, 4, 1, 8)]
ifd = 16
tif = b"II*\0" + struct.pack("<I", ifd) + bytes(8)
tif += struct.pack("<H", len(entries))
for tag, kind, count, value in entries:
    tif += struct.pack("<HHII", tag, kind, count, value)
tif += struct.pack("<I", 0)
open(d + "/huge.tif", "wb").write(tif.ljust(200, b"\0"))
EOF
}

# A float OpenEXR of the good PNG, written by the tool under test.
hostile_exr() {  # tessaform-warp, folder
  "$1" "$2/good.png" "$2/good.exr" --to 0,0,1,0,1,1,0,1 --quiet
}
