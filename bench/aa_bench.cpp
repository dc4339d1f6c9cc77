// Shrinking fine patterns: a zone plate and a checkerboard of 3-pixel cells
// onto trapezoids about 4x, 8x and 32x smaller, by the engine with
// anti-aliasing off and on, by GIMP's perspective transform and by
// ImageMagick's -distort Perspective (EWA) run in linear light. Each result
// is scored on a central crop against the band-limited reference (the
// pattern's exact warp in linear light, low-passed by Lanczos-3 at the
// destination's rate: bench/aa_reference.cpp), and against the former box
// reference (source pixels averaged over each pixel's footprint in the
// image's own curve), with the zone plate's residual aliasing. The engine's
// rows are timed on one thread, median of AA_BENCH_REPS runs (default 3):
// seconds of wall time, and ns_per_px, the call's CPU time per destination
// pixel inside the quadrangle (the flag-off rows of the same run are its
// baseline).
//
// Prints: pattern size shrink method seconds ns_per_px psnr_db
// psnr_box_db residual_pct, "-" where a figure does not apply; a zone
// plate's "reference" row gives the reference's own residual.
//
// GIMP's rows come from a batch run before this one: `--write-cases DIR`
// writes the patterns (as GIMP patterns, which GIMP loads and saves without
// a plug-in process) and the case list for bench/aa_gimp.scm; `--gimp DIR`
// then scores the layers that batch saved, with the call times it recorded.
// AA_BENCH_IMAGEMAGICK=0 leaves ImageMagick out.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "aa_reference.h"
#include "clocks.h"
#include "gegl_ref.h"
#include "tessaform.h"

namespace {

const char *const IMAGEMAGICK = "/usr/bin/convert";

struct grey_image {
  int width, height;
  std::vector<unsigned char> v;
};

grey_image source_image(const pattern &p) {
  grey_image g{p.width, p.height,
               std::vector<unsigned char>(size_t(p.width) * p.height)};
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      g.v[size_t(y) * p.width + x] =
          (unsigned char)std::lround(p.at(x + 0.5, y + 0.5));
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

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// One shrink of one pattern: the corners, the crop scored and the
// references' samples per axis per destination pixel.
struct bench_case {
  pattern p;
  int shrink;
  float s[8], d[8];
  crop c;
  int dense;  // band-limited reference
  int box;    // box reference
};

bench_case bench_case_make(const std::string &name, int w, int h, int shrink) {
  const double a = double(w) / shrink, b = double(h) / shrink, o = 0.2 * a + 5.3;
  bench_case k{{name, w, h},
               shrink,
               {0, 0, float(w), 0, float(w), float(h), 0, float(h)},
               {float(o + 0.1 * a), float(o), float(o + 0.9 * a),
                float(o + 0.05 * b), float(o + 1.1 * a), float(o + b),
                float(o - 0.1 * a), float(o + 0.95 * b)},
               {},
               // Four samples per source pixel resolve the zone plate's
               // highest frequency in the crop twice over; the checkerboard's
               // cells are integrated over each sample's box, and eight
               // samples give its reference within 70 dB of four's at 4x.
               4 * shrink + 1,
               // An odd count: where the map shrinks by a whole number (the
               // crop's centre does), an even count puts sample pairs
               // exactly on pixel edges.
               std::min(8 * shrink + 1, 129)};
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
      for (int shrink : {4, 8, 32})
        all.push_back(bench_case_make(name, w, h, shrink));
    }
  return all;
}

std::string size_name(const pattern &p) {
  return std::to_string(p.width) + "x" + std::to_string(p.height);
}

std::string pattern_path(const std::string &dir, const bench_case &k) {
  return dir + "/" + k.p.name + "-" + size_name(k.p) + ".pat";
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
    if (written != path && !pat_write(path, source_image(k.p))) return false;
    written = path;
    char corners[256];
    std::snprintf(corners, sizeof corners, "%.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g",
                  k.d[0], k.d[1], k.d[2], k.d[3], k.d[4], k.d[5], k.d[6], k.d[7]);
    list << "  (list \"" << k.p.name << "\" \"" << size_name(k.p) << "\" "
         << k.shrink << " \"" << path << "\" (list " << corners << "))\n";
  }
  list << "))\n";
  return bool(list.flush());
}

// One scored result: the band-limited and box references it is held
// against, and where it lies in the destination.
struct scoring {
  const bench_case &k;
  const map_fn &map;
  const std::vector<double> &band_limited;
  const std::vector<double> &box;
};

void print_row(const scoring &s, const std::string &method, double seconds,
               double ns_per_px, const result_fn &at) {
  const bench_case &k = s.k;
  char ns[32] = "-", residual[32] = "-";
  if (ns_per_px > 0) std::snprintf(ns, sizeof ns, "%.0f", ns_per_px);
  if (k.p.name == "zoneplate") {
    const double r = residual_aliasing(k.p, s.map, k.c, at);
    if (r >= 0) std::snprintf(residual, sizeof residual, "%.2f", r);
  }
  std::printf("%-9s %s %dx %s %.3f %s %.1f %.1f %s\n", k.p.name.c_str(),
              size_name(k.p).c_str(), k.shrink, method.c_str(), seconds, ns,
              psnr(s.band_limited, k.c, at), psnr(s.box, k.c, at), residual);
  std::fflush(stdout);
}

// The engine in process on one thread: the median wall and CPU times of
// `reps` calls (the CPU time counts only while the call runs: other load
// on the machine inflates it far less) and the last call's layer.
struct engine_run {
  double seconds;
  double cpu;
  int64_t rendered;  // destination pixels inside the quadrangle
  GeglRectangle box;
  std::vector<unsigned char> px;  // R'G'B'A u8 over the box
};

engine_run run_engine(GeglBuffer *source, const GeglRectangle &extent,
                      const warp_vals &v, int reps) {
  const Babl *format = babl_format("R'G'B'A u8");
  engine_run r{0, 0, 0, warp_destination_box(&v), {}};
  const GeglRectangle local = {0, 0, r.box.width, r.box.height};
  const warp_render_options one_thread = {0, 1};
  std::vector<double> times, cpu;
  for (int i = 0; i < reps; ++i) {
    gegl_ref<GeglBuffer> out(gegl_buffer_new(&local, format));
    const double t0 = now();
    const double c0 = cpu_now();
    tessaform_warp(source, &extent, out.get(), &v, &one_thread, nullptr,
                   nullptr);
    cpu.push_back(cpu_now() - c0);
    times.push_back(now() - t0);
    if (i + 1 < reps) continue;
    r.px.resize(size_t(r.box.width) * r.box.height * 4);
    gegl_buffer_get(out.get(), &local, 1.0, format, r.px.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  }
  r.seconds = median(times);
  r.cpu = median(cpu);
  for (size_t i = 3; i < r.px.size(); i += 4) r.rendered += r.px[i] != 0;
  return r;
}

// ImageMagick's EWA in linear light over the destination box (its whole
// canvas would take minutes: the pixels beyond the quadrangle reach far);
// an empty image when it fails.
grey_image imagemagick(const bench_case &k, const grey_image &src,
                       const GeglRectangle &box, const std::string &dir,
                       double *seconds) {
  const std::string in_path = dir + "/aa_bench_src.pgm",
                    out_path = dir + "/aa_bench_out.pgm";
  if (FILE *f = std::fopen(in_path.c_str(), "wb")) {
    std::fprintf(f, "P5\n%d %d\n255\n", src.width, src.height);
    std::fwrite(src.v.data(), 1, src.v.size(), f);
    std::fclose(f);
  }
  const float *s = k.s, *d = k.d;
  char pts[512];
  std::snprintf(pts, sizeof pts,
                "%g,%g %g,%g  %g,%g %g,%g  %g,%g %g,%g  %g,%g %g,%g", s[0],
                s[1], d[0], d[1], s[2], s[3], d[2], d[3], s[4], s[5], d[4],
                d[5], s[6], s[7], d[6], d[7]);
  char viewport[96];
  std::snprintf(viewport, sizeof viewport, "%dx%d%+d%+d", box.width,
                box.height, box.x, box.y);
  const std::string cmd = std::string(IMAGEMAGICK) + " " + in_path +
                          " -colorspace RGB -virtual-pixel edge -define"
                          " distort:viewport=" + viewport +
                          " -distort Perspective '" + pts +
                          "' -colorspace sRGB -depth 8 " + out_path;
  grey_image out{box.width, box.height, {}};
  const double t0 = now();
  if (std::system(cmd.c_str()) != 0) return out;
  *seconds = now() - t0;
  if (FILE *f = std::fopen(out_path.c_str(), "rb")) {
    int iw = 0, ih = 0, mx = 0;
    out.v.resize(size_t(box.width) * box.height);
    if (std::fscanf(f, "P5 %d %d %d", &iw, &ih, &mx) != 3 || iw != box.width ||
        ih != box.height || std::fgetc(f) == EOF ||
        std::fread(out.v.data(), 1, out.v.size(), f) != out.v.size())
      out.v.clear();
    std::fclose(f);
  }
  return out;
}

void run_case(const bench_case &k, const std::string &gimp_dir, int reps) {
  const int w = k.p.width, h = k.p.height;
  const grey_image src = source_image(k.p);

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
  for (int i = 0; i < 8; ++i) (&v.sx0)[i] = k.s[i], (&v.dx0)[i] = k.d[i];

  // The engine's own exact map, for its references.
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
  const std::vector<double> ref =
      reference_band_limited(k.p, bilinear, k.c, k.dense);
  const std::vector<double> ref_box =
      reference_box(k.p, src.v, bilinear, k.c, k.box);
  const scoring ours = {k, bilinear, ref, ref_box};
  if (k.p.name == "zoneplate") {
    // The reference's own residual: what Lanczos-3 lets through.
    const double floor = residual_aliasing(k.p, bilinear, k.c, [&](int x, int y) {
      return ref[size_t(y - k.c.y0) * size_t(k.c.width()) + size_t(x - k.c.x0)];
    });
    std::printf("%-9s %s %dx reference - - - - %.2f\n", k.p.name.c_str(),
                size_name(k.p).c_str(), k.shrink, floor);
  }

  const char *const kernels[] = {"nearest", "linear", "cubic", "lanczos"};
  const struct {
    int kernel, aa;
  } runs[] = {{1, 0}, {3, 0}, {1, 1}};
  for (const auto &run : runs) {
    v.interpolation = run.kernel;
    v.anti_aliasing = run.aa;
    const engine_run r = run_engine(source.get(), extent, v, reps);
    print_row(ours,
              std::string("tessaform-") + kernels[run.kernel] + (run.aa ? "-aa" : ""),
              r.seconds, r.cpu * 1e9 / double(std::max<int64_t>(1, r.rendered)),
              [&](int x, int y) {
                return r.px[(size_t(y - r.box.y) * r.box.width +
                             size_t(x - r.box.x)) * 4];
              });
  }

  // GIMP's transform and ImageMagick's are homographies: scored against
  // their own map.
  const map_fn homography = perspective_map(k.s, k.d);
  std::vector<double> pref, pbox;
  auto theirs = [&]() {
    if (pref.empty()) {
      pref = reference_band_limited(k.p, homography, k.c, k.dense);
      pbox = reference_box(k.p, src.v, homography, k.c, k.box);
    }
    return scoring{k, homography, pref, pbox};
  };

  // Records of the GIMP batch: name size shrink method seconds x y file.
  std::ifstream records(gimp_dir.empty() ? "" : gimp_dir + "/results.txt");
  for (std::string line; std::getline(records, line);) {
    std::istringstream r(line);
    std::string name, sz, method, secs, file;
    int shrink = 0, ox = 0, oy = 0;
    if (!(r >> name >> sz >> shrink >> method >> secs >> ox >> oy >> file) ||
        name != k.p.name || sz != size_name(k.p) || shrink != k.shrink)
      continue;
    const grey_image out = secs == "fail" ? grey_image{0, 0, {}} : pat_read(file);
    if (out.v.empty()) {
      std::printf("%-9s %s %dx %s failed\n", name.c_str(), sz.c_str(), shrink,
                  method.c_str());
      continue;
    }
    const bool plugin = method.rfind("plugin-", 0) == 0;
    print_row(plugin ? ours : theirs(), method, std::atof(secs.c_str()), -1,
              [&](int x, int y) {
                x -= ox, y -= oy;
                if (x < 0 || y < 0 || x >= out.width || y >= out.height) return 0;
                return int(out.v[size_t(y) * out.width + size_t(x)]);
              });
  }

  const char *im = std::getenv("AA_BENCH_IMAGEMAGICK");
  if ((im && std::string(im) == "0") ||
      std::system((std::string("test -x ") + IMAGEMAGICK).c_str()) != 0)
    return;
  double seconds = 0;
  const GeglRectangle box = warp_destination_box(&v);
  const grey_image out = imagemagick(k, src, box,
                                     gimp_dir.empty() ? "/tmp" : gimp_dir, &seconds);
  if (out.v.empty()) {
    std::printf("%-9s %s %dx imagemagick-ewa-linear failed\n",
                k.p.name.c_str(), size_name(k.p).c_str(), k.shrink);
    return;
  }
  print_row(theirs(), "imagemagick-ewa-linear", seconds, -1, [&](int x, int y) {
    return out.v[size_t(y - box.y) * box.width + size_t(x - box.x)];
  });
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
  const char *reps_env = std::getenv("AA_BENCH_REPS");
  const int reps = std::max(1, reps_env ? std::atoi(reps_env) : 3);
  setenv("BABL_INHIBIT_CACHE", "1", 0);
  setenv("GEGL_PATH", "/nonexistent/aa-bench-needs-no-operations", 1);
  gegl_init(nullptr, nullptr);
  std::printf("pattern   size shrink method seconds ns_per_px psnr_db "
              "psnr_box_db residual_pct\n");
  for (const bench_case &k : bench_cases(quick)) run_case(k, gimp_dir, reps);
  gegl_exit();
  return 0;
}
