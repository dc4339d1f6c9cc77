// The render core's own speed, in-process: tessaform_warp on plain GEGL
// buffers (no process start, no pipe to GIMP), for a perspective-like warp
// that fills most of an RGBA source, at several destination sizes and
// sample types, on one thread and on all cores; beside OpenCV's
// warpPerspective on the same scene when python3-opencv is installed.
//
//   render_bench [--sizes 1,4,12,48] [--straight-sizes 1,4] [--reps N]
//                [--interps 0,1,2,3] [--formats u8,u16,float]
//                [--threads 1,0] [--shrinks 4] [--opencv 0|1]
//
// Prints one tab-separated record per measurement:
//   kind interp mpx width height threads seconds ns_per_px mpx_per_s cpu_s format
// kind "fast" is the bulk, banded path (threads 0 = all cores), "straight"
// the one-pixel-at-a-time path, "xfer" one bulk read of the source plus one
// bulk write of a destination-sized buffer (what the fast path moves,
// without computing anything), "spin" a loop with nothing to share, run
// before each size: the ceiling for that size's speed-up on all cores at
// that moment; "aa" and "aa-off" the same source shrunk by the factor in
// the mpx column onto a quadrangle, with anti-aliasing on and off;
// "opencv" OpenCV's warpPerspective of the same source onto the same
// corners (a perspective map: the nearest thing it has), its image made in
// its own process, timed there. Pixel counts are the destination box's;
// cpu_s is the CPU time of all threads, which other load on the machine
// inflates far less than the wall time.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "clocks.h"
#include "engine.h"
#include "gegl_ref.h"

namespace {

// The benchmark's warp at scale 1: the whole 4000 x 3000 source onto a
// perspective-like quadrangle whose box is about 3800 x 2850.
constexpr double BASE_W = 4000, BASE_H = 3000;
constexpr double DST[8] = {100, 75, 3900, 250, 3750, 2925, 250, 2700};
constexpr double BASE_BOX_MPX = 3806.0 * 2856.0 / 1e6;

const char *const INTERP_NAMES[4] = {"nearest", "linear", "cubic", "lanczos"};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

std::vector<double> parse_list(const char *text) {
  std::vector<double> out;
  for (const char *p = text; *p;) {
    char *end = nullptr;
    out.push_back(std::strtod(p, &end));
    if (end == p) break;
    p = *end == ',' ? end + 1 : end;
  }
  return out;
}

std::vector<std::string> parse_words(const char *text) {
  std::vector<std::string> out;
  std::string word;
  for (const char *p = text;; ++p) {
    if (*p == ',' || !*p) {
      if (!word.empty()) out.push_back(word);
      word.clear();
      if (!*p) break;
    } else {
      word += *p;
    }
  }
  return out;
}

const char *babl_name(const std::string &format) {
  if (format == "u16") return "R'G'B'A u16";
  if (format == "float") return "R'G'B'A float";
  return "R'G'B'A u8";
}

struct scene {
  std::shared_ptr<GeglBuffer> source;
  GeglRectangle extent{};
  warp_vals vals{};
  std::string format;
};

// A source of random samples (nothing for a kernel to shortcut), scaled so
// that the destination box holds about `mpx` megapixels; the destination
// corners divided by `shrink`.
scene make_scene(double mpx, const std::string &format, double shrink) {
  const double k = std::sqrt(mpx / BASE_BOX_MPX);
  scene s;
  s.format = format;
  s.extent = {0, 0, int(std::lround(BASE_W * k)), int(std::lround(BASE_H * k))};
  const Babl *u8 = babl_format("R'G'B'A u8");
  GeglBuffer *b = gegl_buffer_new(&s.extent, babl_format(babl_name(format)));
  s.source.reset(b, [](GeglBuffer *p) { g_object_unref(p); });
  std::vector<unsigned char> pixels(size_t(s.extent.width) * s.extent.height * 4);
  uint64_t state = 0x9E3779B97F4A7C15ull;
  for (size_t i = 0; i + 8 <= pixels.size(); i += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    std::memcpy(&pixels[i], &state, 8);
  }
  // Written as 8-bit: wider types hold the same values, converted by babl.
  gegl_buffer_set(b, &s.extent, 0, u8, pixels.data(), GEGL_AUTO_ROWSTRIDE);

  s.vals.progress_name = "bench";
  const float src[8] = {0, 0, float(s.extent.width), 0, float(s.extent.width),
                        float(s.extent.height), 0, float(s.extent.height)};
  float *sv = &s.vals.sx0;
  float *dv = &s.vals.dx0;
  for (int i = 0; i < 8; ++i) {
    sv[i] = src[i];
    dv[i] = float(DST[i] * k / shrink);
  }
  return s;
}

struct outcome {
  double seconds;
  int width, height;
  double cpu;
};

outcome render_once(const scene &s, int interp, int anti_aliasing,
                    const warp_render_options &options) {
  warp_vals v = s.vals;
  v.interpolation = interp;
  v.anti_aliasing = anti_aliasing;
  const GeglRectangle box = warp_destination_box(&v);
  const GeglRectangle local = {0, 0, box.width, box.height};
  gegl_ref<GeglBuffer> out(
      gegl_buffer_new(&local, gegl_buffer_get_format(s.source.get())));
  const double c0 = cpu_now();
  const double t0 = now();
  const warp_status status = tessaform_warp(s.source.get(), &s.extent, out.get(),
                                            &v, &options, nullptr, nullptr);
  const double t1 = now();
  const double c1 = cpu_now();
  if (status != WARP_SUCCESS) {
    std::fprintf(stderr, "render_bench: render failed (status %d)\n", status);
    std::exit(1);
  }
  return {t1 - t0, box.width, box.height, c1 - c0};
}

// One bulk read of the whole source and one bulk write of a destination-sized
// buffer into a fresh GEGL buffer: the transfers the fast path cannot avoid.
outcome transfer_once(const scene &s) {
  const GeglRectangle box = warp_destination_box(&s.vals);
  const Babl *format = gegl_buffer_get_format(s.source.get());
  const size_t bpp = size_t(babl_format_get_bytes_per_pixel(format));
  const double c0 = cpu_now();
  const double t0 = now();
  std::vector<unsigned char> pixels(size_t(s.extent.width) * s.extent.height * bpp);
  gegl_buffer_get(s.source.get(), &s.extent, 1.0, format, pixels.data(),
                  GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  std::vector<unsigned char>(size_t(box.width) * box.height * bpp).swap(pixels);
  const GeglRectangle local = {0, 0, box.width, box.height};
  gegl_ref<GeglBuffer> dst(gegl_buffer_new(&local, format));
  gegl_buffer_set(dst.get(), &local, 0, format, pixels.data(), GEGL_AUTO_ROWSTRIDE);
  const double t1 = now();
  return {t1 - t0, box.width, box.height, cpu_now() - c0};
}

// A loop with nothing to share, on `threads` threads at once, each doing the
// same work: on an idle machine its wall time does not grow with the thread
// count up to the number of cores. How much it grows shows how many cores
// this run really had, the ceiling for the render loop's speed-up.
outcome spin(int threads) {
  const double c0 = cpu_now();
  const double t0 = now();
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([] {
      volatile double x = 0;
      for (long k = 0; k < 100000000L; ++k) x = x + 1e-9;
    });
  for (auto &t : pool) t.join();
  const double t1 = now();
  return {t1 - t0, 0, 0, cpu_now() - c0};
}

// Wall and CPU time are each the median of n runs.
template <typename F>
outcome median_of(int n, F run) {
  std::vector<double> wall, cpu;
  outcome o{};
  for (int r = 0; r < n; ++r) {
    o = run();
    wall.push_back(o.seconds);
    cpu.push_back(o.cpu);
  }
  o.seconds = median(wall);
  o.cpu = median(cpu);
  return o;
}

void print(const char *kind, int interp, double mpx, const outcome &o,
           int threads, const std::string &format) {
  const double px = double(o.width) * o.height;
  std::printf("%s\t%s\t%.2f\t%d\t%d\t%d\t%.4f\t%.2f\t%.2f\t%.4f\t%s\n", kind,
              interp >= 0 ? INTERP_NAMES[interp] : "-", mpx, o.width, o.height,
              threads, o.seconds, px > 0 ? o.seconds / px * 1e9 : 0.0,
              px > 0 ? px / o.seconds / 1e6 : 0.0,
              o.cpu, format.c_str());
  std::fflush(stdout);
}

// OpenCV's warpPerspective of the scene in a python3 process of its own;
// a negative time when OpenCV is not there.
double opencv_seconds(const scene &s, int interp, int reps) {
  const GeglRectangle box = warp_destination_box(&s.vals);
  const float *d = &s.vals.dx0;
  char command[1024];
  std::snprintf(command, sizeof command,
                "/usr/bin/python3 %s/opencv_warp.py %d %d %g,%g,%g,%g,%g,%g,%g,%g "
                "%d,%d,%d,%d %d %s 1 %d 2>/dev/null",
                TESSAFORM_BENCH_DIR, s.extent.width, s.extent.height, d[0], d[1],
                d[2], d[3], d[4], d[5], d[6], d[7], box.x, box.y, box.width,
                box.height, interp, s.format.c_str(), reps);
  return command_seconds(command);
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<double> sizes = {1, 4, 12, 48};
  std::vector<double> straight_sizes = {1, 4};
  std::vector<double> interps = {0, 1, 2, 3};
  std::vector<double> thread_counts = {1, 0};
  std::vector<double> shrinks = {4};
  std::vector<std::string> formats = {"u8"};
  bool opencv = true;
  int reps = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--sizes") sizes = parse_list(argv[i + 1]);
    else if (flag == "--straight-sizes") straight_sizes = parse_list(argv[i + 1]);
    else if (flag == "--interps") interps = parse_list(argv[i + 1]);
    else if (flag == "--threads") thread_counts = parse_list(argv[i + 1]);
    else if (flag == "--shrinks") shrinks = parse_list(argv[i + 1]);
    else if (flag == "--formats") formats = parse_words(argv[i + 1]);
    else if (flag == "--opencv") opencv = std::atoi(argv[i + 1]) != 0;
    else if (flag == "--reps") reps = std::max(1, std::atoi(argv[i + 1]));
    else {
      std::fprintf(stderr, "render_bench: unknown option %s\n", argv[i]);
      return 2;
    }
  }

  // Tiles stay in memory, as GIMP holds them; GEGL's default swap file would
  // have a background thread washing tiles to disk between runs. Only
  // buffers are used: no operation modules, no babl cache.
  g_setenv("GEGL_SWAP", "RAM", FALSE);
  g_setenv("BABL_INHIBIT_CACHE", "1", FALSE);
  g_setenv("GEGL_PATH", "/nonexistent/render-bench-needs-no-operations", TRUE);
  gegl_init(nullptr, nullptr);
  const int cores = int(std::thread::hardware_concurrency());
  std::printf("# cores\t%d\n", cores);
  std::printf("# kind\tinterp\tmpx\twidth\theight\tthreads\tseconds\t"
              "ns_per_px\tmpx_per_s\tcpu_s\tformat\n");

  for (double mpx : sizes) {
    for (const std::string &format : formats) {
      const scene s = make_scene(mpx, format, 1.0);
      const GeglRectangle box = warp_destination_box(&s.vals);
      const double box_mpx = double(box.width) * box.height / 1e6;
      if (format == formats.front()) {
        print("spin", -1, box_mpx, spin(1), 1, "-");
        print("spin", -1, box_mpx, spin(cores), cores, "-");
      }
      // Runs above a few megapixels last seconds: one is enough.
      const int n = mpx > 2 ? 1 : reps;
      transfer_once(s);  // warms the tiles and the heap
      print("xfer", -1, box_mpx, median_of(n, [&] { return transfer_once(s); }), 1,
            format);
      for (double f : interps) {
        const int interp = int(f);
        for (double t : thread_counts) {
          const int threads = int(t);
          // The largest size only on all cores: one thread would take most
          // of the benchmark's time and the smaller sizes show the ratio.
          if (threads == 1 && mpx > 20) continue;
          warp_render_options options{0, threads};
          options.parallel_io = 1;  // plain GEGL buffers of this process
          print("fast", interp, box_mpx,
                median_of(n, [&] { return render_once(s, interp, 0, options); }),
                threads ? threads : cores, format);
        }
        if (opencv && mpx <= 20) {
          const double seconds = opencv_seconds(s, interp, std::max(n, 3));
          if (seconds >= 0)
            print("opencv", interp, box_mpx, {seconds, box.width, box.height, 0.0},
                  1, format);
        }
        if (std::find(straight_sizes.begin(), straight_sizes.end(), mpx) !=
            straight_sizes.end())
          print("straight", interp, box_mpx, render_once(s, interp, 0, {1, 1}), 1,
                format);
      }
    }
  }
  // Anti-aliasing: the 12-megapixel scene's source shrunk onto a quadrangle
  // `shrink` times smaller, one thread.
  for (double shrink : shrinks) {
    if (!(shrink > 0)) continue;
    const scene s = make_scene(BASE_BOX_MPX, formats.front(), shrink);
    for (double f : interps) {
      const int interp = int(f);
      for (int aa : {1, 0})
        print(aa ? "aa" : "aa-off", interp, shrink,
              median_of(reps, [&] { return render_once(s, interp, aa, {0, 1}); }), 1,
              formats.front());
    }
  }
  gegl_exit();
  return 0;
}
