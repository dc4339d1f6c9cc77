// Shrinking fine patterns: a zone plate and a 1-pixel checkerboard onto
// trapezoids about 4x and 8x smaller, with anti-aliasing off and on, and
// ImageMagick's -distort Perspective (its default, area-filtered EWA) where
// `convert` is installed. Each result is scored against a reference this
// program computes by brute force: (8 x shrink + 1)^2 samples per
// destination pixel mapped through the exact map and averaged over the
// source pixels they hit, on a central crop. Prints: pattern size shrink method seconds PSNR.
//
// GIMP's rows come from a batch run before this one: `--write-cases DIR`
// writes the patterns (as GIMP patterns, which GIMP loads and saves without
// a plug-in process) and the case list for bench/aa_gimp.scm; `--gimp DIR`
// then scores the layers that batch saved, with the call times it recorded.
// AA_BENCH_IMAGEMAGICK=0 leaves ImageMagick out.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "gegl_ref.h"
#include "tessaform.h"

namespace {

using clock_type = std::chrono::steady_clock;
using map_fn = std::function<void(double, double, double *, double *)>;

struct grey_image {
  int width, height;
  std::vector<unsigned char> v;
};

grey_image pattern(const std::string &name, int w, int h) {
  grey_image g{w, h, std::vector<unsigned char>(size_t(w) * h)};
  const double n = std::max(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double v;
      if (name == "zoneplate") {
        // Half a cycle per pixel at n / 2 from the centre.
        const double dx = x + 0.5 - w / 2.0, dy = y + 0.5 - h / 2.0;
        v = 127.5 + 127.5 * std::cos(M_PI * (dx * dx + dy * dy) / n);
      } else {
        v = (x + y) % 2 ? 255 : 0;
      }
      g.v[size_t(y) * w + x] = (unsigned char)std::lround(v);
    }
  return g;
}

// 8 unknowns of the homography taking d[i] to s[i], by Gaussian elimination.
map_fn perspective_map(const float *s, const float *d) {
  double a[8][9] = {};
  for (int i = 0; i < 4; ++i) {
    const double x = d[2 * i], y = d[2 * i + 1], u = s[2 * i], v = s[2 * i + 1];
    const double r0[9] = {x, y, 1, 0, 0, 0, -u * x, -u * y, u};
    const double r1[9] = {0, 0, 0, x, y, 1, -v * x, -v * y, v};
    std::copy(r0, r0 + 9, a[2 * i]);
    std::copy(r1, r1 + 9, a[2 * i + 1]);
  }
  for (int c = 0; c < 8; ++c) {
    int p = c;
    for (int r = c + 1; r < 8; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    std::swap(a[c], a[p]);
    for (int r = 0; r < 8; ++r)
      if (r != c) {
        const double f = a[r][c] / a[c][c];
        for (int k = c; k < 9; ++k) a[r][k] -= f * a[c][k];
      }
  }
  std::vector<double> h(8);
  for (int c = 0; c < 8; ++c) h[c] = a[c][8] / a[c][c];
  return [h](double x, double y, double *u, double *v) {
    const double q = h[6] * x + h[7] * y + 1;
    *u = (h[0] * x + h[1] * y + h[2]) / q;
    *v = (h[3] * x + h[4] * y + h[5]) / q;
  };
}

struct crop {
  int x0, y0, x1, y1;
};

// Box average over each pixel's exact footprint: its n x n sub-pixel
// positions, mapped, land in source pixels that are averaged.
std::vector<double> reference(const grey_image &src, const map_fn &map,
                              const crop &c, int n) {
  std::vector<double> out;
  for (int y = c.y0; y < c.y1; ++y)
    for (int x = c.x0; x < c.x1; ++x) {
      double sum = 0;
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
          double u, v;
          map(x + (i + 0.5) / n, y + (j + 0.5) / n, &u, &v);
          const int px = std::clamp(int(std::floor(u)), 0, src.width - 1);
          const int py = std::clamp(int(std::floor(v)), 0, src.height - 1);
          sum += src.v[size_t(py) * src.width + px];
        }
      out.push_back(sum / (n * n));
    }
  return out;
}

double psnr(const std::vector<double> &ref, const crop &c,
            const std::function<int(int, int)> &at) {
  double se = 0;
  size_t k = 0;
  for (int y = c.y0; y < c.y1; ++y)
    for (int x = c.x0; x < c.x1; ++x, ++k) {
      const double e = at(x, y) - ref[k];
      se += e * e;
    }
  return 10 * std::log10(255.0 * 255.0 / (se / double(k)));
}

double seconds_since(clock_type::time_point t0) {
  return std::chrono::duration<double>(clock_type::now() - t0).count();
}

// One shrink of one pattern: the corners, the crop scored and the
// reference's samples per axis.
struct bench_case {
  std::string name;
  int w, h, shrink;
  float s[8], d[8];
  crop c;
  int n;
};

bench_case bench_case_make(const std::string &name, int w, int h, int shrink) {
  const double a = double(w) / shrink, b = double(h) / shrink, o = 0.2 * a + 5.3;
  bench_case k{name, w, h, shrink,
               {0, 0, float(w), 0, float(w), float(h), 0, float(h)},
               {float(o + 0.1 * a), float(o), float(o + 0.9 * a),
                float(o + 0.05 * b), float(o + 1.1 * a), float(o + b),
                float(o - 0.1 * a), float(o + 0.95 * b)},
               {},
               // Eight or more samples per source pixel, and an odd count:
               // where the map shrinks by a whole number (the crop's centre
               // does), an even count puts sample pairs exactly on pixel
               // edges and a 1-pixel checkerboard's reference comes out 7
               // levels off its true mean.
               8 * shrink + 1};
  // A central crop well inside the quadrangle.
  const int cx = int(o + 0.5 * a), cy = int(o + 0.5 * b);
  const int half = std::min(150, int(std::min(a, b) * 0.3));
  k.c = {cx - half, cy - half, cx + half, cy + half};
  return k;
}

std::vector<bench_case> bench_cases(bool quick) {
  std::vector<bench_case> all;
  for (const char *name : {"zoneplate", "checker"})
    for (auto [w, h] : {std::pair{2000, 2000}, std::pair{4000, 3000}}) {
      if (quick && w > 2000) continue;
      for (int shrink : {4, 8}) all.push_back(bench_case_make(name, w, h, shrink));
    }
  return all;
}

std::string pattern_path(const std::string &dir, const bench_case &k) {
  return dir + "/" + k.name + "-" + std::to_string(k.w) + "x" +
         std::to_string(k.h) + ".pat";
}

// GIMP's pattern file: a big-endian header, a name, then the pixels.
bool pat_write(const std::string &path, const grey_image &g) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const unsigned header[6] = {26, 1, unsigned(g.width), unsigned(g.height), 4,
                              0x47504154};
  for (unsigned v : header)
    for (int shift = 24; shift >= 0; shift -= 8) std::fputc(int(v >> shift) & 255, f);
  std::fwrite("p", 1, 2, f);
  std::vector<unsigned char> row(size_t(g.width) * 4, 255);
  for (int y = 0; y < g.height; ++y) {
    for (int x = 0; x < g.width; ++x)
      row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = g.v[size_t(y) * g.width + x];
    std::fwrite(row.data(), 1, row.size(), f);
  }
  return std::fclose(f) == 0;
}

// The first channel of a pattern file, or an empty image.
grey_image pat_read(const std::string &path) {
  grey_image g{0, 0, {}};
  std::ifstream f(path, std::ios::binary);
  unsigned char h[24];
  if (!f.read(reinterpret_cast<char *>(h), 24)) return g;
  auto at = [&h](int i) {
    return (unsigned(h[4 * i]) << 24) | (unsigned(h[4 * i + 1]) << 16) |
           (unsigned(h[4 * i + 2]) << 8) | unsigned(h[4 * i + 3]);
  };
  const unsigned w = at(2), ht = at(3), bytes = at(4);
  if (at(5) != 0x47504154 || w == 0 || ht == 0 || w > 20000 || ht > 20000 ||
      bytes == 0 || bytes > 4)
    return g;
  std::vector<char> px(size_t(w) * ht * bytes);
  f.seekg(at(0));
  if (!f.read(px.data(), std::streamsize(px.size()))) return g;
  g = {int(w), int(ht), std::vector<unsigned char>(size_t(w) * ht)};
  for (size_t i = 0; i < g.v.size(); ++i) g.v[i] = (unsigned char)px[i * bytes];
  return g;
}

// The patterns and cases.scm, the list bench/aa_gimp.scm runs.
bool write_cases(const std::string &dir, bool quick) {
  std::ofstream list(dir + "/cases.scm");
  list << "(define aa-cases (list\n";
  std::string written;
  for (const bench_case &k : bench_cases(quick)) {
    const std::string path = pattern_path(dir, k);
    if (written != path && !pat_write(path, pattern(k.name, k.w, k.h)))
      return false;
    written = path;
    char corners[256];
    std::snprintf(corners, sizeof corners, "%.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g",
                  k.d[0], k.d[1], k.d[2], k.d[3], k.d[4], k.d[5], k.d[6], k.d[7]);
    list << "  (list \"" << k.name << "\" \"" << k.w << "x" << k.h << "\" "
         << k.shrink << " \"" << path << "\" (list " << corners << "))\n";
  }
  list << "))\n";
  return bool(list.flush());
}

void print_row(const bench_case &k, const std::string &method, double t,
               double q) {
  std::printf("%-9s %dx%d %dx %s %.3f %.1f\n", k.name.c_str(), k.w, k.h,
              k.shrink, method.c_str(), t, q);
  std::fflush(stdout);
}

void run_case(const bench_case &k, const std::string &gimp_dir) {
  const int w = k.w, h = k.h;
  const float *s = k.s, *d = k.d;
  const crop &c = k.c;
  const grey_image src = pattern(k.name, w, h);

  const Babl *format = babl_format("R'G'B'A u8");
  const GeglRectangle extent = {0, 0, w, h};
  gegl_ref<GeglBuffer> source(gegl_buffer_new(&extent, format));
  {
    std::vector<unsigned char> rgba(size_t(w) * h * 4);
    for (size_t i = 0; i < src.v.size(); ++i)
      rgba[4 * i] = rgba[4 * i + 1] = rgba[4 * i + 2] = src.v[i],
      rgba[4 * i + 3] = 255;
    gegl_buffer_set(source.get(), &extent, 0, format, rgba.data(),
                    GEGL_AUTO_ROWSTRIDE);
  }
  warp_vals v{};
  v.interpolation = 1;
  for (int i = 0; i < 8; ++i) (&v.sx0)[i] = s[i], (&v.dx0)[i] = d[i];

  // The engine's own exact map, for its reference.
  warp wp{};
  interpolation in{};
  wp.source_extent = {nullptr, 0, 0, w, h, w, h};
  warp_samples_init(&wp, format);
  interpolation_init(&in, &wp);
  warp_init(&wp, &v, &in);
  const map_fn bilinear = [&wp](double x, double y, double *u, double *vv) {
    float fu, fv;
    warp_convert(&wp, float(x), float(y), &fu, &fv);
    *u = fu, *vv = fv;
  };
  const std::vector<double> ref = reference(src, bilinear, c, k.n);
  const char *const kernels[] = {"nearest", "linear", "cubic", "lanczos"};
  for (int aa = 0; aa <= 1; ++aa)
    for (int kernel : {1, 2, 3}) {
      v.interpolation = kernel;
      v.anti_aliasing = aa;
      const GeglRectangle box = warp_destination_box(&v);
      const GeglRectangle local = {0, 0, box.width, box.height};
      gegl_ref<GeglBuffer> out(gegl_buffer_new(&local, format));
      const auto t0 = clock_type::now();
      tessaform_warp(source.get(), &extent, out.get(), &v, nullptr, nullptr,
                     nullptr);
      const double t = seconds_since(t0);
      std::vector<unsigned char> px(size_t(box.width) * box.height * 4);
      gegl_buffer_get(out.get(), &local, 1.0, format, px.data(),
                      GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
      const double q = psnr(ref, c, [&](int x, int y) {
        return px[(size_t(y - box.y) * box.width + size_t(x - box.x)) * 4];
      });
      print_row(k, std::string("tessaform-") + kernels[kernel] + (aa ? "-aa" : ""),
                t, q);
    }

  // GIMP's transform and ImageMagick's are homographies: scored against
  // their own map.
  std::vector<double> pref;
  auto perspective_ref = [&]() -> const std::vector<double> & {
    if (pref.empty()) pref = reference(src, perspective_map(s, d), c, k.n);
    return pref;
  };

  // Records of the GIMP batch: name size shrink method seconds x y file.
  std::ifstream records(gimp_dir.empty() ? "" : gimp_dir + "/results.txt");
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  for (std::string line; std::getline(records, line);) {
    std::istringstream r(line);
    std::string name, sz, method, secs, file;
    int shrink = 0, ox = 0, oy = 0;
    if (!(r >> name >> sz >> shrink >> method >> secs >> ox >> oy >> file) ||
        name != k.name || sz != size || shrink != k.shrink)
      continue;
    const grey_image out = secs == "fail" ? grey_image{0, 0, {}} : pat_read(file);
    if (out.v.empty()) {
      std::printf("%-9s %s %dx %s failed\n", name.c_str(), sz.c_str(), shrink,
                  method.c_str());
      continue;
    }
    const bool ours = method.rfind("plugin-", 0) == 0;
    const double q = psnr(ours ? ref : perspective_ref(), c, [&](int x, int y) {
      x -= ox, y -= oy;
      if (x < 0 || y < 0 || x >= out.width || y >= out.height) return 0;
      return int(out.v[size_t(y) * out.width + size_t(x)]);
    });
    print_row(k, method, std::atof(secs.c_str()), q);
  }

  const char *im = std::getenv("AA_BENCH_IMAGEMAGICK");
  if ((im && std::string(im) == "0") ||
      std::system("command -v convert >/dev/null 2>&1") != 0)
    return;
  const std::string dir = gimp_dir.empty() ? "/tmp" : gimp_dir;
  const std::string in_path = dir + "/aa_bench_src.pgm",
                    out_path = dir + "/aa_bench_out.pgm";
  if (FILE *f = std::fopen(in_path.c_str(), "wb")) {
    std::fprintf(f, "P5\n%d %d\n255\n", w, h);
    std::fwrite(src.v.data(), 1, src.v.size(), f);
    std::fclose(f);
  }
  char pts[512];
  std::snprintf(pts, sizeof pts,
                "%g,%g %g,%g  %g,%g %g,%g  %g,%g %g,%g  %g,%g %g,%g", s[0],
                s[1], d[0], d[1], s[2], s[3], d[2], d[3], s[4], s[5], d[4],
                d[5], s[6], s[7], d[6], d[7]);
  const std::string cmd = "convert " + in_path +
                          " -virtual-pixel edge -distort Perspective '" + pts +
                          "' -depth 8 " + out_path;
  const auto t0 = clock_type::now();
  if (std::system(cmd.c_str()) != 0) return;
  const double t = seconds_since(t0);
  grey_image im_out{w, h, std::vector<unsigned char>(size_t(w) * h)};
  if (FILE *f = std::fopen(out_path.c_str(), "rb")) {
    int iw = 0, ih = 0, mx = 0;
    if (std::fscanf(f, "P5 %d %d %d", &iw, &ih, &mx) == 3 && iw == w &&
        ih == h) {
      std::fgetc(f);
      if (std::fread(im_out.v.data(), 1, im_out.v.size(), f) != im_out.v.size())
        im_out.v.clear();
    }
    std::fclose(f);
  }
  if (im_out.v.empty()) return;
  const double q = psnr(perspective_ref(), c, [&](int x, int y) {
    return im_out.v[size_t(y) * w + size_t(x)];
  });
  print_row(k, "imagemagick-perspective", t, q);
}

}  // namespace

// aa_bench [--quick] [--write-cases DIR | --gimp DIR]
int main(int argc, char **argv) {
  bool quick = false;
  std::string write_dir, gimp_dir;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick")
      quick = true;
    else if (a == "--write-cases" && i + 1 < argc)
      write_dir = argv[++i];
    else if (a == "--gimp" && i + 1 < argc)
      gimp_dir = argv[++i];
    else {
      std::fprintf(stderr, "usage: aa_bench [--quick] [--write-cases DIR | --gimp DIR]\n");
      return 2;
    }
  }
  if (!write_dir.empty()) return write_cases(write_dir, quick) ? 0 : 1;
  setenv("BABL_INHIBIT_CACHE", "1", 0);
  setenv("GEGL_PATH", "/nonexistent/aa-bench-needs-no-operations", 1);
  gegl_init(nullptr, nullptr);
  std::printf("pattern   size shrink method seconds psnr_db\n");
  for (const bench_case &k : bench_cases(quick)) run_case(k, gimp_dir);
  gegl_exit();
  return 0;
}
