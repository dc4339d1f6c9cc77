#include "arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

const char *cli_usage() {
  return "usage: tessaform-warp INPUT OUTPUT --to X0,Y0,X1,Y1,X2,Y2,X3,Y3\n"
         "                      [--from X0,Y0,X1,Y1,X2,Y2,X3,Y3]\n"
         "                      [--interpolation nearest|bilinear|cubic|lanczos]\n"
         "                      [--anti-aliasing] [--crop | --over]\n"
         "                      [--threads N] [--max-pixels N] [--quiet]\n"
         "                      [--times]\n"
         "Warps the quadrangle --from of INPUT (default: the whole image) onto\n"
         "the quadrangle --to by a bilinear map, corner i onto corner i, in\n"
         "image pixel coordinates, and writes OUTPUT in the format its\n"
         "extension names.\n"
         "  --interpolation  sampling (default bilinear)\n"
         "  --anti-aliasing  average the source where the warp shrinks it\n"
         "  (default)        OUTPUT has INPUT's size; around the warped\n"
         "                   quadrangle it is transparent (black without alpha)\n"
         "  --crop           OUTPUT is only the destination's bounding box\n"
         "  --over           the warped quadrangle over INPUT\n"
         "  --threads N      render threads (default: one per core)\n"
         "  --max-pixels N   largest INPUT read, in pixels (default 2^30, as\n"
         "                   for a layer in the plug-in)\n"
         "  --quiet          no progress on standard error\n"
         "  --times          where the time went, on standard error\n"
         "Exit status: 0 done; 1 unreadable, damaged or too large input,\n"
         "unwritable output or not enough memory (OUTPUT is then left as it\n"
         "was); 2 bad arguments.\n";
}

bool cli_corners_parse(const char *text, float out[8]) {
  const char *p = text;
  for (int i = 0; i < 8; ++i) {
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(p, &end);
    if (end == p || errno == ERANGE || !std::isfinite(v) ||
        std::fabs(v) > WARP_COORD_LIMIT)
      return false;
    out[i] = static_cast<float>(v);
    p = end;
    if (i < 7) {
      if (*p != ',') return false;
      ++p;
    }
  }
  return *p == '\0';
}

// A whole number from `low` to `high`, nothing else.
static bool count_parse(const char *text, long long low, long long high,
                        long long *out) {
  char *end = nullptr;
  errno = 0;
  const long long n = std::strtoll(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno == ERANGE || n < low || n > high)
    return false;
  *out = n;
  return true;
}

static bool interpolation_parse(const char *name, int32_t *out) {
  static const char *const names[] = {"nearest", "bilinear", "cubic",
                                      "lanczos"};
  for (int32_t i = 0; i < 4; ++i)
    if (std::strcmp(name, names[i]) == 0) {
      *out = i;
      return true;
    }
  return false;
}

bool cli_arguments_parse(cli_arguments *args, int argc, char **argv,
                         std::string *error) {
  bool has_to = false;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    // Options that take a value take the next word.
    static const char *const valued_options[] = {
        "--from", "--to", "--interpolation", "--threads", "--max-pixels"};
    bool valued = false;
    for (const char *o : valued_options) valued = valued || a == o;
    if (valued && i + 1 >= argc) {
      *error = a + " needs a value";
      return false;
    }
    if (a == "--help" || a == "-h") {
      args->help = true;
    } else if (a == "--from" || a == "--to") {
      float *dst = a == "--from" ? args->from : args->to;
      if (!cli_corners_parse(argv[++i], dst)) {
        *error = a + " needs eight numbers X0,Y0,X1,Y1,X2,Y2,X3,Y3, got \"" +
                 argv[i] + "\"";
        return false;
      }
      (a == "--from" ? args->has_from : has_to) = true;
    } else if (a == "--interpolation") {
      if (!interpolation_parse(argv[++i], &args->interpolation)) {
        *error = std::string("unknown interpolation \"") + argv[i] +
                 "\" (nearest, bilinear, cubic or lanczos)";
        return false;
      }
    } else if (a == "--threads") {
      long long n = 0;
      if (!count_parse(argv[++i], 1, 1024, &n)) {
        *error = std::string("--threads needs a count from 1 to 1024, got \"") +
                 argv[i] + "\"";
        return false;
      }
      args->threads = int32_t(n);
    } else if (a == "--max-pixels") {
      long long n = 0;
      if (!count_parse(argv[++i], 1, INT64_MAX / 64, &n)) {
        *error = std::string("--max-pixels needs a positive count, got \"") +
                 argv[i] + "\"";
        return false;
      }
      args->max_pixels = n;
    } else if (a == "--anti-aliasing") {
      args->anti_aliasing = 1;
    } else if (a == "--crop" || a == "--over") {
      const output_mode m = a == "--crop" ? OUTPUT_CROP : OUTPUT_OVER;
      if (args->mode != OUTPUT_IMAGE && args->mode != m) {
        *error = "--crop and --over exclude each other";
        return false;
      }
      args->mode = m;
    } else if (a == "--quiet" || a == "-q") {
      args->quiet = true;
    } else if (a == "--times") {
      args->times = true;
    } else if (a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a;
      return false;
    } else if (positional == 0) {
      args->input = a;
      ++positional;
    } else if (positional == 1) {
      args->output = a;
      ++positional;
    } else {
      *error = "one INPUT and one OUTPUT only, got also \"" + a + "\"";
      return false;
    }
  }
  if (args->help) return true;
  if (positional < 2) {
    *error = "INPUT and OUTPUT are needed";
    return false;
  }
  if (!has_to) {
    *error = "--to is needed";
    return false;
  }
  return true;
}
