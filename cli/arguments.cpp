#include "arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "rectify.h"

const char *cli_usage() {
  return "usage: tessaform-warp INPUT OUTPUT --to X0,Y0,X1,Y1,X2,Y2,X3,Y3\n"
         "                      [--from X0,Y0,X1,Y1,X2,Y2,X3,Y3]\n"
         "                      [--mapping bilinear|perspective]\n"
         "                      [--interpolation nearest|bilinear|cubic|lanczos]\n"
         "                      [--anti-aliasing] [--crop | --over]\n"
         "                      [--threads N] [--max-pixels N] [--quiet]\n"
         "                      [--times]\n"
         "       tessaform-warp INPUT OUTPUT --rectify --from X0,Y0,...,X3,Y3\n"
         "                      [--aspect W:H | --size WxH] [other options]\n"
         "Warps the quadrangle --from of INPUT (default: the whole image) onto\n"
         "the quadrangle --to, corner i onto corner i, in image pixel\n"
         "coordinates, and writes OUTPUT in the format its extension names.\n"
         "  --mapping        bilinear (default): the source spaced evenly between\n"
         "                   the corners; perspective: straight lines stay\n"
         "                   straight, as a camera sees a plane (both\n"
         "                   quadrangles must be convex)\n"
         "  --interpolation  sampling (default bilinear)\n"
         "  --anti-aliasing  average the source where the warp shrinks it\n"
         "  (default)        OUTPUT has INPUT's size; around the warped\n"
         "                   quadrangle it is transparent (black without alpha)\n"
         "  --crop           OUTPUT is only the destination's bounding box\n"
         "  --over           the warped quadrangle over INPUT\n"
         "  --threads N      render threads (default: one per core)\n"
         "  --max-pixels N   largest INPUT read, in pixels (default 2^30, as\n"
         "                   for a layer in the plug-in)\n"
         "  --quiet          no progress on standard error, no estimate\n"
         "  --times          where the time went, on standard error\n"
         "  --rectify        --from is a photographed rectangle (its corners in\n"
         "                   order round it, from any corner): OUTPUT is that\n"
         "                   rectangle flattened, upright, at the proportions\n"
         "                   estimated from the photograph (printed on standard\n"
         "                   output), its longer side as long as the\n"
         "                   quadrangle's longer sides; perspective mapping\n"
         "  --aspect W:H     with --rectify: these proportions instead\n"
         "  --size WxH       with --rectify: this size (one side 0: from the\n"
         "                   proportions)\n"
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

// "W:H", two positive finite numbers, as W / H.
static bool aspect_parse(const char *text, double *out) {
  char *end = nullptr;
  errno = 0;
  const double w = std::strtod(text, &end);
  if (end == text || *end != ':' || errno == ERANGE) return false;
  const char *rest = end + 1;
  const double h = std::strtod(rest, &end);
  if (end == rest || *end != '\0' || errno == ERANGE) return false;
  if (!(w > 0.0) || !(h > 0.0) || !std::isfinite(w / h) || w / h <= 0.0)
    return false;
  *out = w / h;
  return true;
}

// "WxH", whole numbers from 0 to 524288, not both 0.
static bool size_parse(const char *text, int32_t *w, int32_t *h) {
  long sides[2];
  const char *p = text;
  for (int i = 0; i < 2; ++i) {
    char *end = nullptr;
    if (*p < '0' || *p > '9') return false;
    sides[i] = std::strtol(p, &end, 10);
    if (sides[i] > WARP_MAX_SIDE || *end != (i ? '\0' : 'x')) return false;
    p = end + 1;
  }
  if (sides[0] == 0 && sides[1] == 0) return false;
  *w = int32_t(sides[0]);
  *h = int32_t(sides[1]);
  return true;
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
        "--from",   "--to",     "--interpolation", "--threads",
        "--max-pixels", "--mapping", "--aspect",   "--size"};
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
    } else if (a == "--mapping") {
      const std::string m = argv[++i];
      if (m != "bilinear" && m != "perspective") {
        *error = "unknown mapping \"" + m + "\" (bilinear or perspective)";
        return false;
      }
      args->mapping = m == "bilinear" ? WARP_BILINEAR : WARP_PERSPECTIVE;
    } else if (a == "--rectify") {
      args->rectify = true;
    } else if (a == "--aspect") {
      if (!aspect_parse(argv[++i], &args->aspect)) {
        *error = std::string("--aspect needs W:H, two positive numbers, got \"") +
                 argv[i] + "\"";
        return false;
      }
    } else if (a == "--size") {
      if (!size_parse(argv[++i], &args->size_w, &args->size_h)) {
        *error = std::string("--size needs WxH, whole numbers up to 524288 and "
                             "not both 0, got \"") +
                 argv[i] + "\"";
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
  if (args->rectify) {
    if (has_to || !args->has_from || args->mode != OUTPUT_IMAGE) {
      *error = "--rectify needs --from (the photographed rectangle's corners) "
               "and takes no --to, --crop or --over: the output is the "
               "rectangle";
      return false;
    }
    if (args->aspect > 0.0 && args->size_w > 0 && args->size_h > 0) {
      *error = "--aspect and a --size with both sides exclude each other";
      return false;
    }
    return true;
  }
  if (args->aspect > 0.0 || args->size_w > 0 || args->size_h > 0) {
    *error = "--aspect and --size go with --rectify";
    return false;
  }
  if (!has_to) {
    *error = "--to is needed";
    return false;
  }
  return true;
}

bool cli_rectify_settings(const cli_arguments &args, const GeglRectangle &extent,
                          warp_vals *vals, GeglRectangle *area,
                          std::string *report, std::string *error) {
  point quad[4];
  for (int i = 0; i < 4; ++i) quad[i] = point_init(args.from[2 * i], args.from[2 * i + 1]);
  rectify_estimate e;
  if (const char *refusal = rectify_estimate_init(&e, quad, extent)) {
    *error = std::string("--from cannot be a photographed rectangle: ") + refusal;
    return false;
  }
  int32_t w = 0, h = 0;
  rectify_size(&e, args.aspect > 0.0 ? args.aspect : e.aspect, args.size_w,
               args.size_h, &w, &h);
  rectify_vals(&e, w, h, vals);
  if (args.mapping >= 0) vals->mapping = args.mapping;
  *area = GeglRectangle{0, 0, w, h};
  char text[512];
  rectify_describe(&e, text, sizeof text);
  *report = std::string(text) + "; output " + std::to_string(w) + " x " +
            std::to_string(h) +
            (args.aspect > 0.0 || args.size_w > 0 || args.size_h > 0
                 ? " (as asked)"
                 : "");
  return true;
}
