// tessaform:warp against gegl:transform (what GIMP's own transform tools
// run) in one process, one GEGL graph each, on the same RGBA source, for
// 8-bit, 16-bit and float: bilinear against linear, Lanczos against NoHalo,
// with and without anti-aliasing. gegl:transform gets the perspective matrix
// that takes the source's corners to the same four corners. Each graph
// renders its whole bounding box into a buffer of the source's format (as
// GIMP writes the layer back), on GEGL's own threads; runs alternate and the
// median counts, of the wall time and of the CPU time of all threads (which
// other load on a shared machine inflates far less). For comparison, the
// engine alone over the same box (its own threads, no graph), and the
// survey behind the operation's get_required_for_output for the whole box
// (warp_source_reach maps every pixel once).
//
//   gegl_bench [--size WxH] [--runs N] [--threads N]
//
// GEGL_PATH must name a folder with tessaform-warp.so, gegl-common and
// transformops (the build's tessaform-op-modules; scripts/bench-gegl.sh).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "clocks.h"
#include "gegl_ref.h"
#include "tessaform.h"

namespace {

// Wall and CPU seconds of one run.
struct timing {
  double wall;
  double cpu;
};

template <typename F>
timing timed(F run) {
  const double w0 = now(), c0 = cpu_now();
  run();
  return {now() - w0, cpu_now() - c0};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The projective map taking (0, 0), (w, 0), (w, h), (0, h) to q[0..3]
// (Heckbert's square-to-quadrangle map, scaled).
GeglMatrix3 perspective(double w, double h, const double q[8]) {
  const double x0 = q[0], y0 = q[1], x1 = q[2], y1 = q[3];
  const double x2 = q[4], y2 = q[5], x3 = q[6], y3 = q[7];
  const double dx1 = x1 - x2, dx2 = x3 - x2, dx3 = x0 - x1 + x2 - x3;
  const double dy1 = y1 - y2, dy2 = y3 - y2, dy3 = y0 - y1 + y2 - y3;
  const double den = dx1 * dy2 - dy1 * dx2;
  const double g = (dx3 * dy2 - dy3 * dx2) / den;
  const double hh = (dx1 * dy3 - dy1 * dx3) / den;
  GeglMatrix3 m;
  m.coeff[0][0] = (x1 - x0 + g * x1) / w;
  m.coeff[0][1] = (x3 - x0 + hh * x3) / h;
  m.coeff[0][2] = x0;
  m.coeff[1][0] = (y1 - y0 + g * y1) / w;
  m.coeff[1][1] = (y3 - y0 + hh * y3) / h;
  m.coeff[1][2] = y0;
  m.coeff[2][0] = g / w;
  m.coeff[2][1] = hh / h;
  m.coeff[2][2] = 1.0;
  return m;
}

struct graph {
  gegl_ref<GeglNode> root;
  GeglNode *out = nullptr;
};

void source_graph(graph *g, GeglBuffer *source) {
  g->root.reset(gegl_node_new());
  g->out = gegl_node_new_child(g->root.get(), "operation", "gegl:buffer-source",
                               "buffer", source, nullptr);
}

// Appends `operation` to the graph; nothing is cached between runs.
GeglNode *append(graph &g, const char *operation) {
  GeglNode *n = gegl_node_new_child(g.root.get(), "operation", operation,
                                    nullptr);
  g_object_set(n, "dont-cache", TRUE, nullptr);
  gegl_node_link(g.out, n);
  g.out = n;
  return n;
}

// Renders the node's whole bounding box into a new buffer of `format`.
timing render(GeglNode *node, const Babl *format) {
  const GeglRectangle box = gegl_node_get_bounding_box(node);
  gegl_ref<GeglBuffer> out(gegl_buffer_new(&box, format));
  return timed([&] {
    gegl_node_blit_buffer(node, out.get(), &box, 0, GEGL_ABYSS_NONE);
  });
}

struct medians {
  std::vector<double> wall, cpu;
  void add(timing t) {
    wall.push_back(t.wall);
    cpu.push_back(t.cpu);
  }
};

}  // namespace

int main(int argc, char **argv) {
  int width = 4000, height = 3000, runs = 5, threads = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--size"))
      std::sscanf(argv[i + 1], "%dx%d", &width, &height);
    else if (!std::strcmp(argv[i], "--runs"))
      runs = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--threads"))
      threads = std::atoi(argv[i + 1]);
  }
  setenv("BABL_INHIBIT_CACHE", "1", 0);
  setenv("GEGL_SWAP", "RAM", 0);
  gegl_init(nullptr, nullptr);
  g_object_set(gegl_config(), "threads", threads, nullptr);
  if (!gegl_has_operation("tessaform:warp") ||
      !gegl_has_operation("gegl:transform")) {
    std::fprintf(stderr, "gegl_bench: GEGL_PATH lacks tessaform:warp or "
                         "gegl:transform\n");
    return 1;
  }
  const double sx = width / 4000.0, sy = height / 3000.0;
  const double q[8] = {100 * sx,  75 * sy,   3900 * sx, 250 * sy,
                       3750 * sx, 2925 * sy, 250 * sx,  2700 * sy};
  GeglMatrix3 m = perspective(width, height, q);
  gchar *matrix = gegl_matrix3_to_string(&m);

  std::printf("# %dx%d RGBA source onto (%g,%g) (%g,%g) (%g,%g) (%g,%g), %d "
              "GEGL threads, median of %d runs\n",
              width, height, q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7],
              threads, runs);
  std::printf("precision\ttessaform\twall_s\tcpu_s\tgegl:transform\twall_s\tcpu_s"
              "\twall_ratio\tcpu_ratio\n");
  struct precision {
    const char *name;
    const char *format;
  };
  const precision precisions[] = {{"8-bit", "R'G'B'A u8"},
                                  {"16-bit", "RGBA u16"},
                                  {"float", "RGBA float"}};
  struct pairing {
    const char *ours;
    int interpolation;
    bool anti_aliasing;
    const char *sampler;
  };
  const pairing pairings[] = {{"bilinear", 1, false, "linear"},
                              {"lanczos", 3, false, "nohalo"},
                              {"bilinear+aa", 1, true, "linear"},
                              {"lanczos+aa", 3, true, "nohalo"}};
  for (const precision &p : precisions) {
    const Babl *format = babl_format(p.format);
    const GeglRectangle extent = {0, 0, width, height};
    gegl_ref<GeglBuffer> source(gegl_buffer_new(&extent, format));
    {
      // Bytes with nothing for a kernel to shortcut, the same at every
      // precision (converted by babl).
      std::vector<unsigned char> pixels(size_t(width) * size_t(height) * 4);
      for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
      gegl_buffer_set(source.get(), &extent, 0, babl_format("R'G'B'A u8"),
                      pixels.data(), GEGL_AUTO_ROWSTRIDE);
    }
    for (const pairing &k : pairings) {
      graph ours, theirs;
      source_graph(&ours, source.get());
      GeglNode *warp = append(ours, "tessaform:warp");
      const char *names[8] = {"dx0", "dy0", "dx1", "dy1",
                              "dx2", "dy2", "dx3", "dy3"};
      for (int i = 0; i < 8; ++i) gegl_node_set(warp, names[i], q[i], nullptr);
      gegl_node_set(warp, "interpolation", k.interpolation, "anti-aliasing",
                    gboolean(k.anti_aliasing), nullptr);
      source_graph(&theirs, source.get());
      GeglNode *transform = append(theirs, "gegl:transform");
      gegl_node_set(transform, "transform", matrix, nullptr);
      // By name: the sampler enum's GType lives in GEGL.
      GParamSpec *sampler_property = g_object_class_find_property(
          G_OBJECT_GET_CLASS(gegl_node_get_gegl_operation(transform)),
          "sampler");
      GValue as_enum = G_VALUE_INIT;
      g_value_init(&as_enum, sampler_property->value_type);
      GEnumValue *e = g_enum_get_value_by_nick(
          G_ENUM_CLASS(g_type_class_peek(sampler_property->value_type)), k.sampler);
      g_value_set_enum(&as_enum, e ? e->value : 0);
      gegl_node_set_property(transform, "sampler", &as_enum);
      g_value_unset(&as_enum);

      medians a, b;
      render(warp, format);  // warm-up: modules, babl's conversions
      render(transform, format);
      for (int r = 0; r < runs; ++r) {
        a.add(render(warp, format));
        b.add(render(transform, format));
      }
      const double wa = median(a.wall), ca = median(a.cpu);
      const double wb = median(b.wall), cb = median(b.cpu);
      std::printf("%s\t%s\t%.3f\t%.3f\t%s\t%.3f\t%.3f\t%.2f\t%.2f\n", p.name,
                  k.ours, wa, ca, k.sampler, wb, cb, wa / wb, ca / cb);
      std::fflush(stdout);
    }
    // The engine alone, bilinear: what the graph adds around it.
    warp_vals v{};
    v.sx1 = float(width); v.sx2 = float(width); v.sy2 = float(height);
    v.sy3 = float(height);
    float *const d[8] = {&v.dx0, &v.dy0, &v.dx1, &v.dy1,
                         &v.dx2, &v.dy2, &v.dx3, &v.dy3};
    for (int i = 0; i < 8; ++i) *d[i] = float(q[i]);
    v.interpolation = 1;
    const GeglRectangle box = warp_destination_box(&v);
    medians alone, survey;
    const warp_render_options options = {0, threads};
    for (int r = 0; r < runs; ++r) {
      gegl_ref<GeglBuffer> out(gegl_buffer_new(&box, format));
      const warp_target target = {out.get(), 0, 0, box};
      alone.add(timed([&] {
        tessaform_warp_target(source.get(), &extent, &target, &v, &options,
                              nullptr, nullptr);
      }));
      survey.add(timed([&] { warp_source_reach(&v, &extent, &box); }));
    }
    std::printf("%s\tengine alone, bilinear\t%.3f\t%.3f\n", p.name,
                median(alone.wall), median(alone.cpu));
    std::printf("%s\tsource reach of the box\t%.3f\t%.3f\n", p.name,
                median(survey.wall), median(survey.cpu));
    std::fflush(stdout);
  }
  g_free(matrix);
  gegl_exit();
  return 0;
}
