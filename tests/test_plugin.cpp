// The plug-in shell over the stand-in: what `query` registers, how `run`
// answers every run mode, how it fills the settings, and the calls it
// refuses before anything is created; then the path procedure.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "gimp_standin.h"
#include "path_shape.h"
#include "plug_in_tessaform.h"
#include "plug_in_tessaform_path.h"
#include "plug_in_tessaform_rectify.h"
#include "rectify.h"

// `run` brackets its work with gegl_init and gegl_exit. The real gegl_exit
// tears babl down for the whole test process, so while `run` is under test
// the two are only counted; outside it they reach GEGL.
namespace {
bool inside_run = false;
int gegl_inits = 0;
int gegl_exits = 0;
}  // namespace

extern "C" void gegl_init(gint *argc, gchar ***argv) {
  using fn = void (*)(gint *, gchar ***);
  if (inside_run) {
    ++gegl_inits;
    return;
  }
  reinterpret_cast<fn>(dlsym(RTLD_NEXT, "gegl_init"))(argc, argv);
}

extern "C" void gegl_exit(void) {
  using fn = void (*)(void);
  if (inside_run) {
    ++gegl_exits;
    return;
  }
  reinterpret_cast<fn>(dlsym(RTLD_NEXT, "gegl_exit"))();
}

namespace {

using coords = std::array<double, 16>;

// A 10 x 10 square onto a slightly larger square inside a 32 x 32 drawable.
const coords kSquare = {4, 4, 14, 4, 14, 14, 4, 14, 6, 5, 18, 5, 18, 17, 6, 17};

std::vector<GimpParam> make_params(gint32 image, gint32 drawable,
                                   const char *label, const coords &c,
                                   guint8 interp = 1, guint8 pre_blur = 0,
                                   guint8 anti_aliasing = 0) {
  std::vector<GimpParam> p(23);
  p[0].type = GIMP_PDB_INT32;
  p[0].data.d_int32 = GIMP_RUN_NONINTERACTIVE;
  p[1].type = GIMP_PDB_IMAGE;
  p[1].data.d_image = image;
  p[2].type = GIMP_PDB_DRAWABLE;
  p[2].data.d_drawable = drawable;
  p[3].type = GIMP_PDB_STRING;
  p[3].data.d_string = const_cast<gchar *>(label);
  for (int i = 0; i < 16; ++i) {
    p[4 + i].type = GIMP_PDB_FLOAT;
    p[4 + i].data.d_float = c[i];
  }
  const guint8 flags[3] = {interp, pre_blur, anti_aliasing};
  for (int i = 0; i < 3; ++i) {
    p[20 + i].type = GIMP_PDB_INT8;
    p[20 + i].data.d_int8 = flags[i];
  }
  return p;
}

struct answer {
  gint n = -1;
  GimpParam *values = nullptr;
  GimpPDBStatusType status() const { return values[0].data.d_status; }
  gint32 layer() const { return values[1].data.d_int32; }
};

answer call_run(const GimpParam *params, gint nparams) {
  answer a;
  inside_run = true;
  run("plug_in_tessaform", nparams, params, &a.n, &a.values);
  inside_run = false;
  return a;
}

answer call_run(const std::vector<GimpParam> &p) {
  return call_run(p.data(), gint(p.size()));
}

warp_vals distinct_vals() {
  warp_vals v{};
  v.progress_name = "kept";
  float *fields[16] = {&v.sx0, &v.sy0, &v.sx1, &v.sy1, &v.sx2, &v.sy2,
                       &v.sx3, &v.sy3, &v.dx0, &v.dy0, &v.dx1, &v.dy1,
                       &v.dx2, &v.dy2, &v.dx3, &v.dy3};
  for (int i = 0; i < 16; ++i) *fields[i] = 100.25f + float(i);
  v.interpolation = 2;
  v.pre_blur = 7;
  v.anti_aliasing = 9;
  return v;
}

// Field by field: padding bytes carry nothing.
bool same_vals(const warp_vals &a, const warp_vals &b) {
  return a.progress_name == b.progress_name && a.sx0 == b.sx0 &&
         a.sy0 == b.sy0 && a.sx1 == b.sx1 && a.sy1 == b.sy1 &&
         a.sx2 == b.sx2 && a.sy2 == b.sy2 && a.sx3 == b.sx3 &&
         a.sy3 == b.sy3 && a.dx0 == b.dx0 && a.dy0 == b.dy0 &&
         a.dx1 == b.dx1 && a.dy1 == b.dy1 && a.dx2 == b.dx2 &&
         a.dy2 == b.dy2 && a.dx3 == b.dx3 && a.dy3 == b.dy3 &&
         a.interpolation == b.interpolation && a.pre_blur == b.pre_blur &&
         a.anti_aliasing == b.anti_aliasing;
}

bool logged(const std::string &text) {
  const auto &m = standin::calls.messages;
  return std::find(m.begin(), m.end(), text) != m.end();
}

std::string lower(std::string s) {
  for (char &c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class Plugin : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    gegl_inits = gegl_exits = 0;
    vals = warp_vals{};
    image = standin::add_image();
    src = standin::add_layer(image, "Chart", GIMP_RGBA_IMAGE, 32, 32);
    std::vector<unsigned char> px(32 * 32 * 4);
    for (size_t i = 0; i < px.size(); ++i)
      px[i] = (i % 4 == 3) ? 255 : (i * 13) & 0xff;
    standin::write(src, px);
  }
  void TearDown() override { standin::reset(); }

  gint32 image = -1;
  gint32 src = -1;
};

// ------------------------------------------------------------ registration

TEST(Registration, PlugInInfoHandsQueryAndRunToLibgimp) {
  EXPECT_EQ(PLUG_IN_INFO.init_proc, nullptr);
  EXPECT_EQ(PLUG_IN_INFO.quit_proc, nullptr);
  EXPECT_EQ(PLUG_IN_INFO.query_proc, &query);
  EXPECT_EQ(PLUG_IN_INFO.run_proc, &run);
}

TEST(Registration, QueryInstallsTheMainProcedureAsGimpShouldSeeIt) {
  standin::reset();
  query();
  const auto &c = standin::calls;
  // The main procedure first; the path and rectify procedures follow.
  EXPECT_EQ(c.install_calls, 3);
  EXPECT_EQ(c.name, "plug_in_tessaform");
  EXPECT_EQ(c.blurb, "Transform a Quadrangle bilinear");
  EXPECT_EQ(c.help, "Transform a Quadrangle bilinear to another Quadrangle");
  EXPECT_EQ(c.date, "2019");
  EXPECT_EQ(c.menu_label, "_Tessaform...");
  EXPECT_EQ(c.image_types, "RGB*, GRAY*");
  EXPECT_EQ(c.proc_type, GIMP_PLUGIN);

  struct def {
    GimpPDBArgType type;
    const char *name;
    const char *description;
  };
  const def expected[23] = {
      {GIMP_PDB_INT32, "run-mode", "Run mode"},
      {GIMP_PDB_IMAGE, "image", "Input image"},
      {GIMP_PDB_DRAWABLE, "drawable", "Input drawable"},
      {GIMP_PDB_STRING, "progress_name", "progress-name"},
      {GIMP_PDB_FLOAT, "sx0", "source coord. x0"},
      {GIMP_PDB_FLOAT, "sy0", "source coord. y0"},
      {GIMP_PDB_FLOAT, "sx1", "source coord. x1"},
      {GIMP_PDB_FLOAT, "sy1", "source coord. y1"},
      {GIMP_PDB_FLOAT, "sx2", "source coord. x2"},
      {GIMP_PDB_FLOAT, "sy2", "source coord. y2"},
      {GIMP_PDB_FLOAT, "sx3", "source coord. x3"},
      {GIMP_PDB_FLOAT, "sy3", "source coord. y3"},
      {GIMP_PDB_FLOAT, "dx0", "dest. coord. x0"},
      {GIMP_PDB_FLOAT, "dy0", "dest. coord. y0"},
      {GIMP_PDB_FLOAT, "dx1", "dest. coord. x1"},
      {GIMP_PDB_FLOAT, "dy1", "dest. coord. y1"},
      {GIMP_PDB_FLOAT, "dx2", "dest. coord. x2"},
      {GIMP_PDB_FLOAT, "dy2", "dest. coord. y2"},
      {GIMP_PDB_FLOAT, "dx3", "dest. coord. x3"},
      {GIMP_PDB_FLOAT, "dy3", "dest. coord. y3"},
      {GIMP_PDB_INT8, "interpolation", "interp.-index"},
      {GIMP_PDB_INT8, "pre_blur", "blur befor transf."},
      {GIMP_PDB_INT8, "anti_aliasing", "anti-aliasing"},
  };
  ASSERT_EQ(c.params.size(), 23u);
  for (int i = 0; i < 23; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(c.params[i].type, expected[i].type);
    EXPECT_STREQ(c.params[i].name, expected[i].name);
    EXPECT_STREQ(c.params[i].description, expected[i].description);
  }

  // GIMP heads every answer with the status itself, so only the layer ID is
  // declared.
  ASSERT_EQ(c.return_vals.size(), 1u);
  EXPECT_EQ(c.return_vals[0].type, GIMP_PDB_INT32);
  EXPECT_STREQ(c.return_vals[0].name, "new_layer");
  EXPECT_STREQ(c.return_vals[0].description, "new Layer ID");
  standin::reset();
}

// ---------------------------------------------------------- run dispatch

TEST_F(Plugin, SuccessReturnsTheInsertedLayer) {
  const auto before = standin::layers(image);
  const answer a = call_run(make_params(image, src, "Warp", kSquare));
  ASSERT_EQ(a.n, 2);
  EXPECT_EQ(a.values[0].type, GIMP_PDB_STATUS);
  EXPECT_EQ(a.status(), GIMP_PDB_SUCCESS);
  EXPECT_EQ(a.values[1].type, GIMP_PDB_INT32);

  const auto after = standin::layers(image);
  ASSERT_EQ(after.size(), before.size() + 1);
  const gint32 created = after[0];
  EXPECT_EQ(a.layer(), created);
  ASSERT_NE(standin::find(created), nullptr);
  EXPECT_EQ(standin::find(created)->name, "Chart__");
  EXPECT_TRUE(standin::calls.messages.empty());
  EXPECT_EQ(standin::calls.progress_label, "Warp ...");
  EXPECT_EQ(gegl_inits, 1);
  EXPECT_EQ(gegl_exits, 1);
  EXPECT_EQ(standin::extra_refs(src), 0);
  EXPECT_EQ(standin::extra_refs(created), 0);
}

TEST_F(Plugin, WrongParameterCountIsACallingError) {
  // A successful call first, so a stale layer ID would show.
  ASSERT_EQ(call_run(make_params(image, src, "Warp", kSquare)).status(),
            GIMP_PDB_SUCCESS);
  const warp_vals sentinel = distinct_vals();

  for (gint count : {22, 24}) {
    SCOPED_TRACE(count);
    standin::calls = standin::record();
    vals = sentinel;
    std::vector<GimpParam> p = make_params(image, src, "Warp", kSquare);
    p.resize(24, p[22]);
    const auto items = standin::items();
    const answer a = call_run(p.data(), count);
    ASSERT_EQ(a.n, 2);
    EXPECT_EQ(a.values[0].type, GIMP_PDB_STATUS);
    EXPECT_EQ(a.status(), GIMP_PDB_CALLING_ERROR);
    EXPECT_EQ(a.values[1].type, GIMP_PDB_INT32);
    EXPECT_EQ(a.layer(), -1);
    const std::string message = "Wrong Number of Parameters - there are " +
                                std::to_string(count) + " - need 23";
    EXPECT_EQ(standin::calls.messages, std::vector<std::string>{message});
    EXPECT_TRUE(same_vals(vals, sentinel));
    EXPECT_EQ(standin::items(), items);
    EXPECT_EQ(standin::calls.progress_init, 0);
  }
}

TEST_F(Plugin, FewerThanThreeParametersAreRefusedWithoutReadingThem) {
  const auto items = standin::items();
  const answer none = call_run(nullptr, 0);
  ASSERT_EQ(none.n, 2);
  EXPECT_EQ(none.values[0].type, GIMP_PDB_STATUS);
  EXPECT_EQ(none.status(), GIMP_PDB_CALLING_ERROR);
  EXPECT_EQ(none.layer(), -1);
  EXPECT_TRUE(logged("Wrong Number of Parameters - there are 0 - need 23"));

  std::vector<GimpParam> two = make_params(image, src, "Warp", kSquare);
  two.resize(2);
  two.shrink_to_fit();
  standin::calls = standin::record();
  const answer a = call_run(two.data(), 2);
  ASSERT_EQ(a.n, 2);
  EXPECT_EQ(a.status(), GIMP_PDB_CALLING_ERROR);
  EXPECT_EQ(a.layer(), -1);
  EXPECT_EQ(standin::calls.messages,
            std::vector<std::string>{
                "Wrong Number of Parameters - there are 2 - need 23"});
  EXPECT_EQ(standin::items(), items);
  EXPECT_EQ(gegl_inits, gegl_exits);
}

TEST_F(Plugin, InteractiveAndLastValuesPassThroughWithoutALayer) {
  struct mode_case {
    gint32 mode;
    const char *message;
  };
  for (const mode_case m :
       {mode_case{GIMP_RUN_INTERACTIVE, "run interactive . . ."},
        mode_case{GIMP_RUN_WITH_LAST_VALS, "run with last values . . ."}}) {
    SCOPED_TRACE(m.message);
    for (gint count : {3, 23}) {
      // A successful call first, so a stale layer ID would show.
      ASSERT_EQ(call_run(make_params(image, src, "Warp", kSquare)).status(),
                GIMP_PDB_SUCCESS);
      standin::calls = standin::record();
      gegl_inits = gegl_exits = 0;
      std::vector<GimpParam> p = make_params(image, src, "Warp", kSquare);
      p[0].data.d_int32 = m.mode;
      const auto items = standin::items();
      const answer a = call_run(p.data(), count);
      ASSERT_EQ(a.n, 2);
      EXPECT_EQ(a.values[0].type, GIMP_PDB_STATUS);
      EXPECT_EQ(a.status(), GIMP_PDB_PASS_THROUGH);
      EXPECT_EQ(a.values[1].type, GIMP_PDB_INT32);
      EXPECT_EQ(a.layer(), -1);
      EXPECT_EQ(standin::calls.messages, std::vector<std::string>{m.message});
      EXPECT_EQ(standin::items(), items);
      EXPECT_EQ(standin::calls.progress_init, 0);
      EXPECT_EQ(standin::calls.undo_group_start, 0);
      EXPECT_EQ(gegl_inits, 1);
      EXPECT_EQ(gegl_exits, 1);
    }
  }
}

TEST_F(Plugin, UnknownRunModeAsksForNonInteractive) {
  ASSERT_EQ(call_run(make_params(image, src, "Warp", kSquare)).status(),
            GIMP_PDB_SUCCESS);
  standin::calls = standin::record();
  std::vector<GimpParam> p = make_params(image, src, "Warp", kSquare);
  p[0].data.d_int32 = 3;
  const auto items = standin::items();
  const answer a = call_run(p);
  ASSERT_EQ(a.n, 2);
  EXPECT_EQ(a.status(), GIMP_PDB_PASS_THROUGH);
  EXPECT_EQ(a.values[1].type, GIMP_PDB_INT32);
  EXPECT_EQ(a.layer(), -1);
  EXPECT_EQ(standin::calls.messages,
            std::vector<std::string>{"Wrong run-mode - need non-interactive"});
  EXPECT_EQ(standin::items(), items);
  EXPECT_EQ(gegl_inits, gegl_exits);
}

// ---------------------------------------------------------------- settings

TEST_F(Plugin, CoordinatesAreNarrowedToFloatAndFlagsReadAsBytes) {
  coords c = kSquare;
  c[0] = 0.1;  // sx0
  c[9] = 5.3;  // dy0
  const answer a = call_run(make_params(image, src, "Warp", c, 1, 255, 255));
  EXPECT_EQ(a.status(), GIMP_PDB_SUCCESS);
  EXPECT_EQ(vals.sx0, 0.1f);
  EXPECT_EQ(vals.dy0, 5.3f);
  EXPECT_EQ(vals.sy0, 4.0f);
  EXPECT_EQ(vals.dx3, 6.0f);
  EXPECT_EQ(vals.dy3, 17.0f);
  EXPECT_EQ(vals.interpolation, 1);
  EXPECT_EQ(vals.pre_blur, 255);
  EXPECT_EQ(vals.anti_aliasing, 255);

  // 2^24 + 1 has no float: it rounds to 2^24, which is then refused.
  c = kSquare;
  c[15] = 16777217.0;  // dy3
  standin::calls = standin::record();
  const answer big = call_run(make_params(image, src, "Warp", c, 255));
  EXPECT_EQ(vals.dy3, 16777216.0f);
  EXPECT_EQ(vals.interpolation, 255);
  EXPECT_EQ(big.status(), GIMP_PDB_CALLING_ERROR);
}

TEST_F(Plugin, EveryCornerParameterLandsInItsField) {
  coords c;
  for (int i = 0; i < 16; ++i) c[i] = 3.0 + i * 0.75;
  call_run(make_params(image, src, "Warp", c, 0));
  const float got[16] = {vals.sx0, vals.sy0, vals.sx1, vals.sy1,
                         vals.sx2, vals.sy2, vals.sx3, vals.sy3,
                         vals.dx0, vals.dy0, vals.dx1, vals.dy1,
                         vals.dx2, vals.dy2, vals.dx3, vals.dy3};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(got[i], float(c[i])) << i;
  EXPECT_EQ(vals.interpolation, 0);
}

TEST_F(Plugin, StoredDataIsTakenOnlyWhenItIsExactlyARecord) {
  warp_vals stored = distinct_vals();
  stored.progress_name = reinterpret_cast<const char *>(uintptr_t(0x10));
  const auto bytes = [&](size_t n) {
    std::vector<unsigned char> b(n, 0x5a);
    const auto *raw = reinterpret_cast<const unsigned char *>(&stored);
    std::copy(raw, raw + std::min(n, sizeof stored), b.begin());
    return b;
  };

  for (gint32 mode : {GIMP_RUN_INTERACTIVE, GIMP_RUN_WITH_LAST_VALS}) {
    SCOPED_TRACE(mode);
    std::vector<GimpParam> p = make_params(image, src, "Warp", kSquare);
    p[0].data.d_int32 = mode;

    for (size_t n : {size_t(0), sizeof stored - 4, sizeof stored + 8}) {
      SCOPED_TRACE(n);
      vals = warp_vals{};
      vals.sx0 = 1.5f;
      const warp_vals before = vals;
      standin::has_stored_data = n != 0;
      standin::stored_data = bytes(n);
      EXPECT_EQ(call_run(p).status(), GIMP_PDB_PASS_THROUGH);
      EXPECT_TRUE(same_vals(vals, before));
    }

    vals = warp_vals{};
    standin::has_stored_data = true;
    standin::stored_data = bytes(sizeof stored);
    EXPECT_EQ(call_run(p).status(), GIMP_PDB_PASS_THROUGH);
    warp_vals expected = stored;
    expected.progress_name = nullptr;  // another process's pointer
    EXPECT_TRUE(same_vals(vals, expected));
    EXPECT_EQ(vals.progress_name, nullptr);
    EXPECT_EQ(vals.dy3, stored.dy3);
    EXPECT_EQ(vals.anti_aliasing, 9);
  }
}

TEST_F(Plugin, FailedInsertionIsAnExecutionErrorWithoutALayer) {
  standin::fail_insert = true;
  const auto items = standin::items();
  const answer a = call_run(make_params(image, src, "Warp", kSquare));
  ASSERT_EQ(a.n, 2);
  EXPECT_EQ(a.status(), GIMP_PDB_EXECUTION_ERROR);
  EXPECT_EQ(a.values[1].type, GIMP_PDB_INT32);
  EXPECT_EQ(a.layer(), -1);
  EXPECT_EQ(standin::items(), items);
  EXPECT_EQ(standin::extra_refs(src), 0);
  EXPECT_EQ(standin::calls.undo_group_start, standin::calls.undo_group_end);
  EXPECT_EQ(gegl_inits, 1);
  EXPECT_EQ(gegl_exits, 1);
}

TEST_F(Plugin, NullProgressLabelRenders) {
  const answer a = call_run(make_params(image, src, nullptr, kSquare));
  EXPECT_EQ(a.status(), GIMP_PDB_SUCCESS);
  EXPECT_EQ(vals.progress_name, nullptr);
  ASSERT_NE(standin::find(a.layer()), nullptr);
  EXPECT_EQ(standin::layers(image)[0], a.layer());
  EXPECT_EQ(standin::calls.progress_init, 1);
}

// ----------------------------------------------------------------- refusals

// A refused call answers CALLING_ERROR with no layer, says why, and leaves
// the image, its buffers and its undo history as they were.
class Refusal : public Plugin {
 protected:
  void expect_refused(const std::vector<GimpParam> &p,
                      const std::string &message_part) {
    standin::calls = standin::record();
    const auto items = standin::items();
    const auto layers = standin::layers(image);
    const auto pixels = standin::read(src);
    const answer a = call_run(p);
    ASSERT_EQ(a.n, 2);
    EXPECT_EQ(a.values[0].type, GIMP_PDB_STATUS);
    EXPECT_EQ(a.status(), GIMP_PDB_CALLING_ERROR);
    EXPECT_EQ(a.values[1].type, GIMP_PDB_INT32);
    EXPECT_EQ(a.layer(), -1);
    ASSERT_EQ(standin::calls.messages.size(), 1u);
    EXPECT_NE(lower(standin::calls.messages[0]).find(message_part),
              std::string::npos)
        << standin::calls.messages[0];
    EXPECT_EQ(standin::items(), items);
    EXPECT_EQ(standin::layers(image), layers);
    EXPECT_EQ(standin::read(src), pixels);
    EXPECT_EQ(standin::extra_refs(src), 0);
    EXPECT_EQ(standin::calls.undo_group_start, standin::calls.undo_group_end);
    EXPECT_EQ(standin::calls.progress_init, 0);
    EXPECT_EQ(gegl_inits, gegl_exits);
  }
};

TEST_F(Refusal, UnknownInterpolation) {
  // A successful call first, so a stale layer ID would show.
  ASSERT_EQ(call_run(make_params(image, src, "Warp", kSquare)).status(),
            GIMP_PDB_SUCCESS);
  for (guint8 interp : {4, 5, 128, 255}) {
    SCOPED_TRACE(int(interp));
    expect_refused(make_params(image, src, "Warp", kSquare, interp),
                   "unknown interpolation!");
    EXPECT_EQ(standin::calls.messages,
              std::vector<std::string>{"unknown interpolation!"});
  }
}

TEST_F(Refusal, CoordinatesThatAreNotFiniteOrTooLarge) {
  const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(),
                        1e39,  // beyond float
                        -1e300,
                        8388609.0,
                        -8388609.0};
  for (int i = 0; i < 16; ++i) {
    for (double value : bad) {
      SCOPED_TRACE(::testing::Message()
                   << "parameter " << 4 + i << " = " << value);
      coords c = kSquare;
      c[i] = value;
      expect_refused(make_params(image, src, "Warp", c), "coordinate");
    }
  }
}

TEST_F(Plugin, CoordinatesUpToTwoToTheTwentyThirdAreAccepted) {
  for (double value : {8388608.0, -8388608.0}) {
    SCOPED_TRACE(value);
    coords c = kSquare;
    c[2] = value;  // sx1: a far source corner, a small destination
    const answer a = call_run(make_params(image, src, "Warp", c, 0));
    EXPECT_EQ(a.status(), GIMP_PDB_SUCCESS);
    EXPECT_NE(standin::find(a.layer()), nullptr);
  }
}

TEST_F(Refusal, DestinationTooLargeForALayer) {
  const coords wide = {4, 4, 14,     4, 14,     14, 4, 14,
                       0, 0, 600000, 0, 600000, 4,  0, 4};
  const coords tall = {4, 4, 14, 4, 14, 14,     4, 14,
                       0, 0, 4,  0, 4,  600000, 0, 600000};
  const coords huge = {4, 4, 14,    4, 14,    14,    4, 14,
                       0, 0, 40000, 0, 40000, 40000, 0, 40000};
  for (const coords &c : {wide, tall, huge})
    expect_refused(make_params(image, src, "Warp", c), "large");
}

TEST_F(Refusal, DrawableThatIsNotALayerOfTheImage) {
  const gint32 channel = standin::add_channel(image, "Mask", 32, 32);
  expect_refused(make_params(image, channel, "Warp", kSquare), "layer");

  const gint32 other_image = standin::add_image();
  const gint32 other =
      standin::add_layer(other_image, "Other", GIMP_RGBA_IMAGE, 32, 32);
  expect_refused(make_params(image, other, "Warp", kSquare), "layer");
  EXPECT_EQ(standin::layers(other_image), std::vector<gint32>{other});

  expect_refused(make_params(image, 9999, "Warp", kSquare), "layer");
}

TEST_F(Refusal, DrawableInAGroupWhoseContentIsLocked) {
  const gint32 outer = standin::add_group(image, "Outer");
  const gint32 inner = standin::add_group(image, "Inner", outer);
  const gint32 layer = standin::add_layer(image, "Inside", GIMP_RGBA_IMAGE,
                                          32, 32, 0, 0, inner);
  standin::find(inner)->lock_content = true;
  expect_refused(make_params(image, layer, "Warp", kSquare), "locked");
  // A lock two levels up reaches the new layer as well.
  standin::find(inner)->lock_content = false;
  standin::find(outer)->lock_content = true;
  expect_refused(make_params(image, layer, "Warp", kSquare), "locked");
  EXPECT_EQ(standin::layers(image, inner), std::vector<gint32>{layer});
  // A locked drawable is only read: that is allowed.
  standin::find(outer)->lock_content = false;
  standin::find(layer)->lock_content = true;
  const answer a = call_run(make_params(image, layer, "Warp", kSquare));
  EXPECT_EQ(a.status(), GIMP_PDB_SUCCESS);
  EXPECT_EQ(standin::layers(image, inner),
            (std::vector<gint32>{a.layer(), layer}));
}

TEST_F(Refusal, IndexedDrawable) {
  const gint32 indexed =
      standin::add_layer(image, "Palette", GIMP_INDEXED_IMAGE, 32, 32);
  expect_refused(make_params(image, indexed, "Warp", kSquare), "indexed");
  const gint32 indexed_alpha =
      standin::add_layer(image, "PaletteA", GIMP_INDEXEDA_IMAGE, 32, 32);
  expect_refused(make_params(image, indexed_alpha, "Warp", kSquare), "indexed");
}

// ------------------------------------------------------------ path procedure

// The dialog as a person would answer it.
struct dialog_script {
  int runs = 0;
  bool whole_layer_shown = false;
  path_settings shown{};
  bool ok = true;
  bool display = true;
  path_settings chosen{2, 1, WARP_BILINEAR};
} dialog;

// Control points of one stroke through the given anchors, with handles
// that differ from them so that reading a handle as an anchor shows.
std::vector<double> stroke_of(std::initializer_list<double> anchors) {
  std::vector<double> out;
  const std::vector<double> a(anchors);
  for (size_t i = 0; i + 1 < a.size(); i += 2)
    out.insert(out.end(), {a[i] - 1, a[i + 1] - 3, a[i], a[i + 1], a[i] + 2,
                           a[i + 1] + 5});
  return out;
}

const std::vector<double> kDst = stroke_of({6, 5, 18, 5, 18, 17, 6, 17});
const std::vector<double> kSrc = stroke_of({4, 4, 14, 4, 14, 14, 4, 14});

std::vector<GimpParam> path_params(gint32 image, gint32 drawable, gint32 path,
                                   gint32 interp = 1, gint32 aa = 0,
                                   gint32 mode = GIMP_RUN_NONINTERACTIVE) {
  std::vector<GimpParam> p(6);
  const GimpPDBArgType types[6] = {GIMP_PDB_INT32, GIMP_PDB_IMAGE,
                                   GIMP_PDB_DRAWABLE, GIMP_PDB_VECTORS,
                                   GIMP_PDB_INT32, GIMP_PDB_INT32};
  const gint32 v[6] = {mode, image, drawable, path, interp, aa};
  for (int i = 0; i < 6; ++i) {
    p[i].type = types[i];
    p[i].data.d_int32 = v[i];
  }
  return p;
}

answer call_path_run(const std::vector<GimpParam> &p) {
  answer a;
  inside_run = true;
  run("plug_in_tessaform_path", gint(p.size()), p.data(), &a.n, &a.values);
  inside_run = false;
  return a;
}

TEST(PathShape, OneStrokeOfFourTakesTheWholeDrawable) {
  path_shape shape;
  path_shape_init(&shape, true);
  path_shape_add_stroke(&shape, kDst.data(), int(kDst.size()));
  bool whole = false;
  ASSERT_TRUE(path_shape_usable(&shape, &whole));
  EXPECT_TRUE(whole);
  warp_vals v{};
  path_shape_corners(&shape, 3, 7, 20, 10, &v);
  const float want[16] = {3, 7, 23, 7, 23, 17, 3, 17, 6, 5, 18, 5, 18, 17, 6, 17};
  const float got[16] = {v.sx0, v.sy0, v.sx1, v.sy1, v.sx2, v.sy2, v.sx3, v.sy3,
                         v.dx0, v.dy0, v.dx1, v.dy1, v.dx2, v.dy2, v.dx3, v.dy3};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(got[i], want[i]) << i;
}

TEST(PathShape, EightAnchorsInOneOrTwoStrokesAreSourceThenDestination) {
  std::vector<double> eight = kSrc;
  eight.insert(eight.end(), kDst.begin(), kDst.end());
  path_shape one, two;
  path_shape_init(&one, true);
  path_shape_add_stroke(&one, eight.data(), int(eight.size()));
  path_shape_init(&two, true);
  path_shape_add_stroke(&two, kSrc.data(), int(kSrc.size()));
  path_shape_add_stroke(&two, kDst.data(), int(kDst.size()));
  for (const path_shape *shape : {&one, &two}) {
    bool whole = true;
    ASSERT_TRUE(path_shape_usable(shape, &whole));
    EXPECT_FALSE(whole);
    warp_vals v{};
    path_shape_corners(shape, 100, 100, 1, 1, &v);
    EXPECT_EQ(v.sx1, 14);
    EXPECT_EQ(v.sy3, 14);
    EXPECT_EQ(v.dx1, 18);
    EXPECT_EQ(v.dy3, 17);
  }
  // An anchor beyond float's range is carried as an infinity, which the
  // settings check refuses.
  const auto far = stroke_of({6, 5, 1e300, 5, 18, 17, 6, -1e300});
  path_shape shape;
  path_shape_init(&shape, true);
  path_shape_add_stroke(&shape, far.data(), int(far.size()));
  warp_vals v{};
  v.interpolation = 1;
  path_shape_corners(&shape, 0, 0, 8, 8, &v);
  EXPECT_EQ(v.dx1, HUGE_VALF);
  EXPECT_EQ(v.dy3, -HUGE_VALF);
  EXPECT_NE(warp_vals_check(&v), nullptr);
}

TEST(PathShape, OtherShapesAreRefusedSayingWhatWasFound) {
  const auto three = stroke_of({1, 1, 5, 1, 5, 5});
  const auto five = stroke_of({1, 1, 5, 1, 5, 5, 1, 5, 0, 3});
  struct { std::vector<std::vector<double>> strokes; bool has; const char *found; } cases[] = {
      {{}, false, "The image has no path to use. Needed: one stroke of 4"},
      {{}, true, "The path is empty."},
      {{three}, true, "The path has one stroke of 3 anchors."},
      {{five}, true, "The path has one stroke of 5 anchors."},
      {{kSrc, kDst, kDst}, true, "The path has 3 strokes of 4, 4 and 4 anchors."},
      {{three, five}, true, "The path has 2 strokes of 3 and 5 anchors."},
      {{std::vector<double>(kSrc.begin(), kSrc.end() - 2)}, true, "not a curve"},
  };
  for (const auto &c : cases) {
    path_shape shape;
    path_shape_init(&shape, c.has);
    for (const auto &s : c.strokes) path_shape_add_stroke(&shape, s.data(), int(s.size()));
    bool whole = false;
    EXPECT_FALSE(path_shape_usable(&shape, &whole)) << c.found;
    char text[512];
    path_shape_refusal(&shape, text, sizeof text);
    EXPECT_NE(std::string(text).find(c.found), std::string::npos) << text;
  }
}

// The path and rectify procedures: in Filters > Distorts, with their
// parameter and return tables.
TEST(Registration, PathAndRectifyProceduresAreInTheFiltersMenu) {
  standin::reset();
  query();
  const auto &c = standin::calls;
  ASSERT_EQ(c.installs.size(), 3u);
  using menu = std::pair<std::string, std::string>;
  EXPECT_EQ(c.menus, (std::vector<menu>{
                         menu("plug_in_tessaform_path", "<Image>/Filters/Distorts"),
                         menu("plug_in_tessaform_rectify", "<Image>/Filters/Distorts")}));
  struct procedure {
    const char *name, *label;
    std::vector<GimpPDBArgType> types;
    std::vector<const char *> names;
  };
  const procedure expected[2] = {
      {"plug_in_tessaform_path", "Quadrangle Warp from _Path...",
       {GIMP_PDB_INT32, GIMP_PDB_IMAGE, GIMP_PDB_DRAWABLE, GIMP_PDB_VECTORS,
        GIMP_PDB_INT32, GIMP_PDB_INT32},
       {"run-mode", "image", "drawable", "path", "interpolation", "anti-aliasing"}},
      {"plug_in_tessaform_rectify", "Rectify from _Path...",
       {GIMP_PDB_INT32, GIMP_PDB_IMAGE, GIMP_PDB_DRAWABLE, GIMP_PDB_VECTORS,
        GIMP_PDB_INT32, GIMP_PDB_INT32, GIMP_PDB_INT32, GIMP_PDB_INT32},
       {"run-mode", "image", "drawable", "path", "width", "height",
        "interpolation", "anti-aliasing"}}};
  for (int k = 0; k < 2; ++k) {
    const auto &p = c.installs[size_t(k) + 1];
    const procedure &e = expected[k];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(p.name, e.name);
    EXPECT_EQ(p.menu_label, e.label);
    EXPECT_EQ(p.image_types, "RGB*, GRAY*");
    ASSERT_EQ(p.params.size(), e.types.size());
    for (size_t i = 0; i < e.types.size(); ++i) {
      EXPECT_EQ(p.params[i].type, e.types[i]) << i;
      EXPECT_STREQ(p.params[i].name, e.names[i]);
    }
    ASSERT_EQ(p.return_vals.size(), 1u);
    EXPECT_EQ(p.return_vals[0].type, GIMP_PDB_INT32);
    EXPECT_STREQ(p.return_vals[0].name, "new_layer");
  }
  standin::reset();
}

class PathRun : public Plugin {
 protected:
  void SetUp() override {
    Plugin::SetUp();
    dialog = dialog_script{};
  }
  // The pixels plug_in_tessaform gives for the same corners, its layer
  // removed again.
  std::vector<unsigned char> main_result(const coords &c, guint8 interp) {
    const answer a = call_run(make_params(image, src, "Warp", c, interp));
    EXPECT_EQ(a.status(), GIMP_PDB_SUCCESS);
    auto px = standin::read(a.layer());
    gimp_image_remove_layer(image, a.layer());
    return px;
  }
};

TEST_F(PathRun, RendersWhatTheMainProcedureGivesForTheSameCorners) {
  const auto want = main_result({0, 0, 32, 0, 32, 32, 0, 32, 6, 5, 18, 5, 18, 17, 6, 17}, 2);
  const gint32 path = standin::add_path(image, {kDst});
  const answer a = call_path_run(path_params(image, src, path, 2));
  ASSERT_EQ(a.status(), GIMP_PDB_SUCCESS);
  EXPECT_EQ(standin::layers(image).front(), a.layer());
  EXPECT_EQ(standin::read(a.layer()), want);
  EXPECT_EQ(standin::calls.undo_group_start, 2);
  EXPECT_EQ(gegl_inits, gegl_exits);
  EXPECT_EQ(dialog.runs, 0);
  EXPECT_EQ(standin::calls.set_data_name, "plug_in_tessaform_path");
}

TEST_F(PathRun, UnusablePathIsACallingErrorWithoutDialogOrLayer) {
  const auto before = standin::layers(image);
  const gint32 path = standin::add_path(image, {stroke_of({1, 1, 5, 1, 5, 5})});
  for (gint32 mode : {GIMP_RUN_NONINTERACTIVE, GIMP_RUN_INTERACTIVE}) {
    standin::calls.messages.clear();
    const answer a = call_path_run(path_params(image, src, path, 1, 0, mode));
    EXPECT_EQ(a.status(), GIMP_PDB_CALLING_ERROR);
    EXPECT_TRUE(logged(
        "The path has one stroke of 3 anchors. Needed: one stroke of 4 anchors "
        "(the whole layer goes onto that quadrangle), or two strokes of 4 "
        "anchors or one stroke of 8 (the source quadrangle, then the "
        "destination)."));
  }
  const answer none = call_path_run(path_params(image, src, -1));
  EXPECT_EQ(none.status(), GIMP_PDB_CALLING_ERROR);
  // A known path with an unknown interpolation: refused, and not remembered.
  const gint32 good = standin::add_path(image, {kDst});
  EXPECT_EQ(call_path_run(path_params(image, src, good, 7)).status(),
            GIMP_PDB_CALLING_ERROR);
  EXPECT_EQ(standin::layers(image), before);
  EXPECT_EQ(dialog.runs, 0);
  EXPECT_EQ(standin::calls.set_data_name, "");
}

TEST_F(PathRun, DialogSettingsRenderAreRememberedAndCancelRendersNothing) {
  const gint32 path = standin::add_path(image, {kSrc, kDst});
  const auto want = main_result(kSquare, 2);
  const auto before = standin::layers(image);
  // The path parameter is ignored interactively: the active path counts.
  const answer a = call_path_run(path_params(image, src, -1, 0, 0, GIMP_RUN_INTERACTIVE));
  ASSERT_EQ(a.status(), GIMP_PDB_SUCCESS);
  EXPECT_EQ(dialog.runs, 1);
  EXPECT_FALSE(dialog.whole_layer_shown);
  EXPECT_EQ(standin::read(a.layer()), want);
  gimp_image_remove_layer(image, a.layer());

  // Last values: the dialog's settings again, without the dialog.
  const answer again = call_path_run(path_params(image, src, path, 0, 0, GIMP_RUN_WITH_LAST_VALS));
  ASSERT_EQ(again.status(), GIMP_PDB_SUCCESS);
  EXPECT_EQ(dialog.runs, 1);
  EXPECT_EQ(standin::read(again.layer()), want);
  gimp_image_remove_layer(image, again.layer());

  // The dialog opens with the remembered settings; Cancel leaves all as it was.
  dialog.ok = false;
  const answer cancelled = call_path_run(path_params(image, src, -1, 0, 0, GIMP_RUN_INTERACTIVE));
  EXPECT_EQ(cancelled.status(), GIMP_PDB_CANCEL);
  EXPECT_EQ(dialog.shown.interpolation, 2);
  EXPECT_EQ(dialog.shown.anti_aliasing, 1);
  EXPECT_EQ(standin::layers(image), before);

  // Without a display: an execution error that says a display is needed.
  dialog.display = false;
  standin::calls.messages.clear();
  const answer headless = call_path_run(path_params(image, src, -1, 0, 0, GIMP_RUN_INTERACTIVE));
  EXPECT_EQ(headless.status(), GIMP_PDB_EXECUTION_ERROR);
  EXPECT_EQ(headless.layer(), -1);
  EXPECT_TRUE(logged("Quadrangle Warp from Path needs a display to show its "
                     "dialog; without one, call it with RUN-NONINTERACTIVE."));
  EXPECT_EQ(standin::layers(image), before);
}

// ---------------------------------------------------------- rectify procedure

// The rectify dialog as a person would answer it.
struct rectify_script {
  int runs = 0;
  rectify_settings shown{};
  bool ok = true;
  int32_t width = 0;  // typed; 0: the estimated one kept
} rectify_dialog;

std::vector<GimpParam> rectify_params(gint32 image, gint32 drawable, gint32 path,
                                      gint32 width, gint32 height, gint32 interp,
                                      gint32 mode = GIMP_RUN_NONINTERACTIVE) {
  std::vector<GimpParam> p(8);
  const gint32 v[8] = {mode, image, drawable, path, width, height, interp, 1};
  for (int i = 0; i < 8; ++i) p[i].data.d_int32 = v[i];
  return p;
}

answer call_rectify_run(const std::vector<GimpParam> &p) {
  answer a;
  inside_run = true;
  run("plug_in_tessaform_rectify", gint(p.size()), p.data(), &a.n, &a.values);
  inside_run = false;
  return a;
}

// The rectangle alone, with the engine's bytes (those tessaform-warp
// --rectify writes), at the top-left of the quadrangle's box of a layer
// lying at (40, 30); the dialog's size and settings are used and
// remembered; refusals and Cancel add nothing.
TEST_F(Plugin, RectifyRendersTheRectangleOrNothing) {
  rectify_dialog = rectify_script{};
  dialog.display = true;
  const gint32 photo = standin::add_layer(image, "Photo", GIMP_RGBA_IMAGE, 64, 48, 40, 30);
  std::vector<unsigned char> px(64 * 48 * 4);
  for (size_t i = 0; i < px.size(); ++i) px[i] = (i % 4 == 3) ? 255 : (i * 29) & 0xff;
  standin::write(photo, px);
  // A trapezoid clicked from its bottom-right corner, against the screen.
  const double corners[8] = {95.5, 70.25, 92, 36.5, 51.75, 33, 45, 74};
  const gint32 path = standin::add_path(
      image, {stroke_of({corners[0], corners[1], corners[2], corners[3], corners[4],
                         corners[5], corners[6], corners[7]})});
  point quad[4];
  for (int i = 0; i < 4; ++i) quad[i] = point_init(corners[2 * i], corners[2 * i + 1]);
  const GeglRectangle extent = {40, 30, 64, 48};
  rectify_estimate e;
  ASSERT_EQ(rectify_estimate_init(&e, quad, extent), nullptr);
  auto engine = [&](int32_t w, int32_t h, gint32 interp) {
    warp_vals v{};
    v.interpolation = interp;
    v.anti_aliasing = 1;
    rectify_vals(&e, w, h, &v);
    const GeglRectangle local = {0, 0, w, h};
    GeglBuffer *out = gegl_buffer_new(&local, babl_format("R'G'B'A u8"));
    GeglBuffer *source = gimp_drawable_get_buffer(photo);
    const warp_target target = {out, 0, 0, local};
    EXPECT_EQ(tessaform_warp_target(source, &extent, &target, &v, nullptr,
                                    nullptr, nullptr),
              WARP_SUCCESS);
    std::vector<unsigned char> bytes(size_t(w) * size_t(h) * 4);
    gegl_buffer_get(out, &local, 1.0, babl_format("R'G'B'A u8"), bytes.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    g_object_unref(source);
    g_object_unref(out);
    return bytes;
  };
  int32_t w = 0, h = 0;
  rectify_size(&e, e.aspect, 30, 0, &w, &h);
  const answer a = call_rectify_run(rectify_params(image, photo, path, 30, 0, 2));
  ASSERT_EQ(a.status(), GIMP_PDB_SUCCESS);
  const standin::item *layer = standin::find(a.layer());
  EXPECT_EQ(layer->width * 1000 + layer->height, w * 1000 + h);
  EXPECT_EQ(layer->offset_x * 1000 + layer->offset_y, 45 * 1000 + 33);
  EXPECT_EQ(standin::read(a.layer()), engine(w, h, 2));
  EXPECT_EQ(standin::layers(image).front(), a.layer());
  gimp_image_remove_layer(image, a.layer());

  const auto before = standin::layers(image);
  // Three anchors, a negative width, an unknown interpolation, a short call.
  const gint32 three = standin::add_path(image, {stroke_of({50, 40, 90, 40, 90, 70})});
  std::vector<GimpParam> short_call = rectify_params(image, photo, path, 0, 0, 1);
  short_call.pop_back();
  for (const auto &call : {rectify_params(image, photo, three, 0, 0, 1),
                           rectify_params(image, photo, path, -5, 0, 1),
                           rectify_params(image, photo, path, 0, 0, 9), short_call})
    EXPECT_EQ(call_rectify_run(call).status(), GIMP_PDB_CALLING_ERROR);
  EXPECT_TRUE(logged("The path has one stroke of 3 anchors. Needed: one stroke of 4 "
                     "anchors on the corners of the photographed rectangle, in order "
                     "round it."));
  EXPECT_EQ(standin::layers(image), before);

  // The dialog: its width typed, settings remembered for last values.
  standin::add_path(image, {stroke_of({corners[0], corners[1], corners[2], corners[3],
                                       corners[4], corners[5], corners[6], corners[7]})});
  rectify_size(&e, e.aspect, 0, 0, &w, &h);  // the estimate
  rectify_dialog.width = 50;
  const answer shown = call_rectify_run(
      rectify_params(image, photo, -1, 0, 0, 0, GIMP_RUN_INTERACTIVE));
  ASSERT_EQ(shown.status(), GIMP_PDB_SUCCESS);
  EXPECT_EQ(rectify_dialog.shown.interpolation, 2);  // the script's call's
  EXPECT_EQ(standin::read(shown.layer()), engine(50, h, 1));
  gimp_image_remove_layer(image, shown.layer());
  const answer again = call_rectify_run(
      rectify_params(image, photo, -1, 0, 0, 3, GIMP_RUN_WITH_LAST_VALS));
  ASSERT_EQ(again.status(), GIMP_PDB_SUCCESS);
  EXPECT_EQ(standin::read(again.layer()), engine(w, h, 1));
  gimp_image_remove_layer(image, again.layer());
  rectify_dialog.ok = false;
  EXPECT_EQ(call_rectify_run(rectify_params(image, photo, -1, 0, 0, 0,
                                            GIMP_RUN_INTERACTIVE)).status(),
            GIMP_PDB_CANCEL);
  EXPECT_EQ(standin::layers(image), before);
  EXPECT_EQ(rectify_dialog.runs, 2);

  // Without a display: an execution error that says a display is needed.
  dialog.display = false;
  const answer headless = call_rectify_run(
      rectify_params(image, photo, -1, 0, 0, 0, GIMP_RUN_INTERACTIVE));
  dialog.display = true;
  EXPECT_EQ(headless.status(), GIMP_PDB_EXECUTION_ERROR);
  EXPECT_TRUE(logged("Rectify from Path needs a display to show its dialog; "
                     "without one, call it with RUN-NONINTERACTIVE."));
  EXPECT_EQ(standin::layers(image), before);
  EXPECT_EQ(rectify_dialog.runs, 2);
}

// ----------------------------------------------------------- progress label

class WarpLabel : public ::testing::Test {
 protected:
  static constexpr size_t kGuard = 32;
  static constexpr char kFill = '#';

  // Builds the label into a buffer of `size` bytes followed by guard bytes.
  std::string build(const char *name, size_t size = WARP_LABEL_SIZE) {
    std::memset(storage_, kFill, sizeof storage_);
    warp_label(storage_, size, name);
    for (size_t i = size; i < size + kGuard; ++i)
      EXPECT_EQ(storage_[i], kFill) << "written past the buffer at " << i;
    const void *end = std::memchr(storage_, '\0', size);
    EXPECT_NE(end, nullptr) << "not terminated within the buffer";
    return end ? std::string(storage_) : std::string();
  }

 private:
  char storage_[WARP_LABEL_SIZE + kGuard];
};

TEST_F(WarpLabel, AppendsTheEllipsis) {
  EXPECT_EQ(build(nullptr), " ...");
  EXPECT_EQ(build(""), " ...");
  EXPECT_EQ(build("Tessaform"), "Tessaform ...");
}

TEST_F(WarpLabel, LongLabelIsCutAndKeepsTheEllipsis) {
  const size_t room = WARP_LABEL_SIZE - 1 - 4;  // terminator and " ..."
  const std::string fits(room, 'a');
  EXPECT_EQ(build(fits.c_str()), fits + " ...");

  for (size_t len : {room + 1, size_t(500), size_t(100000)}) {
    std::string name(len, 'b');
    name[0] = 'B';
    const std::string label = build(name.c_str());
    EXPECT_EQ(label.size(), size_t(WARP_LABEL_SIZE - 1)) << len;
    EXPECT_EQ(label, name.substr(0, room) + " ...") << len;
  }
}

TEST_F(WarpLabel, SmallBufferIsRespected) {
  EXPECT_EQ(build("abcdefghijklmnopqrstuvwxyz", 16), "abcdefghijk ...");
  EXPECT_EQ(build("abc", 16), "abc ...");
}

TEST_F(WarpLabel, CutNeverSplitsACharacter) {
  // Two-byte characters: the room of 99 bytes takes 49 whole ones.
  std::string name;
  for (int i = 0; i < 80; ++i) name += "\xC3\xA9";  // e acute
  const std::string label = build(name.c_str());
  EXPECT_TRUE(g_utf8_validate(label.c_str(), -1, nullptr));
  EXPECT_EQ(label, name.substr(0, 98) + " ...");
}

TEST_F(WarpLabel, InvalidUtf8BecomesReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  // A stray byte, a lead byte without its continuation, an encoded
  // surrogate (what Script-Fu makes of integer->char 55296).
  EXPECT_EQ(build("a\xFF" "b"), "a" + fffd + "b ...");
  EXPECT_EQ(build("\xC3z"), fffd + "z ...");
  const std::string surrogate = build("x\xED\xA0\x80y");
  EXPECT_TRUE(g_utf8_validate(surrogate.c_str(), -1, nullptr)) << surrogate;
  EXPECT_EQ(surrogate.find('\xED'), std::string::npos);

  // Each bad byte grows to three: the cut still falls between characters.
  const size_t room = WARP_LABEL_SIZE - 1 - 4;
  for (size_t lead : {size_t(0), size_t(1), size_t(2)}) {
    const std::string name = std::string(lead, 'a') + std::string(60, '\xFF');
    const std::string label = build(name.c_str());
    EXPECT_TRUE(g_utf8_validate(label.c_str(), -1, nullptr)) << lead;
    size_t whole = lead;
    while (whole + 3 <= room) whole += 3;
    EXPECT_EQ(label.size(), whole + 4) << lead;
  }
}

}  // namespace

bool dialog_display_available() { return dialog.display; }

bool rectify_dialog_run(rectify_settings *settings,
                        const rectify_dialog_facts &, int32_t *width, int32_t *) {
  ++rectify_dialog.runs;
  rectify_dialog.shown = *settings;
  if (!rectify_dialog.ok) return false;
  // Bilinear, no anti-aliasing, the width typed (the height as estimated).
  *settings = rectify_settings{1, 1, 1};
  if (rectify_dialog.width) *width = rectify_dialog.width;
  return true;
}

path_dialog_answer path_dialog_run(path_settings *settings, bool whole_layer) {
  ++dialog.runs;
  if (!dialog.display) return PATH_DIALOG_NO_DISPLAY;
  dialog.whole_layer_shown = whole_layer;
  dialog.shown = *settings;
  if (dialog.ok) *settings = dialog.chosen;
  return dialog.ok ? PATH_DIALOG_OK : PATH_DIALOG_CANCEL;
}
