// The driver end to end over the stand-in: layer creation, placement,
// pixels and the release of everything taken.
#include <gtest/gtest.h>

#include "gimp_standin.h"

namespace {

warp_vals square_vals(float s0, float s1, float d0, float d1, int interp) {
  warp_vals v{};
  v.progress_name = "Warp";
  v.sx0 = s0; v.sy0 = s0; v.sx1 = s1; v.sy1 = s0;
  v.sx2 = s1; v.sy2 = s1; v.sx3 = s0; v.sy3 = s1;
  v.dx0 = d0; v.dy0 = d0; v.dx1 = d1; v.dy1 = d0;
  v.dx2 = d1; v.dy2 = d1; v.dx3 = d0; v.dy3 = d1;
  v.interpolation = interp;
  return v;
}

std::vector<unsigned char> pattern(size_t n) {
  std::vector<unsigned char> p(n);
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(i * 37 + i / 7);
  return p;
}

class Driver : public ::testing::Test {
 protected:
  void SetUp() override { standin::reset(); }
  void TearDown() override { standin::reset(); }
};

TEST_F(Driver, IdentityMapCopiesEveryWrittenPixel) {
  const gint32 image = standin::add_image();
  const gint32 src = standin::add_layer(image, "Chart", GIMP_RGBA_IMAGE, 32, 32);
  const auto before = pattern(32 * 32 * 4);
  standin::write(src, before);

  for (int interp = 0; interp < 2; ++interp) {
    gint32 layer = -1;
    const warp_vals v = square_vals(4, 28, 4, 28, interp);
    ASSERT_EQ(tessaform(image, src, &v, &layer), GIMP_PDB_SUCCESS);
    const standin::item *out = standin::find(layer);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->name, "Chart__");
    EXPECT_EQ(out->offset_x, 3);
    EXPECT_EQ(out->width, 27);
    const auto got = standin::read(layer);
    int written = 0;
    for (int y = 0; y < out->height; ++y)
      for (int x = 0; x < out->width; ++x) {
        const size_t o = (size_t(y) * out->width + x) * 4;
        if (got[o + 3] == 0 && got[o] == 0 && got[o + 1] == 0 && got[o + 2] == 0) continue;
        const size_t s = (size_t(y + 3) * 32 + (x + 3)) * 4;
        ASSERT_EQ(0, memcmp(&got[o], &before[s], 4)) << "interp " << interp << " at " << x << "," << y;
        ++written;
      }
    EXPECT_GE(written, 24 * 24);
    EXPECT_EQ(standin::extra_refs(src), 0);
    EXPECT_EQ(standin::extra_refs(layer), 0);
  }
  EXPECT_EQ(standin::read(src), before);
}

}  // namespace
