// The render loop's own speed, in-process: tessaform_render on the in-memory
// libgimp stand-in (drawables in real GEGL buffers, no process start, no
// pipe to GIMP), for a perspective-like warp that fills most of an RGBA
// source, at several destination sizes, single-threaded and on all cores.
//
//   render_bench [--sizes 1,4,12,48] [--straight-sizes 1,4] [--reps N]
//                [--interps 0,1,2,3]
//
// Prints one tab-separated record per measurement:
//   kind interp mpx width height threads seconds ns_per_px mpx_per_s cpu_s
// kind "fast" is the bulk, banded path (threads 0 = all cores), "straight"
// the one-pixel-at-a-time path, "xfer" one bulk read of the source box plus
// one bulk write of a destination-sized buffer (what the fast path moves,
// without computing anything), "spin" a loop with nothing to share, run
// before each size: the ceiling for that size's speed-up on all cores at
// that moment. Pixel counts are the destination box's;
// cpu_s is the CPU time of all threads, which other load on the machine
// inflates far less than the wall time.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "clocks.h"
#include "gimp_standin.h"

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

struct scene {
  gint32 image = -1;
  gint32 source = -1;
  int width = 0, height = 0;  // source
  warp_vals vals{};
};

// A source of random bytes (nothing for a kernel to shortcut), scaled so that
// the destination box holds about `mpx` megapixels.
scene make_scene(double mpx) {
  const double k = std::sqrt(mpx / BASE_BOX_MPX);
  scene s;
  s.width = int(std::lround(BASE_W * k));
  s.height = int(std::lround(BASE_H * k));
  s.image = standin::add_image();
  s.source = standin::add_layer(s.image, "Source", GIMP_RGBA_IMAGE, s.width,
                                s.height);
  std::vector<unsigned char> pixels(size_t(s.width) * size_t(s.height) * 4);
  uint64_t state = 0x9E3779B97F4A7C15ull;
  for (size_t i = 0; i + 8 <= pixels.size(); i += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    std::memcpy(&pixels[i], &state, 8);
  }
  standin::write(s.source, pixels);

  s.vals.progress_name = "bench";
  const float src[8] = {0, 0, float(s.width), 0, float(s.width),
                        float(s.height), 0, float(s.height)};
  float *sv = &s.vals.sx0;
  float *dv = &s.vals.dx0;
  for (int i = 0; i < 8; ++i) {
    sv[i] = src[i];
    dv[i] = float(DST[i] * k);
  }
  return s;
}

struct outcome {
  double seconds;
  int width, height;
  double cpu;
};

outcome render_once(const scene &s, int interp,
                    const warp_render_options &options) {
  warp_vals v = s.vals;
  v.interpolation = interp;
  gint32 layer = -1;
  const double c0 = cpu_now();
  const double t0 = now();
  const GimpPDBStatusType status =
      tessaform_render(s.image, s.source, &v, &layer, &options);
  const double t1 = now();
  const double c1 = cpu_now();
  if (status != GIMP_PDB_SUCCESS || layer == -1) {
    std::fprintf(stderr, "render_bench: render failed (status %d)\n", status);
    std::exit(1);
  }
  const standin::item *out = standin::find(layer);
  outcome o{t1 - t0, out->width, out->height, c1 - c0};
  gimp_image_remove_layer(s.image, layer);
  standin::calls = standin::record();  // progress values pile up otherwise
  return o;
}

// The destination box as the engine derives it: the quadrangle grown by a
// pixel, then its integer bounds.
outcome destination_box(const scene &s) {
  const float *d = &s.vals.dx0;
  point quad[4], grown[4];
  for (int i = 0; i < 4; ++i) quad[i] = point_init(d[2 * i], d[2 * i + 1]);
  quad_grow(quad, grown, 1.0);
  bounds b{};
  bounds_set(&b, grown);
  return {0.0, b.x1 - b.x0, b.y1 - b.y0, 0.0};
}

// One bulk read of the whole source and one bulk write of a destination-sized
// buffer into a fresh GEGL buffer: the transfers the fast path cannot avoid.
outcome transfer_once(const scene &s, int width, int height) {
  const double c0 = cpu_now();
  const double t0 = now();
  GeglBuffer *src = gimp_drawable_get_buffer(s.source);
  const Babl *format = gegl_buffer_get_format(src);
  std::vector<unsigned char> pixels(size_t(s.width) * size_t(s.height) * 4);
  const GeglRectangle whole = {0, 0, s.width, s.height};
  gegl_buffer_get(src, &whole, 1.0, format, pixels.data(), GEGL_AUTO_ROWSTRIDE,
                  GEGL_ABYSS_NONE);
  std::vector<unsigned char>(size_t(width) * size_t(height) * 4).swap(pixels);
  const GeglRectangle box = {0, 0, width, height};
  GeglBuffer *dst = gegl_buffer_new(&box, format);
  gegl_buffer_set(dst, &box, 0, format, pixels.data(), GEGL_AUTO_ROWSTRIDE);
  g_object_unref(dst);
  g_object_unref(src);
  const double t1 = now();
  return {t1 - t0, width, height, cpu_now() - c0};
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

// Printed before each size's measurements, under that size.
void print_spin(double mpx, int threads) {
  const outcome o = spin(threads);
  std::printf("spin\t-\t%.2f\t0\t0\t%d\t%.4f\t0\t0\t%.4f\n", mpx, threads,
              o.seconds, o.cpu);
  std::fflush(stdout);
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

void print(const char *kind, int interp, const outcome &o, int threads) {
  const double px = double(o.width) * o.height;
  std::printf("%s\t%s\t%.2f\t%d\t%d\t%d\t%.4f\t%.2f\t%.2f\t%.4f\n", kind,
              interp >= 0 ? INTERP_NAMES[interp] : "-", px / 1e6, o.width,
              o.height, threads, o.seconds, o.seconds / px * 1e9,
              px / o.seconds / 1e6, o.cpu);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<double> sizes = {1, 4, 12, 48};
  std::vector<double> straight_sizes = {1, 4};
  std::vector<double> interps = {0, 1, 2, 3};
  int reps = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--sizes") sizes = parse_list(argv[i + 1]);
    else if (flag == "--straight-sizes") straight_sizes = parse_list(argv[i + 1]);
    else if (flag == "--interps") interps = parse_list(argv[i + 1]);
    else if (flag == "--reps") reps = std::max(1, std::atoi(argv[i + 1]));
    else {
      std::fprintf(stderr, "render_bench: unknown option %s\n", argv[i]);
      return 2;
    }
  }

  // Drawables live in memory, as GIMP holds them; GEGL's default swap file
  // would have a background thread washing tiles to disk between runs.
  g_setenv("GEGL_SWAP", "RAM", FALSE);
  gegl_init(nullptr, nullptr);
  const int cores = int(std::thread::hardware_concurrency());
  std::printf("# cores\t%d\n", cores);
  std::printf("# kind\tinterp\tmpx\twidth\theight\tthreads\tseconds\t"
              "ns_per_px\tmpx_per_s\tcpu_s\n");

  for (double mpx : sizes) {
    standin::reset();
    const scene s = make_scene(mpx);
    const outcome box = destination_box(s);
    const double box_mpx = double(box.width) * box.height / 1e6;
    print_spin(box_mpx, 1);
    print_spin(box_mpx, cores);
    // Runs above a few megapixels last seconds: one is enough.
    const int n = mpx > 2 ? 1 : reps;
    transfer_once(s, box.width, box.height);  // warms the tiles and the heap
    print("xfer", -1, median_of(n, [&] {
            return transfer_once(s, box.width, box.height);
          }), 1);

    for (double f : interps) {
      const int interp = int(f);
      for (int threads : {1, 0}) {
        // The largest size only on all cores: one thread would take most
        // of the benchmark's time and the smaller sizes show the ratio.
        if (threads == 1 && mpx > 20) continue;
        print("fast", interp, median_of(n, [&] {
                return render_once(s, interp, {0, threads});
              }), threads ? threads : cores);
      }
      if (std::find(straight_sizes.begin(), straight_sizes.end(), mpx) !=
          straight_sizes.end())
        print("straight", interp, render_once(s, interp, {1, 1}), 1);
    }
  }
  standin::reset();
  gegl_exit();
  return 0;
}
