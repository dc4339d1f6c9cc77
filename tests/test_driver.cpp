// The driver end to end over the stand-in: layer creation, placement,
// pixels and the release of everything taken.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstring>
#include <unistd.h>

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

// A process that has ended, for records of a killed call.
static gint32 ended_process() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return gint32(child);
}

static unplaced_layers unplaced_record() {
  unplaced_layers r{};
  if (standin::unplaced_data.size() == sizeof r)
    std::memcpy(&r, standin::unplaced_data.data(), sizeof r);
  return r;
}

TEST_F(Driver, LayersOfKilledCallsAreDeletedByTheNextCallAndNoOtherLayer) {
  const gint32 image = standin::add_image();
  const gint32 src = standin::add_layer(image, "Chart", GIMP_RGBA_IMAGE, 16, 16);
  const gint32 orphan = gimp_layer_new(image, "lost", 8, 8, GIMP_RGBA_IMAGE,
                                       100.0, GIMP_LAYER_MODE_NORMAL);
  const gint32 rendering = gimp_layer_new(image, "busy", 8, 8, GIMP_RGBA_IMAGE,
                                          100.0, GIMP_LAYER_MODE_NORMAL);
  unplaced_layers r{};
  r.entries[0] = {ended_process(), orphan};
  r.entries[3] = {gint32(getppid()), rendering};  // still running
  r.entries[5] = {ended_process(), src};          // placed after all
  standin::unplaced_data.assign(reinterpret_cast<unsigned char *>(&r),
                                reinterpret_cast<unsigned char *>(&r) + sizeof r);

  gint32 layer = -1;
  const warp_vals v = square_vals(0, 16, 0, 8, 1);
  ASSERT_EQ(tessaform(image, src, &v, &layer), GIMP_PDB_SUCCESS);
  EXPECT_FALSE(gimp_item_is_valid(orphan));
  EXPECT_TRUE(gimp_item_is_valid(rendering));
  EXPECT_TRUE(gimp_item_is_valid(src));
  ASSERT_TRUE(gimp_item_is_valid(layer));
  EXPECT_TRUE(standin::find(layer)->inserted);
  // Only the live process's entry stays; the finished call left none.
  const unplaced_layers after = unplaced_record();
  for (int i = 0; i < UNPLACED_LAYERS_MAX; ++i) {
    const unplaced_layer expected = i == 3 ? r.entries[3] : unplaced_layer{};
    EXPECT_EQ(after.entries[i].pid, expected.pid) << i;
    EXPECT_EQ(after.entries[i].layer, expected.layer) << i;
  }
  gimp_item_delete(rendering);
}
