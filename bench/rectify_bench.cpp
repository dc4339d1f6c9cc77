// Rectification's figures: for synthetic photographs of rectangles through
// known cameras (tests/engine/photographs.h), the aspect ratio estimated
// against the true one (and the mean-sides guess beside it), and how far
// page features land from where they belong with the perspective and the
// bilinear map; then the time of a 4000 x 3000 rectification in process,
// beside OpenCV's warpPerspective on the same homography.
//
//   rectify_bench [--reps N] [--opencv 0|1]
//
// Tab-separated records:
//   case  tilt_x tilt_y focal true estimated error_pct method mean_sides_error_pct
//         perspective_px bilinear_px width height
//   time  kind interp threads seconds ns_per_px
//   gimp  photo-quad X0,Y0,...  frame X0,Y0,...  (for the GIMP batch: the
//         photographed quadrangle, and where the rectification takes the
//         photograph's frame)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "clocks.h"
#include "gegl_ref.h"
#include "photographs.h"
#include "rectify.h"

namespace {

const char *const METHODS[] = {"vanishing-points", "one-pair-parallel",
                               "both-pairs-parallel", "not-real"};
const char *const INTERP_NAMES[4] = {"nearest", "linear", "cubic", "lanczos"};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Which of the rectangle's corners the estimate took as its top-left.
int first_corner(const rectify_estimate &e, const point corners[4]) {
  for (int k = 0; k < 4; ++k)
    if (e.corners[0].x == corners[k].x && e.corners[0].y == corners[k].y) return k;
  return 0;
}

void table_row(const char *name, const camera_view &c, int32_t width = 0,
               int32_t height = 0) {
  point corners[4];
  camera_corners(c, corners);
  rectify_estimate e;
  if (rectify_estimate_init(&e, corners, GeglRectangle{0, 0, c.photo_w, c.photo_h})) {
    std::printf("case\t%s\trefused\n", name);
    return;
  }
  const int first = first_corner(e, corners);
  const double truth = first % 2 ? c.page_h / c.page_w : c.page_w / c.page_h;
  const double sides = e.mean_width / e.mean_height;
  int32_t w, h;
  rectify_size(&e, e.aspect, width, height, &w, &h);
  warp_vals v{};
  v.interpolation = 1;
  rectify_vals(&e, w, h, &v);
  const double perspective = camera_grid_error(c, first, v, w, h);
  v.mapping = WARP_BILINEAR;
  const double bilinear = camera_grid_error(c, first, v, w, h);
  std::printf("case\t%s\t%g\t%g\t%g\t%.4f\t%.4f\t%+.2f\t%s\t%+.1f\t%.3f\t%.1f\t%d\t%d\n",
              name, c.tilt_x, c.tilt_y, c.focal, truth, e.aspect,
              100.0 * (e.aspect / truth - 1.0), METHODS[e.method],
              100.0 * (sides / truth - 1.0), perspective, bilinear, w, h);
}

void table() {
  struct page {
    double w, h;
    const char *name;
  };
  const page pages[] = {{1, 1, "1:1"}, {3, 4, "3:4"}, {1000, 1414, "1:1.414"}};
  const double tilts[][2] = {{10, 0}, {30, 0}, {60, 0}, {10, 10},
                             {20, -15}, {30, 30}, {45, 20}, {60, 45}};
  for (const page &p : pages)
    for (double focal : {1500.0, 3000.0, 6000.0})
      for (const auto &t : tilts) {
        camera_view c;
        c.focal = focal;
        c.tilt_x = t[0];
        c.tilt_y = t[1];
        c.page_w = p.w;
        c.page_h = p.h;
        table_row(p.name, c);
      }
  // An A4 page through a 3000-pixel focal length, laid flat onto
  // 2480 x 3508 (A4 at 300 dpi).
  for (double tilt : {10.0, 20.0, 30.0, 45.0}) {
    camera_view c;
    c.focal = 3000;
    c.tilt_x = tilt;
    c.tilt_y = 0;
    c.page_w = 210;
    c.page_h = 297;
    table_row("A4-2480x3508", c, 2480, 3508);
  }
}

// The timed scene: a 4:3 whiteboard filling most of a 4000 x 3000
// photograph (focal length 3000 px, tilted 25 degrees and -15), flattened
// onto 4000 x 3000.
struct timed_scene {
  camera_view camera;
  rectify_estimate estimate;
  warp_vals vals;
};

timed_scene make_scene() {
  timed_scene s;
  s.camera.focal = 3000;
  s.camera.tilt_x = 25;
  s.camera.tilt_y = -15;
  s.camera.page_w = 4;
  s.camera.page_h = 3;
  s.camera.fill = 0.95;
  point corners[4];
  camera_corners(s.camera, corners);
  rectify_estimate_init(&s.estimate, corners, GeglRectangle{0, 0, 4000, 3000});
  s.vals = warp_vals{};
  rectify_vals(&s.estimate, 4000, 3000, &s.vals);
  return s;
}

double opencv_seconds(const timed_scene &s, int interp, int reps) {
  const point *q = s.estimate.corners;
  char command[1024];
  std::snprintf(command, sizeof command,
                "/usr/bin/python3 %s/opencv_warp.py 4000 3000 0,0,4000,0,4000,3000,0,3000 "
                "0,0,4000,3000 %d u8 1 %d %g,%g,%g,%g,%g,%g,%g,%g 2>/dev/null",
                TESSAFORM_BENCH_DIR, interp, reps, q[0].x, q[0].y, q[1].x,
                q[1].y, q[2].x, q[2].y, q[3].x, q[3].y);
  return command_seconds(command);
}

void timing(int reps, bool opencv) {
  const timed_scene s = make_scene();
  const GeglRectangle extent = {0, 0, 4000, 3000};
  const Babl *format = babl_format("R'G'B'A u8");
  gegl_ref<GeglBuffer> source(gegl_buffer_new(&extent, format));
  {
    std::vector<unsigned char> px(size_t(4000) * 3000 * 4);
    std::mt19937 rng(1612);
    for (auto &b : px) b = static_cast<unsigned char>(rng());
    gegl_buffer_set(source.get(), &extent, 0, format, px.data(), GEGL_AUTO_ROWSTRIDE);
  }
  const GeglRectangle area = {0, 0, 4000, 3000};
  gegl_ref<GeglBuffer> out(gegl_buffer_new(&area, format));
  for (int interp : {1, 2}) {
    // The same corners by the bilinear map too: what the mapping costs.
    for (int32_t mapping : {WARP_PERSPECTIVE, WARP_BILINEAR})
      for (int threads : {1, 0}) {
        warp_vals v = s.vals;
        v.interpolation = interp;
        v.mapping = mapping;
        std::vector<double> times;
        for (int r = 0; r < reps; ++r) {
          const warp_target target = {out.get(), 0, 0, area};
          warp_render_options options{};
          options.threads = threads;
          const double t0 = now();
          tessaform_warp_target(source.get(), &extent, &target, &v, &options,
                                nullptr, nullptr);
          times.push_back(now() - t0);
        }
        const double t = median(times);
        std::printf("time\t%s\t%s\t%d\t%.4f\t%.2f\n",
                    mapping == WARP_PERSPECTIVE ? "tessaform"
                                                : "tessaform, bilinear map",
                    INTERP_NAMES[interp], threads, t, t / 12e6 * 1e9);
      }
    if (opencv) {
      const double t = opencv_seconds(s, interp, std::max(reps, 3));
      if (t > 0)
        std::printf("time\topencv\t%s\t1\t%.4f\t%.2f\n", INTERP_NAMES[interp], t,
                    t / 12e6 * 1e9);
    }
  }
  // GIMP's transform maps the layer's frame forward: where the
  // rectification takes the photograph's corners.
  homography forward;  // the photograph onto the output
  const point rect[4] = {{0, 0}, {4000, 0}, {4000, 3000}, {0, 3000}};
  homography_init(&forward, rect, s.estimate.corners);
  std::printf("gimp\tphoto-quad");
  for (const point &q : s.estimate.corners) std::printf("\t%.3f\t%.3f", q.x, q.y);
  std::printf("\tframe");
  for (const point &q : rect) {
    float x, y;
    homography_map(&forward, float(q.x), float(q.y), &x, &y);
    std::printf("\t%.3f\t%.3f", x, y);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char **argv) {
  int reps = 5;
  bool opencv = true;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--reps") reps = std::max(1, std::atoi(argv[i + 1]));
    else if (flag == "--opencv") opencv = std::atoi(argv[i + 1]) != 0;
  }
  setenv("BABL_INHIBIT_CACHE", "1", 0);
  setenv("GEGL_PATH", "/nonexistent", 0);
  setenv("GEGL_SWAP", "RAM", 0);
  gegl_init(nullptr, nullptr);
  table();
  std::fflush(stdout);
  timing(reps, opencv);
  gegl_exit();
  return 0;
}
