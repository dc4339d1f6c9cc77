// tessaform:warp in a GEGL graph, loaded as GEGL loads it from a plug-in
// folder (GEGL_PATH names the build's module folder): the engine's bytes for
// every kernel and the flag, whole and in parts, on several threads.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include <gegl-plugin.h>

#include "../engine/plain_buffers.h"
#include "gegl_ref.h"
#include "op_settings.h"

namespace {

// gegl-common (gegl:buffer-source) starts libgomp, which keeps its thread
// state for the life of the process; loaded for good here, it stays named
// in LeakSanitizer's report after gegl_exit unloads the module, so that
// tests/lsan.supp can leave it out.
[[maybe_unused]] void *const gomp_held =
    dlopen("libgomp.so.1", RTLD_NOW | RTLD_NODELETE);

struct op_case {
  const char *name;
  op_settings settings;
};

op_settings corners(std::initializer_list<double> destination) {
  op_settings s{};
  std::copy(destination.begin(), destination.end(), s.destination);
  s.whole_layer = true;
  s.interpolation = 2;
  return s;
}

// The input: random pixels over an extent that does not start at (0, 0).
struct input_image {
  std::shared_ptr<GeglBuffer> buffer;
  GeglRectangle extent;
  std::vector<unsigned char> pixels;  // in `format`
  const Babl *format;
};

input_image random_input(const char *format, GeglRectangle extent,
                         unsigned seed) {
  input_image in{std::shared_ptr<GeglBuffer>(
                     gegl_buffer_new(&extent, babl_format(format)),
                     [](GeglBuffer *b) { g_object_unref(b); }),
                 extent, {}, babl_format(format)};
  std::mt19937 rng(seed);
  const int bpp = babl_format_get_bytes_per_pixel(in.format);
  in.pixels.resize(size_t(extent.width) * size_t(extent.height) * size_t(bpp));
  if (std::string(format).find("float") != std::string::npos) {
    std::uniform_real_distribution<float> unit(-0.1f, 1.2f);
    for (size_t i = 0; i < in.pixels.size(); i += 4) {
      const float v = unit(rng);
      std::memcpy(&in.pixels[i], &v, 4);
    }
  } else {
    for (auto &p : in.pixels) p = static_cast<unsigned char>(rng());
  }
  gegl_buffer_set(in.buffer.get(), &extent, 0, in.format, in.pixels.data(),
                  GEGL_AUTO_ROWSTRIDE);
  return in;
}

// The engine's render of `in` read in `format`, as the plug-in makes it.
plain_layer engine_render(const input_image &in, const Babl *format,
                          const warp_vals &vals) {
  plain_layer source = plain_new(babl_get_name(format), in.extent.width,
                                 in.extent.height, in.extent.x, in.extent.y);
  std::vector<unsigned char> converted(
      size_t(in.extent.width) * size_t(in.extent.height) *
      size_t(babl_format_get_bytes_per_pixel(format)));
  gegl_buffer_get(in.buffer.get(), &in.extent, 1.0, format, converted.data(),
                  GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  plain_write(source, converted);
  return plain_render(source, vals);
}

class Operation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gegl_has_operation("tessaform:warp"))
        << "the module is not in GEGL_PATH";
  }
  void TearDown() override {
    g_object_set(gegl_config(), "threads", 1, nullptr);
  }

  // buffer-source -> tessaform:warp with `s` set on it.
  GeglNode *warp_node(const input_image &in, const op_settings &s) {
    graph.reset(gegl_node_new());
    GeglNode *source =
        gegl_node_new_child(graph.get(), "operation", "gegl:buffer-source",
                            "buffer", in.buffer.get(), nullptr);
    GeglNode *op = gegl_node_new_child(graph.get(), "operation",
                                       "tessaform:warp", nullptr);
    static const char *const d[8] = {"dx0", "dy0", "dx1", "dy1",
                                     "dx2", "dy2", "dx3", "dy3"};
    static const char *const sr[8] = {"sx0", "sy0", "sx1", "sy1",
                                      "sx2", "sy2", "sx3", "sy3"};
    for (int i = 0; i < 8; ++i)
      gegl_node_set(op, d[i], s.destination[i], sr[i], s.source[i], nullptr);
    gegl_node_set(op, "whole-layer", gboolean(s.whole_layer), "interpolation",
                  int(s.interpolation), "anti-aliasing",
                  gboolean(s.anti_aliasing), "mapping", int(s.mapping), nullptr);
    gegl_node_link(source, op);
    return op;
  }

  gegl_ref<GeglNode> graph;
};

std::vector<unsigned char> blit(GeglNode *node, const GeglRectangle &rect,
                                const Babl *format) {
  std::vector<unsigned char> out(size_t(rect.width) * size_t(rect.height) *
                                 size_t(babl_format_get_bytes_per_pixel(format)));
  gegl_node_blit(node, 1.0, &rect, format, out.data(), GEGL_AUTO_ROWSTRIDE,
                 GEGL_BLIT_DEFAULT);
  return out;
}

// Pixels of `part` cut from `whole`, which covers `box`.
std::vector<unsigned char> cut(const std::vector<unsigned char> &whole,
                               const GeglRectangle &box,
                               const GeglRectangle &part, int bpp) {
  std::vector<unsigned char> out;
  for (int y = part.y; y < part.y + part.height; ++y)
    for (int x = part.x; x < part.x + part.width; ++x) {
      const size_t i =
          (size_t(y - box.y) * size_t(box.width) + size_t(x - box.x)) * size_t(bpp);
      out.insert(out.end(), &whole[i], &whole[i] + bpp);
    }
  return out;
}

const op_case CASES[] = {
    // All corners 0: the page tilted inside the input.
    {"defaults", corners({0, 0, 0, 0, 0, 0, 0, 0})},
    {"perspective", corners({12.5, 3, 150.25, 20, 140, 118.5, -9, 101})},
    {"bow tie", corners({10, 10, 120, 90, 120, 10, 10, 90})},
    {"perspective, mapped in perspective",
     [] {
       op_settings s = corners({12.5, 3, 150.25, 20, 140, 118.5, -9, 101});
       s.mapping = WARP_PERSPECTIVE;
       return s;
     }()},
    {"a source quadrangle, shrunk",
     [] {
       op_settings s = corners({30, 20, 70, 25, 66, 60, 28, 52});
       s.whole_layer = false;
       const double q[8] = {5, -1, 150, 4, 160, 95, 2, 88};
       std::copy(q, q + 8, s.source);
       return s;
     }()},
};

// An input without alpha is warped as the engine warps it with alpha added:
// transparent around the quadrangle.
TEST_F(Operation, GivesTheEnginesBytesWholeAndInParts) {
  const GeglRectangle extent = {6, -4, 160, 100};
  for (const char *format : {"R'G'B'A u8", "R'G'B' u8", "RGBA u16", "RGBA float"}) {
    const input_image in = random_input(format, extent, 17);
    const Babl *working = op_working_format(in.format);
    const int bpp = babl_format_get_bytes_per_pixel(working);
    for (const op_case &c : CASES)
      for (int interpolation : {0, 1, 2, 3})
        for (bool anti_aliasing : {false, true}) {
          // The 8-bit RGBA source covers every kernel; the others one each.
          if (std::string(format) != "R'G'B'A u8" && interpolation != 1 + anti_aliasing)
            continue;
          SCOPED_TRACE(::testing::Message()
                       << format << ", " << c.name << ", interpolation "
                       << interpolation << ", anti-aliasing " << anti_aliasing);
          op_settings s = c.settings;
          s.interpolation = interpolation;
          s.anti_aliasing = anti_aliasing;
          const warp_vals vals = op_settings_vals(s, extent);
          const plain_layer expected = engine_render(in, working, vals);
          ASSERT_EQ(expected.status, WARP_SUCCESS);
          const std::vector<unsigned char> want = plain_read(expected);
          const GeglRectangle box = expected.extent;

          for (int threads : {1, 3}) {
            g_object_set(gegl_config(), "threads", threads, nullptr);
            GeglNode *op = warp_node(in, s);
            const GeglRectangle bounds = gegl_node_get_bounding_box(op);
            EXPECT_TRUE(gegl_rectangle_equal(&bounds, &box));
            EXPECT_TRUE(blit(op, box, working) == want) << threads << " threads";
          }
          // Parts, each from a fresh graph: across the edge of the box, inside
          // it, and one pixel.
          const GeglRectangle parts[] = {
              {box.x - 5, box.y + 7, 40, 33},
              {box.x + box.width / 3, box.y + box.height / 4, 61, 45},
              {box.x + box.width / 2, box.y + box.height / 2, 1, 1}};
          for (const GeglRectangle &part : parts) {
            GeglNode *op = warp_node(in, s);
            GeglRectangle inside;
            gegl_rectangle_intersect(&inside, &part, &box);
            EXPECT_TRUE(blit(op, inside, working) == cut(want, box, inside, bpp))
                << "part at " << part.x << "," << part.y;
          }
        }
  }
}

TEST_F(Operation, AsksOnlyForTheSourceItReadsAndRefusesQuietly) {
  const GeglRectangle extent = {0, 0, 400, 300};
  const input_image in = random_input("R'G'B'A u8", extent, 9);
  op_settings s = corners({0, 0, 400, 0, 400, 300, 0, 300});
  s.interpolation = 1;
  GeglNode *op = warp_node(in, s);
  GeglOperation *operation = gegl_node_get_gegl_operation(op);
  gegl_node_get_bounding_box(op);  // prepares the graph
  // The identity: a corner of the output needs a corner of the input.
  const GeglRectangle corner = {0, 0, 10, 10};
  const GeglRectangle need =
      gegl_operation_get_required_for_output(operation, "input", &corner);
  EXPECT_LE(need.width, 12);
  EXPECT_LE(need.height, 12);
  // A change far from the part read invalidates nothing outside its
  // neighbourhood.
  const GeglRectangle spot = {300, 200, 1, 1};
  const GeglRectangle hit =
      gegl_operation_get_invalidated_by_change(operation, "input", &spot);
  EXPECT_GE(hit.width, 1);
  EXPECT_LE(hit.width, 4);
  EXPECT_TRUE(gegl_rectangle_contains(&hit, &spot));

  // A destination too large for a layer, or a bow tie in perspective: no
  // output, no crash.
  s = corners({-8e6, -8e6, 8e6, -8e6, 8e6, 8e6, -8e6, 8e6});
  op = warp_node(in, s);
  const GeglRectangle none = gegl_node_get_bounding_box(op);
  EXPECT_TRUE(gegl_rectangle_is_empty(&none));
  s = corners({10, 10, 120, 90, 120, 10, 10, 90});
  s.mapping = WARP_PERSPECTIVE;
  op = warp_node(in, s);
  const GeglRectangle folded = gegl_node_get_bounding_box(op);
  EXPECT_TRUE(gegl_rectangle_is_empty(&folded));
}

}  // namespace
