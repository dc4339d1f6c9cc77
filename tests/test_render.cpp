// The GIMP host over the stand-in: the new layer, its place in the image,
// progress, undo and buffer bookkeeping.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "gimp_standin.h"
#include "warp_model.h"

namespace {

using namespace model;

// A drawable's pixels addressed in image coordinates.
struct image_pixels : pixel_grid {
  explicit image_pixels(gint32 id, const Babl *format = nullptr) {
    const standin::item *it = standin::find(id);
    assign(it->offset_x, it->offset_y, it->width, it->height,
           standin::read(id, format));
  }
};

// The plug-in's own path, and one pixel at a time on one thread.
const warp_render_options kStraightforward = {1, 1};
const warp_render_options *const kPaths[] = {nullptr, &kStraightforward};

const char *path_name(const warp_render_options *o) {
  return o ? "straightforward path" : "default path";
}

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    image = standin::add_image();
  }
  void TearDown() override { standin::reset(); }

  gint32 add_source(GimpImageType type, int w, int h, int ox = 0, int oy = 0,
                    bool opaque = true) {
    const gint32 id = standin::add_layer(image, "Source", type, w, h, ox, oy);
    standin::write(id, pattern(w, h, standin::bpp_of(type), opaque));
    return id;
  }

  // Renders through the driver the plug-in calls, or through the
  // render path that `options` selects.
  gint32 render(gint32 src, const quad &s, const quad &d, int interp,
                const char *label = "Warp",
                const warp_render_options *options = nullptr) {
    const warp_vals v = make_vals(s, d, interp, label);
    gint32 layer = -2;
    EXPECT_EQ(options ? tessaform_render(image, src, &v, &layer, options)
                      : tessaform(image, src, &v, &layer),
              GIMP_PDB_SUCCESS);
    EXPECT_NE(standin::find(layer), nullptr);
    return layer;
  }

  gint32 image = -1;
};

// ------------------------------------------------------------- the layer

TEST_F(Render, NewLayerTakesNameTypeOpacityModeAndTheGrownBox) {
  for (GimpImageType type :
       {GIMP_GRAY_IMAGE, GIMP_GRAYA_IMAGE, GIMP_RGB_IMAGE, GIMP_RGBA_IMAGE}) {
    SCOPED_TRACE(type);
    const gint32 src = add_source(type, 32, 32);
    // Corners grown by 1 along the centre rays reach 9.29 and 20.71.
    const gint32 layer =
        render(src, rect(10, 10, 20, 20), rect(10, 10, 20, 20), 1);
    const standin::item *it = standin::find(layer);
    ASSERT_NE(it, nullptr);
    EXPECT_EQ(it->name, "Source__");
    EXPECT_EQ(it->type, type);
    EXPECT_EQ(it->opacity, 100.0);
    EXPECT_EQ(it->mode, GIMP_LAYER_MODE_NORMAL_LEGACY);
    EXPECT_EQ(it->width, 13);
    EXPECT_EQ(it->height, 13);
    EXPECT_EQ(it->offset_x, 9);
    EXPECT_EQ(it->offset_y, 9);
    EXPECT_TRUE(it->inserted);
    standin::reset();
    image = standin::add_image();
  }
}

TEST_F(Render, NegativeDestinationGivesNegativeOffsets) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 32, 32);
  // Centre (-12.5, -9); corner 0 grows to (-20.78, -15.62), corner 2 to
  // (-4.22, -2.38).
  const gint32 layer =
      render(src, rect(2, 2, 20, 20), rect(-20, -15, -5, -3), 0);
  const standin::item *it = standin::find(layer);
  EXPECT_EQ(it->offset_x, -21);
  EXPECT_EQ(it->offset_y, -16);
  EXPECT_EQ(it->width, -3 - -21);
  EXPECT_EQ(it->height, -1 - -16);
  const image_pixels out(layer);
  EXPECT_TRUE(out.written(-12, -9));
}

TEST_F(Render, LayerIsInsertedDirectlyAboveTheSource) {
  const gint32 bottom =
      standin::add_layer(image, "Bottom", GIMP_RGBA_IMAGE, 8, 8);
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 32, 32);
  const gint32 top = standin::add_layer(image, "Top", GIMP_RGBA_IMAGE, 8, 8);
  const gint32 layer = render(src, rect(2, 2, 9, 9), rect(3, 3, 12, 12), 1);
  EXPECT_EQ(standin::layers(image),
            (std::vector<gint32>{top, layer, src, bottom}));
}

TEST_F(Render, LayerInsideAGroupStaysInThatGroupAboveTheSource) {
  const gint32 below =
      standin::add_layer(image, "Below", GIMP_RGBA_IMAGE, 8, 8);
  const gint32 group = standin::add_group(image, "Group");
  const gint32 c2 =
      standin::add_layer(image, "C2", GIMP_RGBA_IMAGE, 8, 8, 0, 0, group);
  const gint32 src =
      standin::add_layer(image, "Inner", GIMP_RGBA_IMAGE, 32, 32, 0, 0, group);
  standin::write(src, pattern(32, 32, 4, true));
  const gint32 c1 =
      standin::add_layer(image, "C1", GIMP_RGBA_IMAGE, 8, 8, 0, 0, group);
  const gint32 layer = render(src, rect(2, 2, 9, 9), rect(3, 3, 12, 12), 1);
  EXPECT_EQ(standin::layers(image), (std::vector<gint32>{group, below}));
  EXPECT_EQ(standin::layers(image, group),
            (std::vector<gint32>{c1, layer, src, c2}));
  EXPECT_EQ(standin::find(layer)->name, "Inner__");
}

// A layer that cannot enter the image, or whose render cannot get its
// memory, leaves the image as it was and says so.
TEST_F(Render, FailedInsertionOrMemoryLeavesNothingBehind) {
  for (bool memory : {false, true}) {
    SCOPED_TRACE(memory ? "no memory for the render" : "insertion fails");
    standin::reset();
    image = standin::add_image();
    const gint32 src = add_source(GIMP_RGBA_IMAGE, 32, 32);
    const auto items = standin::items();
    const auto before = standin::read(src);
    standin::fail_insert = !memory;
    warp_render_faults faults = {0, -1, 0, 0};
    warp_render_options options{};
    options.faults = &faults;
    const warp_vals v = make_vals(rect(2, 2, 9, 9), rect(3, 3, 12, 12), 1);
    gint32 layer = 12345;
    const GimpPDBStatusType status =
        tessaform_render(image, src, &v, &layer, memory ? &options : nullptr);
    EXPECT_EQ(status, GIMP_PDB_EXECUTION_ERROR);
    EXPECT_EQ(layer, -1);
    EXPECT_EQ(standin::items(), items);
    EXPECT_EQ(standin::layers(image), std::vector<gint32>{src});
    EXPECT_EQ(standin::extra_refs(src), 0);
    EXPECT_EQ(standin::read(src), before);
    EXPECT_EQ(standin::calls.undo_group_start, 1);
    EXPECT_EQ(standin::calls.undo_group_end, 1);
    ASSERT_FALSE(standin::calls.messages.empty());
    if (memory) {
      EXPECT_EQ(faults.allocations_failed, 1);
      EXPECT_EQ(standin::calls.messages.front(),
                "not enough memory to render the new layer");
    }
    EXPECT_EQ(standin::calls.progress_init, standin::calls.progress_end);
  }
}

TEST_F(Render, RefusedSettingsLeaveNoLayerAndSayWhy) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 32, 32);
  warp_vals v = make_vals(rect(2, 2, 9, 9), rect(3, 3, 12, 12), 1);
  v.dx1 = std::nanf("");
  gint32 layer = 12345;
  EXPECT_EQ(tessaform(image, src, &v, &layer), GIMP_PDB_CALLING_ERROR);
  EXPECT_EQ(layer, -1);
  EXPECT_EQ(standin::layers(image), std::vector<gint32>{src});
  EXPECT_EQ(standin::extra_refs(src), 0);
  EXPECT_EQ(standin::calls.messages,
            std::vector<std::string>{warp_vals_check(&v)});
  EXPECT_EQ(standin::calls.undo_group_start, 0);
  EXPECT_EQ(standin::calls.progress_init, 0);
}

// ------------------------------------------------------ calls and release

TEST_F(Render, OneUndoGroupNoShadowAndEveryReferenceReleased) {
  for (const warp_render_options *path : kPaths) {
    for (GimpImageType type : {GIMP_GRAY_IMAGE, GIMP_RGBA_IMAGE}) {
      for (int interp = 0; interp < 4; ++interp) {
        SCOPED_TRACE(::testing::Message()
                     << path_name(path) << ", type " << type
                     << ", interpolation " << interp);
        standin::reset();
        image = standin::add_image();
        const gint32 src = add_source(type, 24, 20, 5, 7);
        const auto before = standin::read(src);
        const gint32 layer =
            render(src, quad(6, 8, 27, 9, 26, 25, 5.5, 24),
                   quad(1, 2, 30, 4, 33, 40, -2, 35), interp, "Warp", path);
        const auto &c = standin::calls;
        EXPECT_EQ(c.undo_group_start, 1);
        EXPECT_EQ(c.undo_group_end, 1);
        // The layer is new and ours: no shadow, so no selection can clip it.
        EXPECT_EQ(c.shadow_buffers, 0);
        EXPECT_EQ(c.merge_shadow, 0);
        EXPECT_EQ(standin::extra_refs(src), 0);
        EXPECT_EQ(standin::extra_refs(layer), 0);
        EXPECT_EQ(standin::read(src), before);
        EXPECT_NE(std::find(c.updated.begin(), c.updated.end(), layer),
                  c.updated.end());
        EXPECT_GE(c.displays_flush, 1);
        EXPECT_EQ(c.progress_init, 1);
        EXPECT_EQ(c.progress_end, 1);
        EXPECT_TRUE(c.messages.empty());
      }
    }
  }
}

// ----------------------------------------------------------------- progress

TEST_F(Render, ProgressAfterEveryTenthImageColumnThenOne) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 32, 32);
  // Grown box x0 = 3, x1 = 25: columns 3 to 24.
  gint32 layer = render(src, rect(2, 2, 20, 20), rect(4, 4, 23, 23), 1, "Warp",
                        &kStraightforward);
  ASSERT_EQ(standin::find(layer)->offset_x, 3);
  ASSERT_EQ(standin::find(layer)->width, 22);
  EXPECT_EQ(standin::calls.progress_label, "Warp ...");
  EXPECT_EQ(standin::calls.progress,
            (std::vector<double>{7.0 / 22, 17.0 / 22, 1.0}));

  // Grown box x0 = -15, x1 = 7: the tens are counted in image columns.
  standin::calls = standin::record();
  layer = render(src, rect(2, 2, 20, 20), rect(-14, 4, 5, 23), 1, "",
                 &kStraightforward);
  ASSERT_EQ(standin::find(layer)->offset_x, -15);
  ASSERT_EQ(standin::find(layer)->width, 22);
  EXPECT_EQ(standin::calls.progress_label, " ...");
  EXPECT_EQ(standin::calls.progress,
            (std::vector<double>{5.0 / 22, 15.0 / 22, 1.0}));
}

TEST_F(Render, ProgressOfTheDefaultPathRisesToOneOnce) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 32, 32);
  const gint32 layer =
      render(src, rect(2, 2, 20, 20), rect(-14, 4, 65, 83), 1, "Warp");
  ASSERT_EQ(standin::find(layer)->width, 82);
  const std::vector<double> &p = standin::calls.progress;
  EXPECT_EQ(standin::calls.progress_label, "Warp ...");
  EXPECT_EQ(standin::calls.progress_init, 1);
  EXPECT_EQ(standin::calls.progress_end, 1);
  ASSERT_FALSE(p.empty());
  EXPECT_EQ(p.back(), 1.0);
  // Never backwards, and 1.0 only once, at the end: how often the bands
  // report depends on timing.
  for (size_t i = 0; i < p.size(); ++i) {
    EXPECT_GT(p[i], 0.0) << i;
    EXPECT_LE(p[i], 1.0) << i;
    if (i) {
      EXPECT_GE(p[i], p[i - 1]) << i;
    }
    if (i + 1 < p.size()) {
      EXPECT_LT(p[i], 1.0) << "report " << i << " of " << p.size();
    }
  }
}

TEST_F(Render, LongProgressLabelIsCutBeforeTheSuffix) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 16, 16);
  const std::string label(400, 'L');
  render(src, rect(2, 2, 9, 9), rect(3, 3, 12, 12), 0, label.c_str());
  const std::string &shown = standin::calls.progress_label;
  EXPECT_LT(shown.size(), size_t(WARP_LABEL_SIZE));
  EXPECT_GE(shown.size(), size_t(96));
  ASSERT_GE(shown.size(), 4u);
  EXPECT_EQ(shown.substr(shown.size() - 4), " ...");
  EXPECT_EQ(shown.substr(0, shown.size() - 4),
            std::string(shown.size() - 4, 'L'));
}

}  // namespace
