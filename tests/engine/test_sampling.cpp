// Sampling: the neighbourhood buffer, kernel selection, and the four kernels
// run on hand-filled windows.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tessaform.h"
#include "vector_levels.h"

namespace {

using Pixel = std::array<unsigned char, PIXEL_MAX_BYTES>;
constexpr unsigned char kUntouched = 0xAB;

// An interpolator and its warp context, with no GIMP behind them: the
// kernels only read the current buffer's cells.
class Window {
 public:
  // `select` is one of the four selections; null keeps the nearest kernel that
  // interpolation_init installs, with its window of 2.
  Window(void (*select)(interpolation *), int32_t bpp, bool alpha = false) {
    w_.bpp = bpp;
    w_.has_alpha = alpha;
    in_.warp = &w_;
    in_.current = &in_.buffers[0];
    in_.previous = &in_.buffers[1];
    in_.get_pixel_value = interpolation_get_pixel_value_near;
    buffer_init(in_.current, &in_, 2);
    if (select) select(&in_);
    in_.current->valid = 1;
  }
  Window(const Window &) = delete;
  Window &operator=(const Window &) = delete;

  interpolation &in() { return in_; }
  buffer &cur() { return *in_.current; }
  unsigned char &at(int k, int l, int c) { return in_.current->data[k][l][c]; }

  void fill(unsigned char value) {
    for (auto &column : in_.current->data)
      for (auto &cell : column)
        for (auto &byte : cell) byte = value;
  }
  void fill_random(std::mt19937_64 &rng) {
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto &column : in_.current->data)
      for (auto &cell : column)
        for (auto &b : cell) b = static_cast<unsigned char>(byte(rng));
  }

  // Runs the selected kernel; bytes it does not write keep kUntouched.
  Pixel run(float dx, float dy) {
    Pixel p;
    p.fill(kUntouched);
    unsigned char *r = in_.get_pixel_value(&in_, dx, dy, p.data());
    EXPECT_EQ(r, p.data());
    return p;
  }

 private:
  warp w_{};
  interpolation in_{};
};

struct KernelCase {
  const char *name;
  void (*select)(interpolation *);
  int32_t size;
  interpolation_kernel kernel;
};

const KernelCase kKernels[] = {
    {"nearest", interpolation_init_near, 2, interpolation_get_pixel_value_near},
    {"bilinear", interpolation_init_linear, 2,
     interpolation_get_pixel_value_linear},
    {"cubic", interpolation_init_cubic, 4, interpolation_get_pixel_value_cubic},
    {"lanczos", interpolation_init_lanczos, 6,
     interpolation_get_pixel_value_lanczos},
};

// Offsets in [0, 1): the grid, the ends, and awkward floats.
std::vector<float> offsets() {
  std::vector<float> v;
  for (int i = 0; i < 32; ++i) v.push_back(static_cast<float>(i) / 32.0f);
  for (float f : {0.1f, 0.2f, 0.3f, 1.0f / 3.0f, 0.49999997f, 0.50000006f,
                  0.7f, 0.9f, 0.999f, 0.99999994f, 1e-7f, 1e-30f})
    v.push_back(f);
  std::mt19937_64 rng(12);
  std::uniform_real_distribution<float> d(0.0f, 1.0f);
  for (int i = 0; i < 40; ++i) v.push_back(d(rng));
  return v;
}

unsigned char clamp_byte(long double v) {
  if (v < 0) return 0;
  if (v > 255) return 255;
  return static_cast<unsigned char>(v);
}

// A kernel's byte may differ from an exact reference only where the exact
// value lies within `margin` of a rounding or truncation step.
void expect_byte_near_step(unsigned char actual, long double exact,
                           long double margin, const std::string &where) {
  const unsigned char lo = clamp_byte(std::floor(exact - margin));
  const unsigned char hi = clamp_byte(std::floor(exact + margin));
  EXPECT_TRUE(actual == lo || actual == hi)
      << where << ": got " << int(actual) << ", exact " << double(exact);
}

// ---------------------------------------------------------------- buffer

TEST(NeighbourhoodBuffer, SetPlacesTheWindowAroundThePosition) {
  struct Case {
    int32_t size;
    float x;
    int32_t ix, x0, x1;
  };
  const Case cases[] = {
      {2, 10.7f, 10, 10, 12}, {4, 10.7f, 10, 9, 13}, {6, 10.7f, 10, 8, 14},
      {2, 10.5f, 10, 10, 12}, {2, 10.49f, 9, 9, 11}, {2, 0.2f, -1, -1, 1},
      {6, 0.2f, -1, -3, 3},   {4, -7.5f, -8, -9, -5}, {6, 100.0f, 99, 97, 103},
  };
  for (const auto &c : cases) {
    Window win(nullptr, 4);
    buffer_init(win.in().current, &win.in(), c.size);
    buffer &b = win.cur();
    b.valid = 1;
    b.data[1][2][3] = 77;
    // Rows follow the same rule; the y cases are the x cases shifted.
    buffer_set(&b, c.x, c.x + 5.0f);
    EXPECT_EQ(b.x, c.x);
    EXPECT_EQ(b.y, c.x + 5.0f);
    EXPECT_EQ(b.ix, c.ix) << c.size << " " << c.x;
    EXPECT_EQ(b.x0, c.x0) << c.size << " " << c.x;
    EXPECT_EQ(b.x1, c.x1) << c.size << " " << c.x;
    EXPECT_EQ(b.iy, c.ix + 5);
    EXPECT_EQ(b.y0, c.x0 + 5);
    EXPECT_EQ(b.y1, c.x1 + 5);
    EXPECT_EQ(b.valid, 1);
    EXPECT_EQ(b.data[1][2][3], 77);
  }
}

TEST(NeighbourhoodBuffer, GetPixelAddressesCellsOfTheWindowOnly) {
  for (int32_t size : {2, 4, 6}) {
    Window win(nullptr, 3);
    buffer_init(win.in().current, &win.in(), size);
    buffer &b = win.cur();
    buffer_set(&b, 10.7f, -3.2f);
    b.valid = 1;
    for (int32_t x = b.x0 - 2; x < b.x1 + 2; ++x) {
      for (int32_t y = b.y0 - 2; y < b.y1 + 2; ++y) {
        const bool inside = x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1;
        unsigned char *cell = buffer_get_pixel(&b, x, y);
        if (inside)
          EXPECT_EQ(cell, b.data[x - b.x0][y - b.y0]) << x << "," << y;
        else
          EXPECT_EQ(cell, nullptr) << x << "," << y;
      }
    }
    EXPECT_EQ(buffer_get_pixel(&b, b.x1 - 1, b.y1 - 1),
              b.data[size - 1][size - 1]);
    EXPECT_EQ(buffer_get_pixel(&b, b.x1, b.y0), nullptr);
    EXPECT_EQ(buffer_get_pixel(&b, b.x0 - 1, b.y0), nullptr);

    b.valid = 0;
    for (int32_t x = b.x0; x < b.x1; ++x)
      for (int32_t y = b.y0; y < b.y1; ++y)
        EXPECT_EQ(buffer_get_pixel(&b, x, y), nullptr);
  }
}

TEST(NeighbourhoodBuffer, InitOnCurrentSetsUpBothBuffers) {
  Window win(nullptr, 3);
  interpolation &in = win.in();
  for (buffer &b : in.buffers) {
    b.valid = 1;
    buffer_set(&b, 4.7f, 8.2f);
    b.data[0][0][0] = 9;
  }
  buffer_init(in.current, &in, 6);
  for (const buffer &b : in.buffers) {
    EXPECT_EQ(b.owner, &in);
    EXPECT_EQ(b.valid, 0);
    EXPECT_EQ(b.size, 6);
    EXPECT_EQ(b.half, 3);
    EXPECT_EQ(b.bpp, 3);
    // Position, window and cells are left as they were.
    EXPECT_EQ(b.x, 4.7f);
    EXPECT_EQ(b.ix, 4);
    EXPECT_EQ(b.x0, 4);
    EXPECT_EQ(b.data[0][0][0], 9);
  }
}

TEST(NeighbourhoodBuffer, InitOnPreviousSetsUpThatBufferOnly) {
  Window win(nullptr, 2);
  interpolation &in = win.in();
  // Swapped roles, as after an odd number of fetches.
  in.current = &in.buffers[1];
  in.previous = &in.buffers[0];
  in.current->valid = 1;
  buffer_init(in.previous, &in, 4);
  EXPECT_EQ(in.previous->size, 4);
  EXPECT_EQ(in.previous->half, 2);
  EXPECT_EQ(in.previous->valid, 0);
  EXPECT_EQ(in.current->size, 2);
  EXPECT_EQ(in.current->half, 1);
  EXPECT_EQ(in.current->valid, 1);
}

// -------------------------------------------------------------- selection

TEST(KernelSelection, SetsWindowSizeKernelAndInvalidatesBothBuffers) {
  for (const auto &k : kKernels) {
    if (!k.select) continue;
    Window win(nullptr, 3);
    interpolation &in = win.in();
    in.buffers[0].valid = 1;
    in.buffers[1].valid = 1;
    k.select(&in);
    EXPECT_EQ(in.get_pixel_value, k.kernel) << k.name;
    for (const buffer &b : in.buffers) {
      EXPECT_EQ(b.size, k.size) << k.name;
      EXPECT_EQ(b.half, k.size / 2) << k.name;
      EXPECT_EQ(b.valid, 0) << k.name;
      EXPECT_EQ(b.bpp, 3) << k.name;
    }
  }
}

// ------------------------------------------------------ every kernel alike

TEST(Kernels, FlatAreaStaysFlatAtEveryOffset) {
  const std::vector<float> offs = offsets();
  for (const auto &k : kKernels) {
    Window win(k.select, 4);
    for (int q = 0; q < 256; ++q) {
      // Each channel its own level, so channels cannot bleed into another.
      for (int c = 0; c < 4; ++c)
        for (int i = 0; i < 6; ++i)
          for (int j = 0; j < 6; ++j)
            win.at(i, j, c) = static_cast<unsigned char>((q + 67 * c) % 256);
      for (float dx : offs) {
        for (float dy : {0.0f, 0.25f, 0.5f, 0.7f, 0.99999994f, dx}) {
          const Pixel p = win.run(dx, dy);
          for (int c = 0; c < 4; ++c)
            ASSERT_EQ(p[c], (q + 67 * c) % 256)
                << k.name << " q " << q << " channel " << c << " dx " << dx
                << " dy " << dy;
        }
      }
    }
  }
}

TEST(Kernels, WriteExactlyBppBytes) {
  std::mt19937_64 rng(3);
  for (const auto &k : kKernels) {
    Window three(k.select, 3);
    Window four(k.select, 4);
    Window one(k.select, 1);
    for (int n = 0; n < 50; ++n) {
      three.fill_random(rng);
      std::memcpy(four.cur().data, three.cur().data, sizeof four.cur().data);
      std::memcpy(one.cur().data, three.cur().data, sizeof one.cur().data);
      const float dx = float(n) / 50.0f, dy = 1.0f - float(n + 1) / 51.0f;
      const Pixel p3 = three.run(dx, dy);
      const Pixel p4 = four.run(dx, dy);
      const Pixel p1 = one.run(dx, dy);
      EXPECT_EQ(p3[3], kUntouched) << k.name;
      EXPECT_EQ(p1[1], kUntouched) << k.name;
      EXPECT_EQ(p1[2], kUntouched) << k.name;
      EXPECT_EQ(p1[3], kUntouched) << k.name;
      // The channels are independent: fewer bytes change none of the others.
      for (int c = 0; c < 3; ++c) EXPECT_EQ(p3[c], p4[c]) << k.name << c;
      EXPECT_EQ(p1[0], p4[0]) << k.name;
    }
  }
}

// --------------------------------------------------------------- nearest

TEST(NearestKernel, HalfTakesTheLowerCell) {
  Window win(interpolation_init_near, 4);
  const unsigned char cells[2][2][4] = {{{1, 2, 3, 4}, {5, 6, 7, 8}},
                                        {{9, 10, 11, 12}, {13, 14, 15, 16}}};
  for (int k = 0; k < 2; ++k)
    for (int l = 0; l < 2; ++l)
      for (int c = 0; c < 4; ++c) win.at(k, l, c) = cells[k][l][c];

  auto expect_cell = [&](float dx, float dy, int k, int l) {
    const Pixel p = win.run(dx, dy);
    for (int c = 0; c < 4; ++c)
      EXPECT_EQ(p[c], cells[k][l][c]) << dx << "," << dy;
  };
  expect_cell(0.5f, 0.5f, 0, 0);
  expect_cell(0.51f, 0.2f, 1, 0);
  expect_cell(0.0f, 0.50000006f, 0, 1);
  expect_cell(0.99999994f, 0.99999994f, 1, 1);
}

// --------------------------------------------------------------- bilinear

TEST(BilinearKernel, WorkedValues) {
  Window win(interpolation_init_linear, 1);
  win.at(0, 0, 0) = 37;
  win.at(1, 0, 0) = 200;
  win.at(0, 1, 0) = 90;
  win.at(1, 1, 0) = 3;
  EXPECT_EQ(win.run(0.0f, 0.0f)[0], 37);
  EXPECT_EQ(win.run(0.0f, 0.5f)[0], 64);  // (37 + 90) / 2 = 63.5, up

  win.at(0, 0, 0) = 0;
  win.at(1, 0, 0) = 255;
  EXPECT_EQ(win.run(0.5f, 0.0f)[0], 128);  // 127.5, up
}

TEST(BilinearKernel, MatchesTheBilinearFormula) {
  Window win(interpolation_init_linear, 4);
  std::mt19937_64 rng(17);
  const std::vector<float> offs = offsets();
  for (int n = 0; n < 40; ++n) {
    win.fill_random(rng);
    for (float dx : offs) {
      const float dy = offs[(n * 7 + 3) % offs.size()];
      const Pixel p = win.run(dx, dy);
      for (int c = 0; c < 4; ++c) {
        const long double X = dx, Y = dy;
        const long double exact =
            (1 - X) * (1 - Y) * win.at(0, 0, c) + X * (1 - Y) * win.at(1, 0, c) +
            (1 - X) * Y * win.at(0, 1, c) + X * Y * win.at(1, 1, c) + 0.5L;
        expect_byte_near_step(p[c], exact, 1e-3L, "bilinear");
      }
    }
  }
}

// ------------------------------------------------------------------ cubic

// Mitchell-Netravali with B = C = 1/3, written from its textbook form.
long double mitchell(long double x) {
  const long double B = 1.0L / 3, C = 1.0L / 3;
  x = std::fabs(x);
  if (x < 1)
    return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x +
            (6 - 2 * B)) /
           6;
  if (x < 2)
    return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x +
            (-12 * B - 48 * C) * x + (8 * B + 24 * C)) /
           6;
  return 0;
}

TEST(CubicKernel, WorkedValuesAndClamping) {
  Window win(interpolation_init_cubic, 1);
  win.fill(0);
  win.at(1, 1, 0) = 255;
  EXPECT_EQ(win.run(0.0f, 0.0f)[0], 201);  // 255 * 16/18 * 16/18 = 201.48
  win.at(1, 1, 0) = 100;
  EXPECT_EQ(win.run(0.0f, 0.0f)[0], 79);  // 100 * 256/324 = 79.01
  win.at(1, 1, 0) = 99;
  EXPECT_EQ(win.run(0.0f, 0.0f)[0], 78);  // 78.22
  win.at(1, 1, 0) = 9;
  EXPECT_EQ(win.run(0.0f, 0.0f)[0], 7);  // 7.11, and 7.90 ...
  win.at(1, 1, 0) = 10;
  EXPECT_EQ(win.run(0.0f, 0.0f)[0], 8);  // ... rounds up

  // Ringing below zero clamps to 0 ...
  win.fill(0);
  for (int l = 0; l < 4; ++l) win.at(0, l, 0) = 255;
  EXPECT_EQ(win.run(0.5f, 0.0f)[0], 0);
  // ... and above 255 to 255.
  win.fill(255);
  for (int l = 0; l < 4; ++l) win.at(0, l, 0) = 0;
  EXPECT_EQ(win.run(0.5f, 0.0f)[0], 255);
}

TEST(CubicKernel, SmoothsRatherThanInterpolates) {
  Window win(interpolation_init_cubic, 1);
  win.fill(0);
  win.at(0, 1, 0) = 180;
  win.at(1, 1, 0) = 90;
  win.at(2, 1, 0) = 0;
  // Row 1 at t = 0 gives (180 + 16 * 90) / 18 = 90 exactly; rows 0 and 2 are
  // zero, so along y: 90 * 16 / 18 = 80.
  EXPECT_EQ(win.run(0.0f, 0.0f)[0], 80);
}

TEST(CubicKernel, MatchesTheMitchellNetravaliFilter) {
  Window win(interpolation_init_cubic, 4);
  std::mt19937_64 rng(23);
  const std::vector<float> offs = offsets();
  for (int n = 0; n < 40; ++n) {
    win.fill_random(rng);
    for (float dx : offs) {
      const float dy = offs[(n * 11 + 5) % offs.size()];
      const Pixel p = win.run(dx, dy);
      for (int c = 0; c < 4; ++c) {
        long double exact = 0;
        for (int k = 0; k < 4; ++k)
          for (int l = 0; l < 4; ++l)
            exact += win.at(k, l, c) * mitchell((long double)dx + 1 - k) *
                     mitchell((long double)dy + 1 - l);
        expect_byte_near_step(p[c], exact + 0.5L, 1e-3L, "cubic");
      }
    }
  }
}

// ---------------------------------------------------------------- Lanczos

long double lanczos3(long double x) {
  const long double pi = 3.141592653589793238462643383279502884L;
  if (x == 0) return 1;
  if (std::fabs(x) >= 3) return 0;
  return 3 * std::sin(pi * x) * std::sin(pi * x / 3) / (pi * pi * x * x);
}

// Normalised Lanczos-3 over the 6 x 6 window, column k at dx + 2 - k.
long double lanczos_exact(Window &win, int c, float dx, float dy) {
  long double wx[6], wy[6];
  for (int k = 0; k < 6; ++k) {
    wx[k] = lanczos3((long double)dx + 2 - k);
    wy[k] = lanczos3((long double)dy + 2 - k);
  }
  long double sum = 0, weights = 0;
  for (int k = 0; k < 6; ++k)
    for (int l = 0; l < 6; ++l) {
      sum += win.at(k, l, c) * wx[k] * wy[l];
      weights += wx[k] * wy[l];
    }
  return sum / weights;
}

TEST(LanczosKernel, MatchesNormalisedLanczosThreeWeights) {
  Window win(interpolation_init_lanczos, 4);
  std::mt19937_64 rng(29);
  const std::vector<float> offs = offsets();
  for (int n = 0; n < 40; ++n) {
    win.fill_random(rng);
    for (float dx : offs) {
      const float dy = offs[(n * 13 + 1) % offs.size()];
      const Pixel p = win.run(dx, dy);
      for (int c = 0; c < 4; ++c)
        expect_byte_near_step(p[c], lanczos_exact(win, c, dx, dy) + 0.5L,
                              2e-3L, "lanczos");
    }
  }
}

TEST(LanczosKernel, SingleCellWeightsAcrossTheWindow) {
  // One bright cell at a time isolates the product of one column weight and
  // one row weight, divided by the total.
  Window win(interpolation_init_lanczos, 1);
  for (int k = 0; k < 6; ++k) {
    for (int l = 0; l < 6; ++l) {
      win.fill(0);
      win.at(k, l, 0) = 255;
      for (float d : {0.0f, 0.125f, 0.5f, 0.8f}) {
        const long double exact = lanczos_exact(win, 0, d, 0.3f) + 0.5L;
        expect_byte_near_step(win.run(d, 0.3f)[0], exact, 2e-3L,
                              "cell " + std::to_string(k) + "," +
                                  std::to_string(l));
      }
    }
  }
}

TEST(LanczosKernel, PassesThroughTheCentreCellAtZeroOffset) {
  // Integer distances weigh nothing, so at dx = dy = 0 only cell [2][2]
  // counts.
  Window win(interpolation_init_lanczos, 4);
  std::mt19937_64 rng(31);
  for (int n = 0; n < 200; ++n) {
    win.fill_random(rng);
    const Pixel p = win.run(0.0f, 0.0f);
    for (int c = 0; c < 4; ++c) ASSERT_EQ(p[c], win.at(2, 2, c)) << n;
  }
}

TEST(LanczosKernel, ColumnThreeAwayWeighsNothing) {
  // At dx = 0 window column 5 lies exactly 3 to the right: outside the
  // support, whatever it holds.
  Window win(interpolation_init_lanczos, 1);
  std::mt19937_64 rng(37);
  for (int n = 0; n < 50; ++n) {
    win.fill_random(rng);
    const float dy = float(n) / 50.0f;
    const unsigned char before = win.run(0.0f, dy)[0];
    for (int l = 0; l < 6; ++l) win.at(5, l, 0) = win.at(5, l, 0) ^ 0xFF;
    EXPECT_EQ(win.run(0.0f, dy)[0], before) << dy;
  }
}

// --------------------------------------------- colour weighted by alpha

const KernelCase *const kWeighted[] = {&kKernels[1], &kKernels[2],
                                       &kKernels[3]};

TEST(AlphaWeighting, ColourOfTransparentCellsNeverReachesTheResult) {
  std::mt19937_64 rng(47);
  for (const KernelCase *k : kWeighted)
    for (int bpp : {2, 4}) {
      Window win(k->select, bpp, true), other(k->select, bpp, true);
      for (int n = 0; n < 300; ++n) {
        win.fill_random(rng);
        for (int i = 0; i < k->size; ++i)
          for (int j = 0; j < k->size; ++j) {
            if ((i * 7 + j * 3 + n) % 4 == 0) win.at(i, j, bpp - 1) = 0;
            for (int c = 0; c < bpp; ++c)
              other.at(i, j, c) = win.at(i, j, bpp - 1) == 0 && c < bpp - 1
                                      ? 255 - win.at(i, j, c)
                                      : win.at(i, j, c);
          }
        const float dx = float(n % 17) / 17.0f, dy = float(n % 5) / 5.0f;
        const Pixel a = win.run(dx, dy), b = other.run(dx, dy);
        ASSERT_EQ(a, b) << k->name << " bpp " << bpp << " window " << n;
        if (a[bpp - 1] == 0) {
          for (int c = 0; c < bpp; ++c) ASSERT_EQ(a[c], 0) << k->name;
        }
      }
    }
}

TEST(AlphaWeighting, OpaqueRedBesideTransparentBlackStaysRed) {
  for (const KernelCase *k : kWeighted) {
    Window win(k->select, 4, true);
    int partial = 0;
    for (int edge = 1; edge < k->size; ++edge)
      for (float d : {0.1f, 0.5f, 0.77f}) {
        win.fill(0);
        for (int i = 0; i < edge; ++i)
          for (int j = 0; j < k->size; ++j) {
            win.at(i, j, 0) = 255;
            win.at(i, j, 3) = 255;
          }
        const Pixel p = win.run(d, d);
        if (p[3] == 0) continue;
        partial += p[3] < 255;
        EXPECT_GE(p[0], 254) << k->name << " edge " << edge << " at " << d;
        EXPECT_EQ(p[1], 0);
        EXPECT_EQ(p[2], 0);
      }
    EXPECT_GT(partial, 0) << k->name;
  }
}

TEST(AlphaWeighting, EqualAlphaGivesTheUnweightedBytes) {
  std::mt19937_64 rng(53);
  for (const KernelCase *k : kWeighted) {
    Window weighted(k->select, 4, true), plain(k->select, 4, false);
    for (int n = 0; n < 2000; ++n) {
      plain.fill_random(rng);
      const unsigned char alpha = static_cast<unsigned char>(1 + n % 255);
      for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j) {
          plain.at(i, j, 3) = alpha;
          for (int c = 0; c < 4; ++c) weighted.at(i, j, c) = plain.at(i, j, c);
        }
      const float dx = float(n % 13) / 13.0f, dy = float(n % 7) / 7.0f;
      ASSERT_EQ(weighted.run(dx, dy), plain.run(dx, dy)) << k->name << " " << n;
    }
  }
}

}  // namespace

// ------------------------------------------- vector kernels, byte for byte

// The cubic and Lanczos kernels work on several channels per instruction.
// Their bytes must be those of the formulas evaluated one channel at a time,
// in the order and precisions the formulas give.
namespace scalar {

float cubic(float t, float p0, float p1, float p2, float p3) {
  const double T = t, P0 = p0, P1 = p1, P2 = p2, P3 = p3;
  const double A = -7.0 * P0 + 21.0 * P1 - 21.0 * P2 + 7.0 * P3;
  const double B = 15.0 * P0 - 36.0 * P1 + 27.0 * P2 - 6.0 * P3;
  const double C = -9.0 * P0 + 9.0 * P2;
  const double D = P0 + 16.0 * P1 + P2;
  return static_cast<float>((((A * T + B) * T + C) * T + D) / 18.0);
}

float sinc(float x) {
  if (std::fabs(static_cast<double>(x)) < 1e-6) return 1.0f;
  const float t = static_cast<float>(M_PI * static_cast<double>(x));
  return static_cast<float>(std::sin(static_cast<double>(t)) /
                            static_cast<double>(t));
}

float lanczos_weight(float x) {
  return std::fabs(x) < 3.0f ? sinc(x) * sinc(x / 3.0f) : 0.0f;
}

unsigned char rounded(float v) {
  return v < 0 ? 0 : v > 255 ? 255
                 : static_cast<unsigned char>(std::floor(double(v)));
}

}  // namespace scalar

TEST(VectorKernels, CubicMatchesTheChannelByChannelFormula) {
  Window win(interpolation_init_cubic, 4);
  std::mt19937_64 rng(41);
  std::uniform_real_distribution<float> offset(0.0f, 1.0f);
  for (int n = 0; n < 20000; ++n) {
    win.fill_random(rng);
    const float dx = n % 9 ? offset(rng) : 0.0f, dy = offset(rng);
    const Pixel p = win.run(dx, dy);
    for (int c = 0; c < 4; ++c) {
      float r[4];
      for (int l = 0; l < 4; ++l)
        r[l] = scalar::cubic(dx, win.at(0, l, c), win.at(1, l, c),
                             win.at(2, l, c), win.at(3, l, c));
      ASSERT_EQ(p[c], scalar::rounded(scalar::cubic(dy, r[0], r[1], r[2], r[3]) + 0.5f))
          << "channel " << c << " at " << dx << ", " << dy;
    }
  }
}

// The vector kernel against the shared float step byte for byte, and
// against the textbook weights (two sines per weight) within one level.
TEST(VectorKernels, LanczosMatchesTheFloatStepAndTheDirectWeights) {
  Window win(interpolation_init_lanczos, 4);
  std::mt19937_64 rng(43);
  std::uniform_real_distribution<float> offset(0.0f, 1.0f);
  int differ = 0;
  for (int n = 0; n < 20000; ++n) {
    win.fill_random(rng);
    const float dx = n % 7 ? offset(rng) : 0.0f, dy = offset(rng);
    const Pixel p = win.run(dx, dy);
    cell_values cells;
    for (int k = 0; k < 6; ++k)
      for (int l = 0; l < 6; ++l)
        for (int c = 0; c < 4; ++c) cells[k][l][c] = win.at(k, l, c);
    float values[4];
    interpolation_values_lanczos(cells, 4, dx, dy, values);
    for (int c = 0; c < 4; ++c) {
      ASSERT_EQ(p[c], scalar::rounded(values[c] + 0.5f))
          << "channel " << c << " at " << dx << ", " << dy;
      float s = 0.0f, weights = 0.0f;
      for (int k = 0; k < 6; ++k)
        for (int l = 0; l < 6; ++l) {
          const float w = scalar::lanczos_weight(dy + 2.0f - float(l)) *
                          scalar::lanczos_weight(dx + 2.0f - float(k));
          s = s + float(win.at(k, l, c)) * w;
          weights = weights + w;
        }
      const int direct = scalar::rounded(s / weights + 0.5f);
      ASSERT_LE(std::abs(int(p[c]) - direct), 1)
          << "channel " << c << " at " << dx << ", " << dy;
      differ += p[c] != direct;
    }
  }
  // Rounding a value that sits on a half level may go either way; rarely.
  EXPECT_LT(differ, 800);
}

// The vector levels' Lanczos weights are lanczos_axis's to the bit: their
// own sines are trusted only where the weight's float is certain, and the
// rest come from lanczos_axis. Offsets at and near 0, 1/2 and 1, where
// sines vanish or weights fall on the kernel's zeros, and random ones.
TEST(VectorKernels, LanczosWeightsAreTheScalarWeightsAtEveryLevel) {
  std::mt19937_64 rng(4747);
  std::vector<float> offsets = {0.0f, 0.5f, 0.25f, 0.75f, 1e-9f, 1e-6f, 2e-6f,
                                std::nextafter(1.0f, 0.0f), std::nextafter(0.5f, 0.0f),
                                std::nextafter(0.5f, 1.0f), 0.999f, 1.0f / 3, 2.0f / 3};
  for (float step = 1e-7f; step < 0.5f; step *= 3.7f) {
    offsets.push_back(step);
    offsets.push_back(1.0f - step);
    offsets.push_back(0.5f + step);
  }
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  while (offsets.size() < 400000) offsets.push_back(unit(rng));
  while (offsets.size() % 4) offsets.push_back(0.5f);
  std::vector<float> got[BUFFER_MAX_SIZE];
  float *columns[BUFFER_MAX_SIZE];
  for (int k = 0; k < BUFFER_MAX_SIZE; ++k) {
    got[k].resize(offsets.size());
    columns[k] = got[k].data();
  }
  int levels = 0;
  for (const vector_functions *f : {&vector_sse2, &vector_avx2}) {
    if (f == &vector_avx2 && !__builtin_cpu_supports("avx2")) continue;
    ++levels;
    f->lanczos_weights(offsets.data(), int32_t(offsets.size()), columns);
    for (size_t i = 0; i < offsets.size(); ++i) {
      float expected[BUFFER_MAX_SIZE];
      lanczos_axis(offsets[i], expected);
      for (int k = 0; k < BUFFER_MAX_SIZE; ++k)
        ASSERT_EQ(std::memcmp(&expected[k], &got[k][i], sizeof(float)), 0)
            << "level " << f->level << ", offset " << offsets[i] << ", column " << k;
    }
  }
  EXPECT_GE(levels, 1);
}
