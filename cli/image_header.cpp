#include "image_header.h"

#include <zlib.h>

#include <cstring>

namespace {

// Bounds-checked reads of the file's bytes: a read past the end gives zero
// and marks the reader short, so a parser never leaves the buffer.
struct byte_reader {
  const unsigned char *data;
  size_t size;
  bool little = false;
  bool short_read = false;

  bool has(uint64_t at, uint64_t n) const {
    return at <= size && n <= size - at;
  }
  uint64_t get(uint64_t at, int n) {
    if (!has(at, uint64_t(n))) {
      short_read = true;
      return 0;
    }
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
      const int shift = little ? 8 * i : 8 * (n - 1 - i);
      v |= uint64_t(data[at + i]) << shift;
    }
    return v;
  }
};

header_status damaged(std::string *problem, const std::string &what) {
  *problem = what;
  return HEADER_DAMAGED;
}

header_status cut_short(std::string *problem) {
  return damaged(problem, "the file ends before its image data does");
}

bool starts_with(const unsigned char *data, size_t size, const char *magic,
                 size_t n) {
  return size >= n && std::memcmp(data, magic, n) == 0;
}

// Every chunk's checksum, IHDR first, IDAT present, IEND at the end.
header_status read_png(byte_reader &r, image_header *h, std::string *problem) {
  uint64_t at = 8;
  bool idat = false, trns = false;
  int32_t depth = 0, colour = 0;
  for (int index = 0;; ++index) {
    const uint64_t length = r.get(at, 4);
    if (r.short_read || length > 0x7fffffffu || !r.has(at + 8, length + 4))
      return cut_short(problem);
    char type[5] = {0};
    std::memcpy(type, r.data + at + 4, 4);
    const uint32_t stored = uint32_t(r.get(at + 8 + length, 4));
    const uint32_t crc = uint32_t(
        crc32(crc32(0, nullptr, 0), r.data + at + 4, uInt(length + 4)));
    if (crc != stored)
      return damaged(problem, std::string("the checksum of its ") + type +
                                  " chunk is wrong");
    if (index == 0) {
      if (std::strcmp(type, "IHDR") != 0 || length != 13)
        return damaged(problem, "its first chunk is not a header (IHDR)");
      h->width = int64_t(r.get(at + 8, 4));
      h->height = int64_t(r.get(at + 12, 4));
      depth = int32_t(r.get(at + 16, 1));
      colour = int32_t(r.get(at + 17, 1));
    }
    if (std::strcmp(type, "IDAT") == 0) idat = true;
    if (std::strcmp(type, "tRNS") == 0) trns = true;
    if (std::strcmp(type, "IEND") == 0) break;
    at += 12 + length;
  }
  static const int32_t channels_of[7] = {1, 0, 3, 3, 2, 0, 4};
  const bool depth_ok = depth == 1 || depth == 2 || depth == 4 ||
                        depth == 8 || depth == 16;
  if (colour < 0 || colour > 6 || channels_of[colour] == 0 || !depth_ok)
    return damaged(problem, "its header declares an unknown pixel layout");
  if (!idat) return damaged(problem, "it holds no image data (IDAT)");
  int32_t channels = channels_of[colour];
  if (trns && (colour == 0 || colour == 2 || colour == 3)) ++channels;
  h->bytes_per_pixel = channels * (depth == 16 ? 2 : 1);
  return HEADER_OK;
}

bool jpeg_frame_marker(unsigned m) {
  return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// The frame header gives the size; an end-of-image marker must follow the
// first scan (entropy-coded data never holds 0xFF 0xD9).
header_status read_jpeg(byte_reader &r, image_header *h,
                        std::string *problem) {
  uint64_t at = 2;
  bool frame = false;
  for (;;) {
    if (!r.has(at, 4)) return cut_short(problem);
    if (r.data[at] != 0xFF)
      return damaged(problem, "a marker is missing between its segments");
    const unsigned m = r.data[at + 1];
    if (m == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (m == 0xD9) return damaged(problem, "it ends before any image data");
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {
      at += 2;
      continue;
    }
    const uint64_t length = r.get(at + 2, 2);
    if (length < 2 || !r.has(at + 2, length)) return cut_short(problem);
    if (jpeg_frame_marker(m)) {
      if (length < 8) return damaged(problem, "its frame header is too short");
      const int32_t precision = int32_t(r.get(at + 4, 1));
      h->height = int64_t(r.get(at + 5, 2));
      h->width = int64_t(r.get(at + 7, 2));
      const int32_t components = int32_t(r.get(at + 9, 1));
      if (h->height == 0)
        return damaged(problem, "its frame header declares no height");
      if (components < 1 || components > 4)
        return damaged(problem, "its frame header declares no usable colour");
      // Three-component images become RGB; grey stays grey; CMYK becomes RGBA.
      h->bytes_per_pixel = (components == 1 ? 1 : 4) * (precision > 8 ? 2 : 1);
      frame = true;
    }
    if (m == 0xDA) break;
    at += 2 + length;
  }
  if (!frame) return damaged(problem, "it has no frame header before its data");
  for (uint64_t i = r.size; i-- > at + 1;)
    if (r.data[i - 1] == 0xFF && r.data[i] == 0xD9) return HEADER_OK;
  return damaged(problem, "its data is cut short (no end-of-image marker)");
}

struct tiff_entry {
  uint64_t type;
  uint64_t count;
  uint64_t value_at;  // where the values are: in the entry or at an offset
};

// The first image directory's size, sample layout and strips or tiles,
// whose data must lie within the file.
header_status read_tiff(byte_reader &r, image_header *h,
                        std::string *problem) {
  r.little = r.data[0] == 'I';
  const bool big = r.get(2, 2) == 43;
  const int offset_size = big ? 8 : 4;
  const uint64_t ifd = big ? r.get(8, 8) : r.get(4, 4);
  const uint64_t count = big ? r.get(ifd, 8) : r.get(ifd, 2);
  const uint64_t entry_size = big ? 20 : 12;
  const uint64_t first = ifd + (big ? 8 : 2);
  if (r.short_read || count == 0 || count > 4096 ||
      !r.has(first, count * entry_size))
    return damaged(problem, "its image directory lies beyond the end of the file");
  auto type_size = [](uint64_t type) -> uint64_t {
    switch (type) {
      case 1: case 2: case 6: case 7: return 1;
      case 3: case 8: return 2;
      case 4: case 9: case 11: case 13: return 4;
      case 5: case 10: case 12: case 16: case 17: case 18: return 8;
      default: return 0;
    }
  };
  tiff_entry found[8] = {};
  bool present[8] = {};
  // ImageWidth, ImageLength, BitsPerSample, SamplesPerPixel, StripOffsets,
  // StripByteCounts, TileOffsets, TileByteCounts.
  static const uint64_t tags[8] = {256, 257, 258, 277, 273, 279, 324, 325};
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t e = first + i * entry_size;
    const uint64_t tag = r.get(e, 2);
    tiff_entry t;
    t.type = r.get(e + 2, 2);
    t.count = big ? r.get(e + 4, 8) : r.get(e + 4, 4);
    const uint64_t width = type_size(t.type);
    const uint64_t bytes = width && t.count <= (uint64_t(1) << 40) / width
                               ? width * t.count
                               : ~uint64_t(0);
    const uint64_t field = e + (big ? 12 : 8);
    t.value_at = bytes <= uint64_t(offset_size) ? field : r.get(field, offset_size);
    for (int k = 0; k < 8; ++k)
      if (tag == tags[k]) {
        if (bytes == ~uint64_t(0) || !r.has(t.value_at, bytes))
          return damaged(problem, "a field of its image directory lies beyond "
                                  "the end of the file");
        found[k] = t;
        present[k] = true;
      }
  }
  auto value = [&](int k, uint64_t index) -> uint64_t {
    const tiff_entry &t = found[k];
    if (t.type == 3) return r.get(t.value_at + 2 * index, 2);
    if (t.type == 4) return r.get(t.value_at + 4 * index, 4);
    if (t.type == 16) return r.get(t.value_at + 8 * index, 8);
    return 0;
  };
  if (!present[0] || !present[1])
    return damaged(problem, "its image directory gives no size");
  h->width = int64_t(value(0, 0));
  h->height = int64_t(value(1, 0));
  const uint64_t samples = present[3] ? value(3, 0) : 1;
  uint64_t bits = 8;
  if (present[2])
    for (uint64_t i = 0; i < found[2].count && i < 16; ++i)
      bits = bits > value(2, i) ? bits : value(2, i);
  if (samples < 1 || samples > 16 || bits < 1 || bits > 64)
    return damaged(problem, "its image directory declares an unknown pixel "
                            "layout");
  // Up to four channels after loading, each of up to 32 bits as a float.
  h->bytes_per_pixel = int32_t((samples < 4 ? samples + 1 : 4) *
                               (bits > 16 ? 4 : bits > 8 ? 2 : 1));
  const int offsets = present[4] ? 4 : present[6] ? 6 : -1;
  if (offsets < 0 || !present[offsets + 1] ||
      found[offsets].count != found[offsets + 1].count)
    return damaged(problem, "its image directory does not say where the "
                            "pixels are");
  for (uint64_t i = 0; i < found[offsets].count; ++i) {
    const uint64_t start = value(offsets, i);
    const uint64_t length = value(offsets + 1, i);
    if (!r.has(start, length))
      return damaged(problem, "its pixel data is cut short");
  }
  return HEADER_OK;
}

// Every chunk within the RIFF container and the container within the file;
// the size from VP8X, or else from the VP8 or VP8L bitstream's header.
header_status read_webp(byte_reader &r, image_header *h,
                        std::string *problem) {
  r.little = true;
  const uint64_t riff = r.get(4, 4) + 8;
  if (riff > r.size) return cut_short(problem);
  h->bytes_per_pixel = 4;
  for (uint64_t at = 12; at < riff;) {
    if (!r.has(at, 8)) return cut_short(problem);
    const uint64_t length = r.get(at + 4, 4);
    const unsigned char *type = r.data + at;
    if (at + 8 + length > riff) return cut_short(problem);
    const uint64_t body = at + 8;
    if (std::memcmp(type, "VP8X", 4) == 0 && length >= 10) {
      h->width = int64_t(r.get(body + 4, 3)) + 1;
      h->height = int64_t(r.get(body + 7, 3)) + 1;
    } else if (std::memcmp(type, "VP8 ", 4) == 0 && h->width == 0) {
      if (length < 10) return damaged(problem, "its VP8 frame header is cut short");
      h->width = int64_t(r.get(body + 6, 2) & 0x3fff);
      h->height = int64_t(r.get(body + 8, 2) & 0x3fff);
    } else if (std::memcmp(type, "VP8L", 4) == 0 && h->width == 0) {
      if (length < 5 || r.data[body] != 0x2f)
        return damaged(problem, "its lossless bitstream header is broken");
      const uint64_t bits = r.get(body + 1, 4);
      h->width = int64_t(bits & 0x3fff) + 1;
      h->height = int64_t((bits >> 14) & 0x3fff) + 1;
    }
    at = body + length + (length & 1);
  }
  if (h->width == 0) return damaged(problem, "it holds no image");
  return HEADER_OK;
}

// The header's attributes: dataWindow for the size, channels for the pixel
// width; scan-line files' chunk offsets must lie within the file.
header_status read_exr(byte_reader &r, image_header *h, std::string *problem) {
  r.little = true;
  uint64_t at = 8;
  int64_t x0 = 0, y0 = 0, x1 = -1, y1 = -1;
  int32_t channels = 0, compression = 0;
  bool window = false;
  const bool tiled = (r.get(4, 4) & 0x600) != 0;  // tiles or deep data
  const bool multipart = (r.get(4, 4) & 0x1000) != 0;
  for (int attributes = 0;; ++attributes) {
    if (!r.has(at, 1) || attributes > 1024) return cut_short(problem);
    if (r.data[at] == 0) {
      ++at;
      break;
    }
    const void *name_end = std::memchr(r.data + at, 0, r.size - at);
    if (!name_end) return cut_short(problem);
    const std::string name(reinterpret_cast<const char *>(r.data + at));
    at += name.size() + 1;
    const void *type_end = r.has(at, 1) ? std::memchr(r.data + at, 0, r.size - at)
                                        : nullptr;
    if (!type_end) return cut_short(problem);
    at += std::strlen(reinterpret_cast<const char *>(r.data + at)) + 1;
    const uint64_t length = r.get(at, 4);
    at += 4;
    if (r.short_read || !r.has(at, length)) return cut_short(problem);
    if (name == "dataWindow" && length == 16) {
      x0 = int32_t(r.get(at, 4));
      y0 = int32_t(r.get(at + 4, 4));
      x1 = int32_t(r.get(at + 8, 4));
      y1 = int32_t(r.get(at + 12, 4));
      window = true;
    } else if (name == "channels") {
      for (uint64_t c = at; c < at + length && r.data[c] != 0; ++channels) {
        const void *end = std::memchr(r.data + c, 0, at + length - c);
        if (!end) return damaged(problem, "its channel list is broken");
        c = uint64_t(static_cast<const unsigned char *>(end) - r.data) + 17;
      }
    } else if (name == "compression" && length == 1) {
      compression = int32_t(r.get(at, 1));
    }
    at += length;
  }
  if (!window || x1 < x0 || y1 < y0 || channels < 1)
    return damaged(problem, "its header gives no data window or channels");
  h->width = x1 - x0 + 1;
  h->height = y1 - y0 + 1;
  // Loaded as float RGBA at most.
  h->bytes_per_pixel = 16;
  if (tiled || multipart) return HEADER_OK;
  static const int32_t lines[10] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
  if (compression < 0 || compression > 9)
    return damaged(problem, "its header names an unknown compression");
  const int64_t chunks = (h->height + lines[compression] - 1) / lines[compression];
  if (!r.has(at, uint64_t(chunks) * 8)) return cut_short(problem);
  for (int64_t i = 0; i < chunks; ++i) {
    const uint64_t offset = r.get(at + 8 * uint64_t(i), 8);
    if (!r.has(offset, 8)) return cut_short(problem);
  }
  return HEADER_OK;
}

// Netpbm's text header: magic, width, height and (but for bitmaps) maxval,
// separated by white space and comments; binary data must be all there.
header_status read_pnm(byte_reader &r, image_header *h, std::string *problem) {
  const char kind = char(r.data[1]);
  uint64_t at = 2;
  int64_t fields[3] = {0, 0, 1};
  const int wanted = kind == '1' || kind == '4' ? 2 : 3;
  for (int f = 0; f < wanted; ++f) {
    for (;;) {
      if (!r.has(at, 1)) return cut_short(problem);
      const char c = char(r.data[at]);
      if (c == '#') {
        while (r.has(at, 1) && r.data[at] != '\n') ++at;
      } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        ++at;
      } else {
        break;
      }
    }
    int digits = 0;
    while (r.has(at, 1) && r.data[at] >= '0' && r.data[at] <= '9') {
      if (fields[f] > (int64_t(1) << 40))
        return damaged(problem, "its header declares an impossible size");
      fields[f] = (digits ? fields[f] : 0) * 10 + (r.data[at] - '0');
      ++digits;
      ++at;
    }
    if (digits == 0) return damaged(problem, "its header is not a Netpbm header");
  }
  h->width = fields[0];
  h->height = fields[1];
  const int64_t maxval = fields[2];
  if (maxval < 1 || maxval > 65535)
    return damaged(problem, "its header declares an impossible maximum value");
  const int64_t channels = kind == '3' || kind == '6' ? 3 : 1;
  const int64_t sample = maxval > 255 ? 2 : 1;
  h->bytes_per_pixel = int32_t(channels * sample);
  if (kind == '5' || kind == '6') {
    const unsigned __int128 need = (unsigned __int128)h->width *
                                   uint64_t(h->height) *
                                   uint64_t(channels * sample);
    if (need > r.size || !r.has(at + 1, uint64_t(need)))
      return cut_short(problem);
  }
  return HEADER_OK;
}

// Radiance's text header ends with an empty line; the next line gives the
// size as "-Y H +X W" (or another orientation).
header_status read_hdr(byte_reader &r, image_header *h, std::string *problem) {
  const unsigned char *end = r.data + r.size;
  const unsigned char *p = r.data;
  for (;;) {
    const void *nl = std::memchr(p, '\n', size_t(end - p));
    if (!nl) return cut_short(problem);
    const unsigned char *line_end = static_cast<const unsigned char *>(nl);
    const bool empty = line_end == p;
    p = line_end + 1;
    if (empty) break;
  }
  const void *nl = std::memchr(p, '\n', size_t(end - p));
  if (!nl) return cut_short(problem);
  const std::string line(reinterpret_cast<const char *>(p),
                         static_cast<const unsigned char *>(nl) - p);
  char a[3] = {0}, b[3] = {0};
  long long first = 0, second = 0;
  if (std::sscanf(line.c_str(), "%2s %lld %2s %lld", a, &first, b,
                  &second) != 4 ||
      (a[1] != 'X' && a[1] != 'Y') || first < 0 || second < 0)
    return damaged(problem, "its header has no resolution line");
  h->width = a[1] == 'X' ? first : second;
  h->height = a[1] == 'X' ? second : first;
  h->bytes_per_pixel = 12;
  return HEADER_OK;
}

}  // namespace

header_status image_header_read(const unsigned char *data, size_t size,
                                image_header *header, std::string *problem) {
  *header = image_header{};
  byte_reader r{data, size};
  header_status status = HEADER_NOT_AN_IMAGE;
  if (starts_with(data, size, "\x89PNG\r\n\x1a\n", 8)) {
    header->format = IMAGE_PNG;
    status = read_png(r, header, problem);
  } else if (starts_with(data, size, "\xff\xd8\xff", 3)) {
    header->format = IMAGE_JPEG;
    status = read_jpeg(r, header, problem);
  } else if (starts_with(data, size, "II*\0", 4) ||
             starts_with(data, size, "MM\0*", 4) ||
             starts_with(data, size, "II+\0", 4) ||
             starts_with(data, size, "MM\0+", 4)) {
    header->format = IMAGE_TIFF;
    status = read_tiff(r, header, problem);
  } else if (size >= 12 && starts_with(data, size, "RIFF", 4) &&
             std::memcmp(data + 8, "WEBP", 4) == 0) {
    header->format = IMAGE_WEBP;
    status = read_webp(r, header, problem);
  } else if (starts_with(data, size, "\x76\x2f\x31\x01", 4)) {
    header->format = IMAGE_EXR;
    status = read_exr(r, header, problem);
  } else if (size >= 3 && data[0] == 'P' && data[1] >= '1' && data[1] <= '6') {
    header->format = IMAGE_PNM;
    status = read_pnm(r, header, problem);
  } else if (starts_with(data, size, "#?RADIANCE", 10) ||
             starts_with(data, size, "#?RGBE", 6)) {
    header->format = IMAGE_HDR;
    status = read_hdr(r, header, problem);
  } else {
    *problem = "it is not an image in a format this tool reads (PNG, JPEG, "
               "TIFF, WebP, OpenEXR, PNM, Radiance HDR)";
    return HEADER_NOT_AN_IMAGE;
  }
  if (status == HEADER_OK && (header->width < 1 || header->height < 1))
    return damaged(problem, "its header declares no pixels");
  return status;
}

const char *image_format_loader(image_format format) {
  static const char *const loaders[] = {
      nullptr,          "gegl:png-load",  "gegl:jpg-load",  "gegl:tiff-load",
      "gegl:webp-load", "gegl:exr-load",  "gegl:ppm-load",  "gegl:rgbe-load"};
  return loaders[format];
}

const char *image_format_name(image_format format) {
  static const char *const names[] = {"unknown", "PNG",     "JPEG", "TIFF",
                                      "WebP",    "OpenEXR", "PNM",  "HDR"};
  return names[format];
}
