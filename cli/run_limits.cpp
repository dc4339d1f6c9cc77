#include "run_limits.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <glib.h>

namespace {

// libjpeg refuses a side over JPEG_MAX_DIMENSION (65500) and ends the
// process when asked; libwebp's limit is WEBP_MAX_DIMENSION; GEGL's TIFF
// saver writes classic TIFF, whose offsets are 32 bits.
// The savers' copies: GEGL's EXR and HDR savers take float RGBA, the TIFF
// saver up to that, the others 8 or 16-bit RGB(A).
const output_format formats[] = {
    {".png", "PNG", "gegl:png-save", 0x7fffffff, 0, true, 0},
    {".jpg", "JPEG", "gegl:jpg-save", 65500, 0, false, 4},
    {".jpeg", "JPEG", "gegl:jpg-save", 65500, 0, false, 4},
    {".tif", "TIFF", "gegl:tiff-save", 0xffffffffLL, 0xffffffffLL, false, 16},
    {".tiff", "TIFF", "gegl:tiff-save", 0xffffffffLL, 0xffffffffLL, false, 16},
    {".webp", "WebP", "gegl:webp-save", 16383, 0, false, 8},
    {".exr", "OpenEXR", "gegl:exr-save", 0x7fffffff, 0, false, 16},
    {".ppm", "PPM", "gegl:ppm-save", 0x7fffffff, 0, false, 8},
    {".pgm", "PGM", "gegl:ppm-save", 0x7fffffff, 0, false, 8},
    {".hdr", "Radiance HDR", "gegl:rgbe-save", 0x7fffffff, 0, false, 16},
};

std::string text(const char *format, ...) G_GNUC_PRINTF(1, 2);
std::string text(const char *format, ...) {
  va_list args;
  va_start(args, format);
  gchar *s = g_strdup_vprintf(format, args);
  va_end(args);
  std::string out = s;
  g_free(s);
  return out;
}

// A "Field: N kB" line of a /proc file (meminfo, self/status) in bytes, or
// -1.
int64_t proc_field(const char *path, const char *field) {
  FILE *f = std::fopen(path, "r");
  if (!f) return -1;
  char line[256];
  int64_t value = -1;
  const size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
      long long kb = 0;
      if (std::sscanf(line + n + 1, "%lld", &kb) == 1) value = kb * 1024;
      break;
    }
  std::fclose(f);
  return value;
}

}  // namespace

const output_format *output_format_for(const std::string &path) {
  const char *dot = std::strrchr(path.c_str(), '.');
  const char *slash = std::strrchr(path.c_str(), '/');
  if (!dot || (slash && dot < slash)) return nullptr;
  for (const output_format &f : formats)
    if (g_ascii_strcasecmp(dot, f.extension) == 0) return &f;
  return nullptr;
}

std::string input_limit_check(const image_header &h, int64_t max_pixels) {
  if (h.width > INPUT_MAX_SIDE || h.height > INPUT_MAX_SIDE)
    return text("it declares %lld x %lld pixels; a side may have at most "
                "%lld",
                (long long)h.width, (long long)h.height,
                (long long)INPUT_MAX_SIDE);
  if (h.width * h.height > max_pixels)
    return text("it declares %lld x %lld = %lld pixels, more than the %lld "
                "allowed (--max-pixels N allows more)",
                (long long)h.width, (long long)h.height,
                (long long)(h.width * h.height), (long long)max_pixels);
  return std::string();
}

std::string output_limit_check(const output_format &f, int64_t width,
                               int64_t height, int64_t bytes_per_pixel) {
  if (width > f.max_side || height > f.max_side)
    return text("%s files hold at most %lld pixels on a side; the output "
                "would be %lld x %lld",
                f.name, (long long)f.max_side, (long long)width,
                (long long)height);
  if (f.max_bytes > 0 && width * height * bytes_per_pixel > f.max_bytes)
    return text("%s files as written here hold at most %s of pixels; the "
                "output would have %s",
                f.name, memory_text(f.max_bytes).c_str(),
                memory_text(width * height * bytes_per_pixel).c_str());
  return std::string();
}

int64_t run_memory_need(const run_sizes &s) {
  // The libraries, GEGL's state and the threads' stacks.
  const int64_t fixed = int64_t(64) << 20;
  const int64_t source = s.input_pixels * s.input_bytes_per_pixel;
  const int64_t warp_source = s.input_pixels * s.warp_bytes_per_pixel;
  // Some loaders hold a whole decoded copy of their own while they fill
  // the buffer.
  const int64_t loading = 2 * source;
  // The warp reads what its bands reach of the source, at most all of it;
  // anti-aliasing keeps reduced float copies, a third of the source's
  // pixels at up to four floats.
  int64_t rendering = source + warp_source;
  if (s.alpha_copy) rendering += warp_source;
  if (s.anti_aliasing) rendering += s.input_pixels * 16 / 3;
  if (s.strips) {
    // A strip being rendered, one being converted and one being written.
    rendering += 3 * s.output_width * s.strip_rows * s.warp_bytes_per_pixel;
  } else {
    // The destination, the image placed for the file, and the saver's copy.
    rendering += s.destination_pixels * s.warp_bytes_per_pixel +
                 s.output_pixels * s.warp_bytes_per_pixel +
                 s.output_pixels * s.saver_bytes_per_pixel;
  }
  return fixed + std::max(loading, rendering);
}

int64_t run_memory_available() {
  int64_t available = -1;
  const int64_t memory = proc_field("/proc/meminfo", "MemAvailable");
  if (memory >= 0)
    available = memory + std::max<int64_t>(proc_field("/proc/meminfo", "SwapFree"), 0);
  struct limit_kind {
    int resource;
    const char *used;
  };
  const limit_kind kinds[] = {{RLIMIT_AS, "VmSize"}, {RLIMIT_DATA, "VmData"}};
  for (const limit_kind &k : kinds) {
    rlimit l;
    if (getrlimit(k.resource, &l) != 0 || l.rlim_cur == RLIM_INFINITY) continue;
    const int64_t left =
        int64_t(l.rlim_cur) - std::max<int64_t>(proc_field("/proc/self/status", k.used), 0);
    available = available < 0 ? left : std::min(available, left);
  }
  return available;
}

std::string memory_text(int64_t bytes) {
  if (bytes >= (int64_t(1) << 30))
    return text("%.1f GB", double(bytes) / double(int64_t(1) << 30));
  return text("%lld MB", (long long)((bytes + (1 << 20) - 1) >> 20));
}
