// The fast render path (bulk transfers, several threads) must write exactly
// the bytes of the straightforward one-pixel-at-a-time path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "plain_buffers.h"

namespace {

struct layer_result {
  warp_status status;
  int width, height, offset_x, offset_y;
  std::vector<unsigned char> pixels;
};

layer_result render(const plain_layer &src, const warp_vals &v,
                    const warp_render_options &options) {
  const plain_layer out = plain_render(src, v, &options);
  return {out.status, out.extent.width, out.extent.height, out.extent.x,
          out.extent.y, plain_read(out)};
}

void set_corners(float *xy, const float (&c)[8]) {
  for (int i = 0; i < 8; ++i) xy[i] = c[i];
}

// A random quadrangle around (cx, cy): convex when the angles are sorted,
// often self-crossing or concave otherwise.
void random_quad(std::mt19937 &rng, float cx, float cy, float radius,
                 bool convex, float (&out)[8]) {
  std::uniform_real_distribution<float> angle(0.0f, 6.2831853f);
  std::uniform_real_distribution<float> scale(0.3f, 1.0f);
  float a[4];
  for (float &v : a) v = angle(rng);
  if (convex) std::sort(a, a + 4);
  for (int i = 0; i < 4; ++i) {
    const float r = radius * scale(rng);
    out[2 * i] = cx + r * std::cos(a[i]);
    out[2 * i + 1] = cy + r * std::sin(a[i]);
  }
}

// The vector levels this processor runs: each must give the same bytes.
std::vector<int32_t> vector_levels() {
  std::vector<int32_t> levels = {1};
  if (__builtin_cpu_supports("avx2")) levels.push_back(2);
  return levels;
}

warp_render_options fast(int32_t threads, int32_t level, int32_t parallel_io = 0) {
  warp_render_options o{};
  o.threads = threads;
  o.vector_level = level;
  o.parallel_io = parallel_io;
  return o;
}

std::vector<unsigned char> random_bytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> bytes(n);
  for (auto &b : bytes) b = static_cast<unsigned char>(rng());
  return bytes;
}

class FastPath : public ::testing::Test {
 protected:
  // The warp of s onto d.
  void set_warp(int interpolation, int anti_aliasing, const float (&s)[8],
                const float (&d)[8]) {
    v = warp_vals{};
    v.interpolation = interpolation;
    v.anti_aliasing = anti_aliasing;
    set_corners(&v.sx0, s);
    set_corners(&v.dx0, d);
  }

  // A random RGBA source and a slanted destination of 1100 rows: 18 bands,
  // enough for three threads to interleave.
  void tall_case(int interpolation) {
    src = plain_new("R'G'B'A u8", 61, 47, 5, 9);
    std::mt19937 rng(1100);
    std::vector<unsigned char> pixels(61 * 47 * 4);
    for (auto &p : pixels) p = static_cast<unsigned char>(rng());
    plain_write(src, pixels);
    v = warp_vals{};
    v.progress_name = "tall";
    v.interpolation = interpolation;
    const float s[8] = {8, 11, 63, 13, 60, 54, 6, 50};
    const float d[8] = {3, -20, 41, -12, 47, 1080, -2, 1071};
    set_corners(&v.sx0, s);
    set_corners(&v.dx0, d);
  }

  plain_layer src;
  warp_vals v{};
};

TEST_F(FastPath, TallDestinationOnThreeThreads) {
  for (int interpolation : {1, 3}) {
    tall_case(interpolation);
    const layer_result slow = render(src, v, {1, 1});
    ASSERT_EQ(slow.status, WARP_SUCCESS);
    ASSERT_GE(slow.height, 1000);
    // Most of the box is rendered.
    EXPECT_LT(std::count(slow.pixels.begin(), slow.pixels.end(), 0),
              std::ptrdiff_t(slow.pixels.size() / 2));
    // Bands read and written by the one thread that talks to GEGL, or by
    // each worker itself.
    for (int32_t level : vector_levels())
      for (int32_t parallel_io : {0, 1}) {
        const layer_result quick = render(src, v, fast(3, level, parallel_io));
        EXPECT_EQ(quick.pixels, slow.pixels) << "interpolation " << interpolation
                                             << ", level " << level
                                             << ", parallel reads " << parallel_io;
      }
  }
}

// Without its memory the fast path says so and the host reports it; with
// fewer threads than asked for it renders on those that started, or alone.
TEST_F(FastPath, NoMemoryIsReportedAndThreadFailuresKeepTheBytes) {
  tall_case(2);
  const layer_result slow = render(src, v, {1, 1});
  ASSERT_EQ(slow.status, WARP_SUCCESS);
  struct fault_case {
    warp_render_faults faults;
    int32_t allocations_failed, thread_starts_failed;
    int32_t anti_aliasing;
    warp_status status;
  };
  const fault_case cases[] = {
      {{1, -1, 0, 0}, 1, 0, 0, WARP_NO_MEMORY},  // the bands' memory
      {{0, -1, 0, 0}, 1, 0, 1, WARP_NO_MEMORY},  // the whole source's
      {{-1, 0, 0, 0}, 0, 1, 0, WARP_SUCCESS},  // no thread: the caller renders
      {{-1, 1, 0, 0}, 0, 1, 0, WARP_SUCCESS},  // one thread of three
  };
  for (const fault_case &c : cases) {
    SCOPED_TRACE(::testing::Message() << "allocations "
                                      << c.faults.allocations_allowed
                                      << ", threads "
                                      << c.faults.thread_starts_allowed);
    warp_render_faults faults = c.faults;
    warp_render_options options = fast(3, 0);
    options.faults = &faults;
    v.anti_aliasing = c.anti_aliasing;
    const layer_result quick = render(src, v, options);
    EXPECT_EQ(quick.status, c.status);
    EXPECT_EQ(faults.allocations_failed, c.allocations_failed);
    EXPECT_EQ(faults.thread_starts_failed, c.thread_starts_failed);
    if (c.status == WARP_SUCCESS) {
      EXPECT_EQ(quick.pixels, slow.pixels);
    }
    EXPECT_EQ(plain_extra_refs(src), 0);
  }
}

// Every pixel layout and sample type, with alpha that is constant over
// blocks (zero, opaque) and varies elsewhere, so windows of one alpha and of
// several both occur; random float bytes hold NaNs, infinities and values
// far outside 0..1.
TEST_F(FastPath, WritesTheBytesOfTheStraightforwardPath) {
  const char *const types[] = {"Y' u8", "Y'A u8", "R'G'B' u8", "R'G'B'A u8",
                               "Y'A u16", "R'G'B'A u16", "R'G'B' float",
                               "RGBA float"};
  constexpr int T = sizeof types / sizeof *types;
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> byte(0, 255);
  int compared[2] = {0, 0}, nonempty = 0;

  for (int t = 0; t < T; ++t) {
    // Offsets make image and buffer coordinates differ.
    const plain_layer src = plain_new(types[t], 61, 47, 13, -7);
    const int bpp = plain_bpp(types[t]);
    const int channels = babl_format_get_n_components(src.format);
    const int sample = bpp / channels;
    const bool alpha = babl_format_has_alpha(src.format);
    std::vector<unsigned char> pixels(61 * 47 * bpp);
    for (auto &p : pixels) p = static_cast<unsigned char>(byte(rng));
    for (int i = 0; alpha && i < 61 * 47; ++i) {
      const int block = (i % 61 / 8 + i / 61 / 8) % 3;
      if (block == 2) continue;  // alpha varies here
      unsigned char *a = &pixels[size_t(i) * bpp + size_t(channels - 1) * sample];
      if (sample == 4) {
        const float v = block ? 1.0f : 0.0f;
        std::memcpy(a, &v, 4);
      } else {
        std::memset(a, block ? 0xff : 0, size_t(sample));
      }
    }
    plain_write(src, pixels);

    for (int trial = 0; trial < 12; ++trial) {
      warp_vals v{};
      v.progress_name = "fast";
      v.interpolation = trial % 4;
      float s[8], d[8];
      // Sources reach past the drawable's edges; destinations reach
      // into negative coordinates.
      random_quad(rng, 40.0f, 18.0f, 45.0f, trial % 3 != 2, s);
      random_quad(rng, float(trial * 3 - 10), 5.0f, 35.0f, trial % 5 != 4, d);
      set_corners(&v.sx0, s);
      set_corners(&v.dx0, d);
      // The perspective mapping too, where both quadrangles are convex.
      for (int32_t mapping : {WARP_BILINEAR, WARP_PERSPECTIVE}) {
        v.mapping = mapping;
        if (mapping == WARP_PERSPECTIVE && warp_vals_check(&v)) continue;
        ASSERT_EQ(warp_vals_check(&v), nullptr);

        const layer_result slow = render(src, v, {1, 1});
        ASSERT_EQ(slow.status, WARP_SUCCESS);
        nonempty += std::count(slow.pixels.begin(), slow.pixels.end(), 0) !=
                    std::ptrdiff_t(slow.pixels.size());
        for (int threads : {1, 2, 3})
          for (int32_t level : vector_levels()) {
            const layer_result quick =
                render(src, v, fast(threads, level, threads == 3));
            ASSERT_EQ(quick.status, WARP_SUCCESS);
            EXPECT_EQ(quick.width, slow.width);
            EXPECT_EQ(quick.height, slow.height);
            EXPECT_EQ(quick.offset_x, slow.offset_x);
            EXPECT_EQ(quick.offset_y, slow.offset_y);
            ASSERT_EQ(quick.pixels, slow.pixels)
                << types[t] << " trial " << trial << " threads " << threads
                << " level " << level << " mapping " << mapping;
            ++compared[mapping];
          }
      }
    }
    EXPECT_EQ(plain_read(src), pixels);
  }
  EXPECT_EQ(compared[WARP_BILINEAR], T * 12 * 3 * int(vector_levels().size()));
  EXPECT_GT(compared[WARP_PERSPECTIVE], compared[WARP_BILINEAR] / 4);
  EXPECT_GT(nonempty, T * 15);  // the trials must actually render something
}

// A source box that only touches the drawable's right edge has no width: its
// clamping falls back to the column left of it, which both paths must read.
TEST_F(FastPath, AgreesOnSourceBoxesOfZeroWidth) {
  const plain_layer src = plain_new("R'G'B'A u8", 20, 20);
  std::vector<unsigned char> pixels(20 * 20 * 4);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<unsigned char>(10 + (i / 4) % 20 * 12);
  plain_write(src, pixels);
  warp_vals v{};
  v.interpolation = 1;
  const float s[8] = {20.95f, 2, 21.05f, 2, 21.05f, 12, 20.95f, 12};
  const float d[8] = {0, 0, 10, 0, 10, 10, 0, 10};
  set_corners(&v.sx0, s);
  set_corners(&v.dx0, d);
  const layer_result slow = render(src, v, {1, 1});
  ASSERT_EQ(slow.status, WARP_SUCCESS);
  // Column 19 holds 10 + 19 * 12 in every channel.
  EXPECT_NE(std::count(slow.pixels.begin(), slow.pixels.end(), 238), 0);
  for (int32_t level : vector_levels())
    EXPECT_EQ(render(src, v, fast(2, level)).pixels, slow.pixels) << level;
}

// Each band reads only the source its samples reach: a quarter turn makes
// every band a thin column of a large source, a shrink makes it a wide
// slab; both must sample exactly what the one-pixel path reads from the
// whole source.
TEST_F(FastPath, BandSourceReadsMatchTheWholeSource) {
  const plain_layer big = plain_new("R'G'B'A u8", 900, 700, -40, 25);
  std::mt19937 rng(900700);
  std::vector<unsigned char> pixels(900 * 700 * 4);
  for (auto &p : pixels) p = static_cast<unsigned char>(rng());
  plain_write(big, pixels);
  const float s[8] = {-40, 25, 860, 25, 860, 725, -40, 725};
  const float turned[8] = {10, 890, 10, -10, 710, -10, 710, 890};
  const float shrunk[8] = {3, 2, 150, 9, 141, 190, -4, 170};
  for (const auto *d : {&turned, &shrunk})
    for (int interpolation : {0, 1, 2, 3}) {
      v = warp_vals{};
      v.interpolation = interpolation;
      set_corners(&v.sx0, s);
      set_corners(&v.dx0, *d);
      const layer_result slow = render(big, v, {1, 1});
      ASSERT_EQ(slow.status, WARP_SUCCESS);
      EXPECT_LT(std::count(slow.pixels.begin(), slow.pixels.end(), 0),
                std::ptrdiff_t(slow.pixels.size() / 4));
      for (int32_t level : vector_levels())
        EXPECT_EQ(render(big, v, fast(2, level)).pixels, slow.pixels)
            << (d == &turned ? "turned" : "shrunk") << ", interpolation "
            << interpolation << ", level " << level;
    }
}

// A small result of a large source: windows lie far apart, so bands read
// the tiles they reach; some windows cross tile edges and corners (the grid
// is laid from the source's corner, not from image zero). Wider samples and
// one-byte pixels take the same reads.
TEST_F(FastPath, SmallResultOfALargeSourceReadsTiles) {
  const float s[8] = {-37, 21, 1063, 40, 1050, 921, -30, 900};
  const float d[8] = {5, 3, 47, 6, 44, 41, 2, 37};
  for (const char *type : {"Y' u8", "R'G'B'A u8", "RGBA float"}) {
    const plain_layer big = plain_new(type, 1100, 900, -37, 21);
    const bool wide = plain_bpp(type) > 4;
    std::mt19937 rng(1100900);
    const int bpp = wide ? 4 : plain_bpp(type);  // written as 8-bit
    std::vector<unsigned char> pixels(1100 * 900 * bpp);
    for (auto &p : pixels) p = static_cast<unsigned char>(rng());
    plain_write(big, pixels, wide ? babl_format("R'G'B'A u8") : nullptr);
    for (int interpolation : {0, 1, 2, 3}) {
      v = warp_vals{};
      v.interpolation = interpolation;
      set_corners(&v.sx0, s);
      set_corners(&v.dx0, d);
      const layer_result slow = render(big, v, {1, 1});
      warp_render_reads reads{};
      warp_render_options options = fast(2, 0);
      options.reads = &reads;
      const layer_result quick = render(big, v, options);
      ASSERT_EQ(slow.status, WARP_SUCCESS);
      EXPECT_EQ(reads.bands_by_rows, 0);
      EXPECT_GE(reads.bands_by_tiles, 1);
      EXPECT_LT(std::count(slow.pixels.begin(), slow.pixels.end(), 0),
                std::ptrdiff_t(slow.pixels.size() / 3));
      EXPECT_EQ(quick.pixels, slow.pixels)
          << type << ", interpolation " << interpolation;
    }
  }
}

// Tiles are read only where they hold fewer pixels than the rows: a copy of
// a large source reaches every pixel and reads rows. With tiles of 4 x 4 the
// windows of a moderate shrink cross tile edges and corners everywhere, and
// runs join and split; the bytes stay the one-pixel path's.
TEST_F(FastPath, ReadsTilesOnlyWhereTheyReadLess) {
  const plain_layer big = plain_new("R'G'B'A u8", 300, 200, 7, -3);
  std::mt19937 rng(300200);
  std::vector<unsigned char> pixels(300 * 200 * 4);
  for (auto &p : pixels) p = static_cast<unsigned char>(rng());
  plain_write(big, pixels);
  const float s[8] = {7, -3, 307, -3, 307, 197, 7, 197};
  const float copy[8] = {7, -3, 307, -3, 307, 197, 7, 197};
  const float shrunk[8] = {0, 0, 31, 3, 29, 24, 1, 21};
  struct read_case {
    const float (*d)[8];
    int32_t shift;
    bool tiles;
  };
  for (const read_case &c : {read_case{&copy, SOURCE_TILE_SHIFT, false},
                             read_case{&shrunk, 2, true}})
    for (int interpolation : {0, 1, 2, 3}) {
      v = warp_vals{};
      v.interpolation = interpolation;
      set_corners(&v.sx0, s);
      set_corners(&v.dx0, *c.d);
      const layer_result slow = render(big, v, {1, 1});
      warp_render_reads reads{};
      warp_render_options options = fast(2, 0);
      options.reads = &reads;
      options.tile_shift = c.shift;
      const layer_result quick = render(big, v, options);
      EXPECT_EQ(reads.bands_by_tiles > 0, c.tiles);
      EXPECT_EQ(reads.bands_by_rows > 0, !c.tiles);
      EXPECT_EQ(quick.pixels, slow.pixels)
          << "tiles of " << (1 << c.shift) << ", interpolation "
          << interpolation;
    }
}

// Any rectangle of the destination renders on its own to the bytes the whole
// render has there, on either path, and needs only the source its reach
// names: pixels outside it are scrambled before the part is rendered.
TEST_F(FastPath, PartsOfTheDestinationMatchTheWhole) {
  const plain_layer big = plain_new("R'G'B'A u8", 300, 200, 7, -3);
  const std::vector<unsigned char> pixels = random_bytes(300 * 200 * 4, 7300);
  const float s[8] = {20, 10, 280, -3, 300, 190, 7, 160};
  const float d[8] = {-30, 5, 140, -12, 170, 120, -10, 95};
  const GeglRectangle parts[] = {
      {-29, 3, 37, 19}, {0, 0, 64, 64}, {100, 90, 80, 80}, {-500, -500, 10, 10}};
  for (int interpolation : {0, 1, 2, 3})
    for (int anti_aliasing : {0, 1}) {
      set_warp(interpolation, anti_aliasing, s, d);
      // Rectification renders a part of the box: perspective, every other.
      v.mapping = (interpolation + anti_aliasing) % 2 ? WARP_PERSPECTIVE : WARP_BILINEAR;
      plain_write(big, pixels);
      const plain_layer whole = plain_render(big, v, nullptr);
      const std::vector<unsigned char> expected = plain_read(whole);
      const GeglRectangle &box = whole.extent;
      for (const GeglRectangle &part : parts)
        for (int32_t straightforward : {0, 1}) {
          SCOPED_TRACE(::testing::Message()
                       << "interpolation " << interpolation << ", anti-aliasing "
                       << anti_aliasing << ", mapping " << v.mapping << ", part at "
                       << part.x << "," << part.y << ", straightforward "
                       << straightforward);
          const GeglRectangle reach = warp_source_reach(&v, &big.extent, &part);
          std::vector<unsigned char> scrambled = pixels;
          for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 300; ++x) {
              const GeglRectangle at = {x + 7, y - 3, 1, 1};
              if (!gegl_rectangle_intersect(nullptr, &at, &reach))
                scrambled[(size_t(y) * 300 + size_t(x)) * 4] ^= 0x5a;
            }
          plain_write(big, scrambled);
          // A buffer over the box, zero in the part as a new buffer is, and
          // a marker around it that must stay untouched.
          plain_layer out = plain_new("R'G'B'A u8", box.width, box.height,
                                      box.x, box.y);
          plain_write(out, std::vector<unsigned char>(expected.size(), 77));
          const GeglRectangle local = {part.x - box.x, part.y - box.y,
                                       part.width, part.height};
          gegl_buffer_clear(out.buffer.get(), &local);
          const warp_target target = {out.buffer.get(), box.x, box.y, part};
          const warp_render_options options = {straightforward, 2};
          ASSERT_EQ(tessaform_warp_target(big.buffer.get(), &big.extent,
                                          &target, &v, &options, nullptr,
                                          nullptr),
                    WARP_SUCCESS);
          const std::vector<unsigned char> got = plain_read(out);
          GeglRectangle inside;
          gegl_rectangle_intersect(&inside, &part, &box);
          int64_t differ = 0, outside_kept = 0, outside = 0;
          for (int y = 0; y < box.height; ++y)
            for (int x = 0; x < box.width; ++x) {
              const GeglRectangle at = {x + box.x, y + box.y, 1, 1};
              const size_t i = (size_t(y) * size_t(box.width) + size_t(x)) * 4;
              if (gegl_rectangle_intersect(nullptr, &at, &inside)) {
                differ += !std::equal(&got[i], &got[i] + 4, &expected[i]);
              } else {
                ++outside;
                outside_kept += got[i] == 77 && got[i + 3] == 77;
              }
            }
          EXPECT_EQ(differ, 0);
          EXPECT_EQ(outside_kept, outside);
        }
    }
}

// A change to the source invalidates exactly the destination pixels that
// sample and whose reach takes it in (with anti-aliasing the reach is the
// whole source box): the box of those pixels, counted one by one, and every
// pixel the change alters lies inside it.
TEST_F(FastPath, ChangesInvalidateThePixelsThatReadThem) {
  const plain_layer big = plain_new("R'G'B'A u8", 90, 70, 4, -2);
  const std::vector<unsigned char> pixels = random_bytes(90 * 70 * 4, 4400);
  const float s[8] = {10, 3, 88, -1, 93, 66, 6, 60};
  const float d[8] = {-12, 4, 60, -8, 70, 52, -6, 40};
  const GeglRectangle changes[] = {
      {40, 20, 3, 2}, {4, -2, 1, 1}, {90, 60, 20, 20}, {200, 200, 5, 5}};
  for (int interpolation : {0, 1, 2, 3})
    for (int anti_aliasing : {0, 1}) {
      set_warp(interpolation, anti_aliasing, s, d);
      plain_write(big, pixels);
      const std::vector<unsigned char> before = plain_read(plain_render(big, v));
      const GeglRectangle box = warp_destination_box(&v);
      warp_vals single = v;
      single.anti_aliasing = 0;
      for (const GeglRectangle &change : changes) {
        SCOPED_TRACE(::testing::Message()
                     << "interpolation " << interpolation << ", anti-aliasing "
                     << anti_aliasing << ", change at " << change.x << ","
                     << change.y);
        const GeglRectangle got = warp_invalidated_by(&v, &big.extent, &change);
        GeglRectangle expected = {0, 0, 0, 0};
        for (int y = box.y; y < box.y + box.height; ++y)
          for (int x = box.x; x < box.x + box.width; ++x) {
            const GeglRectangle at = {x, y, 1, 1};
            const GeglRectangle reach = warp_source_reach(&v, &big.extent, &at);
            const GeglRectangle sampled =
                warp_source_reach(&single, &big.extent, &at);
            if (sampled.width > 0 &&
                gegl_rectangle_intersect(nullptr, &reach, &change))
              gegl_rectangle_bounding_box(&expected, &expected, &at);
          }
        EXPECT_TRUE(gegl_rectangle_equal(&got, &expected))
            << got.x << "," << got.y << " " << got.width << "x" << got.height;
        std::vector<unsigned char> changed = pixels;
        for (int y = 0; y < 70; ++y)
          for (int x = 0; x < 90; ++x) {
            const GeglRectangle at = {x + 4, y - 2, 1, 1};
            if (gegl_rectangle_intersect(nullptr, &at, &change))
              for (int c = 0; c < 4; ++c)
                changed[(size_t(y) * 90 + size_t(x)) * 4 + size_t(c)] ^= 0xa5;
          }
        plain_write(big, changed);
        const std::vector<unsigned char> after = plain_read(plain_render(big, v));
        int64_t outside = 0;
        for (int y = 0; y < box.height; ++y)
          for (int x = 0; x < box.width; ++x) {
            const GeglRectangle at = {x + box.x, y + box.y, 1, 1};
            const size_t i = (size_t(y) * size_t(box.width) + size_t(x)) * 4;
            if (!std::equal(&after[i], &after[i] + 4, &before[i]) &&
                !gegl_rectangle_intersect(nullptr, &at, &got))
              ++outside;
          }
        EXPECT_EQ(outside, 0);
        plain_write(big, pixels);
      }
    }
}

}  // namespace
