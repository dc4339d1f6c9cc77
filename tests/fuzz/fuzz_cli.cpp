// libFuzzer target over tessaform-warp's argument parsing and its checks of
// an input file's bytes (header sizes, damaged structure) and the limits
// that follow from them. Input: one byte giving the number of arguments,
// the arguments each ended by a zero byte, then the file's bytes. Aborts
// when a parse accepts what it must not or a check gives an impossible
// answer; ASan and UBSan catch reads out of bounds and overflows.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "arguments.h"
#include "image_header.h"
#include "run_limits.h"

namespace {

[[noreturn]] void fail(const char *what) {
  std::fprintf(stderr, "tessaform_cli_fuzz: %s\n", what);
  std::abort();
}

void check_arguments(const cli_arguments &a) {
  if (a.help) return;
  if (a.interpolation < 0 || a.interpolation > 3) fail("interpolation out of range");
  if (a.threads < 0 || a.threads > 1024) fail("threads out of range");
  if (a.max_pixels < 1) fail("--max-pixels below 1 accepted");
  for (float v : a.to)
    if (!(std::fabs(v) <= WARP_COORD_LIMIT)) fail("a --to corner out of range");
  if (a.has_from)
    for (float v : a.from)
      if (!(std::fabs(v) <= WARP_COORD_LIMIT)) fail("a --from corner out of range");
}

void check_header(const unsigned char *data, size_t size, const cli_arguments &a,
                  bool parsed) {
  image_header h;
  std::string problem;
  const header_status status = image_header_read(data, size, &h, &problem);
  if (status != HEADER_OK) {
    if (problem.empty()) fail("a refusal without a reason");
    return;
  }
  if (h.format == IMAGE_UNKNOWN || !image_format_loader(h.format))
    fail("accepted without a loader");
  if (h.width < 1 || h.height < 1) fail("accepted without pixels");
  if (h.bytes_per_pixel < 1 || h.bytes_per_pixel > 16) fail("impossible pixel width");
  const int64_t max_pixels = parsed ? a.max_pixels : INPUT_MAX_PIXELS;
  if (!input_limit_check(h, max_pixels).empty()) return;
  if (h.width > INPUT_MAX_SIDE || h.height > INPUT_MAX_SIDE ||
      h.width * h.height > max_pixels)
    fail("a size over the limit passed");
  run_sizes s{};
  s.input_pixels = h.width * h.height;
  s.input_bytes_per_pixel = h.bytes_per_pixel;
  s.warp_bytes_per_pixel = h.bytes_per_pixel;
  s.destination_pixels = WARP_MAX_PIXELS;
  s.output_pixels = s.input_pixels;
  s.output_width = h.width;
  s.alpha_copy = s.anti_aliasing = true;
  s.strip_rows = 256;
  s.saver_bytes_per_pixel = 16;
  if (run_memory_need(s) < s.input_pixels * h.bytes_per_pixel)
    fail("memory need below the decoded input");
  if (const output_format *f = output_format_for(parsed ? a.output : "x.jpg"))
    output_limit_check(*f, h.width, h.height, h.bytes_per_pixel);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const size_t words = data[0] % 16;
  size_t at = 1;
  std::vector<std::string> held;
  while (held.size() < words && at < size) {
    const void *end = std::memchr(data + at, 0, size - at);
    const size_t n = end ? size_t(static_cast<const uint8_t *>(end) - (data + at))
                         : size - at;
    held.emplace_back(reinterpret_cast<const char *>(data + at), n);
    at += n + 1;
  }
  std::vector<char *> argv = {const_cast<char *>("tessaform-warp")};
  for (std::string &w : held) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  cli_arguments a;
  std::string error;
  const bool parsed = cli_arguments_parse(&a, int(argv.size() - 1), argv.data(), &error);
  if (parsed) check_arguments(a);
  else if (error.empty()) fail("a refused line without a reason");
  if (!held.empty()) {
    float corners[8];
    cli_corners_parse(held[0].c_str(), corners);
  }
  const size_t file = at < size ? at : size;
  check_header(data + file, size - file, a, parsed);
  return 0;
}
