// Tessaform engine: records and operations shared by the hosts (the GIMP
// plug-in, the command-line tool), the engine sources and the tests. Geometry
// is pure; regions, the interpolator's fetch and the render loop work on GEGL
// buffers and know nothing of GIMP.
#pragma once

#include <cstddef>
#include <cstdint>

#include <gegl.h>

#include "engine.h"

// ---------------------------------------------------------------- geometry

struct point {
  double x;
  double y;
};

// Inline: they sit on the per-pixel path.
inline point point_init(double x, double y) { return point{x, y}; }
inline point point_add(point a, point b) { return point{a.x + b.x, a.y + b.y}; }
inline point point_sub(point a, point b) { return point{a.x - b.x, a.y - b.y}; }
// The vector from a to b.
inline point point_from2(point a, point b) { return point_sub(b, a); }
inline point point_scale(point a, double s) { return point{a.x * s, a.y * s}; }
double point_length(point a);
inline double point_cross(point a, point b) { return a.x * b.y - a.y * b.x; }

// A quadrangle is four points, corners 0..3 in order around the figure.
void quad_grow(const point quad[4], point out[4], double distance);
int quad_inside(const point quad[4], double px, double py);
void quad_message(const point quad[4], const char *name);

// Solver for one bilinear parameter with respect to the corners A, B, C, D.
struct qcoord {
  double a;
  point b_vec;
  double b_const;
  point c_vec;
  double c_const;
};

void qcoord_init(qcoord *q, point A, point B, point C, point D);
double qcoord_get(const qcoord *q, point P);

void get_intersect(point p1, point d1, point p2, point d2, float *out_x,
                   float *out_y);

// ------------------------------------------------------------- perspective

// A quadrangle as the perspective map sees it: it exists between two convex
// quadrangles only.
enum quad_shape {
  QUAD_CONVEX,
  QUAD_FLAT,     // three corners on a line
  QUAD_CONCAVE,  // a corner inside the triangle of the other three
  QUAD_CROSSED,  // its edges cross
};
quad_shape quad_shape_of(const point q[4]);

// The projective map of the destination onto the source: a point P goes to
// to + (m (P - from)) projected, `from` and `to` the quadrangles' centres.
// Scaled so that the destination's centre has the denominator 1: points
// with one above 0 lie in front of the horizon.
struct homography {
  point from;
  point to;
  double m[3][3];
};

// False when the map is not finite (the quadrangles must be convex).
bool homography_init(homography *h, const point src[4], const point dst[4]);
// sx is not a number behind the horizon.
void homography_map(const homography *h, float x, float y, float *sx,
                    float *sy);
// The map's derivatives along x and along y at (x, y); false behind the
// horizon or where they are not finite.
bool homography_jacobian(const homography *h, double x, double y,
                         point *along_x, point *along_y);

// ----------------------------------------------------------------- regions

struct region;
struct warp;

// Integer pixel box; x1 and y1 are exclusive.
struct bounds {
  region *owner;
  int32_t x0;
  int32_t y0;
  int32_t x1;
  int32_t y1;
  int32_t width;
  int32_t height;
};

void bounds_set(bounds *b, const point quad[4]);
void bounds_intersection(bounds *b, const bounds *other);
int32_t bounds_width(const bounds *b);
int32_t bounds_height(const bounds *b);

struct region {
  warp *owner;
  int32_t is_source;
  GeglBuffer *pixel_buffer;  // the host's: source read, destination written
  const Babl *format;
  int32_t bpp;
  point quad[4];
  point areal[4];
  struct bounds bounds_store;
  struct bounds *bounds;
  qcoord coord_u_store;
  qcoord *coord_u;
  qcoord coord_v_store;
  qcoord *coord_v;
};

void region_init(region *r, warp *w, int32_t is_source);
void bounds_init(struct bounds *b, region *r);
int32_t region_inside(const region *r, int32_t x, int32_t y);
// Box and polygon test at the exact point (px, py): the render loop tests
// pixel centres and exact source positions. For integers it is
// region_inside's answer.
int32_t region_inside_at(const region *r, double px, double py);
void region_message(const region *r, const char *label);

// ---------------------------------------------------------------- sampling

// PIXEL_MAX_BYTES: an 8-bit cell; SAMPLE_MAX_BYTES: a pixel of any sample
// type the engine reads and writes (four floats).
enum {
  BUFFER_MAX_SIZE = 6,
  PIXEL_MAX_BYTES = 4,
  CHANNELS_MAX = 4,
  SAMPLE_MAX_BYTES = 16
};

// How source pixels are held and written: 8-bit drawables keep their bytes,
// 16-bit ones their u16 samples; every other precision goes through float.
enum sample_type { SAMPLE_U8 = 0, SAMPLE_U16 = 1, SAMPLE_FLOAT = 2 };

typedef float cell_values[BUFFER_MAX_SIZE][BUFFER_MAX_SIZE][CHANNELS_MAX];

struct interpolation;

// A window of up to 6 x 6 source pixels around one sample position.
struct buffer {
  interpolation *owner;
  int32_t valid;
  int32_t bpp;
  int32_t channels;
  int32_t alpha;   // the alpha channel's index, -1 without alpha
  int32_t sample;  // a sample_type
  unsigned char data[BUFFER_MAX_SIZE][BUFFER_MAX_SIZE][PIXEL_MAX_BYTES];
  // The cells of wider samples, as floats in the drawable's own encoding.
  cell_values values;
  float x;
  float y;
  int32_t ix;
  int32_t iy;
  int32_t size;
  int32_t half;
  int32_t x0;
  int32_t y0;
  int32_t x1;
  int32_t y1;
};

void buffer_free(buffer *b);
void buffer_set(buffer *b, float x, float y);
unsigned char *buffer_get_pixel(buffer *b, int32_t x, int32_t y);
void buffer_init(buffer *b, interpolation *owner, int32_t size);

typedef unsigned char *(*interpolation_kernel)(interpolation *in, float dx,
                                               float dy, unsigned char *pixel);
// A kernel's arithmetic on float cells: the channel values before they are
// quantised and stored. The window's cells start at [0][0].
typedef void (*interpolation_values)(const cell_values &cells,
                                     int32_t channels, float dx, float dy,
                                     float *out);

void interpolation_values_linear(const cell_values &cells, int32_t channels,
                                 float dx, float dy, float *out);
void interpolation_values_cubic(const cell_values &cells, int32_t channels,
                                float dx, float dy, float *out);
void interpolation_values_lanczos(const cell_values &cells, int32_t channels,
                                  float dx, float dy, float *out);
// Colour weighted by alpha: runs `values` on the cells with colour times
// alpha and divides the colour it gives by the alpha it gives. Returns that
// alpha; where it is not above zero the colour is left at zero.
float interpolation_values_weighted(interpolation_values values,
                                    const cell_values &cells, int32_t size,
                                    int32_t channels, int32_t alpha, float dx,
                                    float dy, float *out);

// GIMP hands a plug-in its pixels by tiles of 64 x 64 (2^6), laid from the
// drawable's corner: reading part of a tile brings the whole tile over.
constexpr int32_t SOURCE_TILE_SHIFT = 6;

// Where one tile's pixels are held: in the read that covers the pixels of
// the tile its windows reach, whose first pixel is (x0, y0).
struct source_tile {
  const unsigned char *data;
  size_t stride;  // bytes per row of that read
  int32_t x0;
  int32_t y0;
};

// Source pixels held in memory, one row after another, tightly packed, with
// PIXEL_MAX_BYTES of padding after the last pixel. It must hold every pixel
// that clamping to the source box can reach from the samples it serves: the
// fast render path reads the whole box once, or per band the rows or the
// tiles that band's windows reach.
struct source_pixels {
  const unsigned char *data;
  int32_t x0;  // image coordinates of data's first pixel
  int32_t y0;
  int32_t width;
  int32_t height;
  int32_t bpp;
  // Null: the rows follow one another. Else where each row starts; rows no
  // sample reaches are left out (null).
  const unsigned char *const *rows;
  // When set, the pixels are found by tile instead: tile (i, j) of the grid
  // whose first tile starts at (tile_x0, tile_y0) is tiles[tile_index[j *
  // tile_columns + i]]; tiles no sample reaches are left out (-1).
  const int32_t *tile_index;
  const source_tile *tiles;
  int32_t tile_x0;
  int32_t tile_y0;
  int32_t tile_columns;
  int32_t tile_shift;  // the tile side is 2^tile_shift
};

struct interpolation {
  struct warp *warp;
  buffer buffers[2];
  buffer *current;
  buffer *previous;
  interpolation_kernel get_pixel_value;
  int32_t offset_x;  // image coordinates of the source buffer's (0, 0)
  int32_t offset_y;
  const source_pixels *memory;  // null: read single pixels through GEGL
  interpolation_values values;  // the kernel's float arithmetic; null: nearest
};

void interpolation_init(interpolation *in, warp *w);
unsigned char *interpolation_get_pixel(interpolation *in, float x, float y,
                                       unsigned char *pixel);

// Lanczos-3's weights of the six columns (or rows) of a window, the sample
// lying d past the centre of the third.
void lanczos_axis(float d, float *w);

void interpolation_init_near(interpolation *in);
void interpolation_init_linear(interpolation *in);
void interpolation_init_cubic(interpolation *in);
void interpolation_init_lanczos(interpolation *in);
unsigned char *interpolation_get_pixel_value_near(interpolation *in, float dx,
                                                  float dy,
                                                  unsigned char *pixel);
unsigned char *interpolation_get_pixel_value_linear(interpolation *in,
                                                    float dx, float dy,
                                                    unsigned char *pixel);
unsigned char *interpolation_get_pixel_value_cubic(interpolation *in,
                                                   float dx, float dy,
                                                   unsigned char *pixel);
unsigned char *interpolation_get_pixel_value_lanczos(interpolation *in,
                                                     float dx, float dy,
                                                     unsigned char *pixel);

// ------------------------------------------------------------- warp engine

struct warp {
  GeglBuffer *gegl_buffer;          // the source, not owned
  struct bounds source_extent;      // its pixels in image coordinates
  warp_progress progress;           // may be null
  void *progress_data;
  const Babl *format;  // source read and destination written in it
  int32_t bpp;
  int32_t sample;     // a sample_type
  int32_t channels;
  int32_t has_alpha;
  int32_t unbounded;  // float samples: values outside 0..1 are kept
  int32_t pre_blur;
  int32_t anti_aliasing;
  int32_t interpolation;  // the kernel's index, 0 nearest .. 3 Lanczos
  int32_t mapping;        // a warp_mapping
  homography perspective;  // the perspective mapping's, when chosen
  region src_region;
  region *src;
  region dst_region;
  region *dst;
  point c0;
  point c3;
  point e01;
  point e32;
  point c1;
  point e03;
  point e12;
  const struct footprint_context *footprint;  // anti-aliasing's, or null
  // The part of the destination box rendered (image coordinates), and where
  // the destination buffer's pixel (0, 0) lies.
  GeglRectangle area;
  int32_t target_x;
  int32_t target_y;
};

void warp_init(warp *w, const warp_vals *vals, interpolation *in);
// The source position destination pixel (x, y) samples, decided at its
// centre; false when it samples none.
bool pixel_source_position(const warp *w, int32_t x, int32_t y, float *sx,
                           float *sy);
void warp_convert(const warp *w, float x, float y, float *sx, float *sy);
void warp_transformation(warp *w, interpolation *in);
// The source pixels (image coordinates) the samples of w->area reach through
// a kernel window of `window` pixels; with anti-aliasing the source box.
GeglRectangle warp_area_source_reach(const warp *w, int32_t window);
// The pixels of w->area whose samples reach some pixel of `changed`
// through a kernel window of `window` pixels.
GeglRectangle warp_area_invalidated(const warp *w, int32_t window,
                                    const GeglRectangle *changed);
warp_status warp_render(warp *w, interpolation *in,
                        const warp_render_options *options);

// ------------------------------------------------------------ anti-aliasing

// The source area one destination pixel covers: the Jacobian of the
// destination-to-source map at its centre. Its columns are the source steps
// of one destination pixel along x and along y.
struct footprint {
  point along_x;
  point along_y;
  double major;  // the largest singular value: the longest stretch
};

// Texels across the shorter axis of a pixel's ellipse at most (about three
// per destination pixel) before a reduced copy of the source is read. Half
// as many cost a zone plate shrunk 4x, 8x and 32x 4, 4 and 2 dB; 16 gained
// nothing, for up to twice the texels.
constexpr int32_t FOOTPRINT_SAMPLES_MAX = 12;
constexpr int32_t MIP_LEVELS_MAX = 24;
// An ellipse's longer axis spans at most this many times the texels its
// shorter one may: past it the level is coarser (blurring across) and the
// cost per pixel stays bounded.
constexpr int32_t FOOTPRINT_ANISOTROPY_MAX = 8;
// Texels of one row of an ellipse, at most, and its rows handed to the
// vector level at a time.
constexpr int32_t ELLIPSE_SPAN_MAX =
    FOOTPRINT_SAMPLES_MAX * FOOTPRINT_ANISOTROPY_MAX + 2;
constexpr int32_t ELLIPSE_ROWS_MAX = 16;

// False where the map has no usable Jacobian at (x, y): the destination's
// is singular there, or the result is not finite.
bool footprint_at(const warp *w, double x, double y, footprint *f);

// The radial filter of the elliptical average, by squared distance from
// the centre in destination pixels: weight[i] covers squared distances
// from i / index_scale, and weight[RADIAL_FILTER_ENTRIES] (beyond the
// radius) is zero.
constexpr int32_t RADIAL_FILTER_ENTRIES = 1024;
struct radial_filter {
  float radius;
  float index_scale;
  float weight[RADIAL_FILTER_ENTRIES + 1];
};
const radial_filter &radial_filter_get();

// One row of an ellipse on a level: the squared distance of texel x is
// q(x) = (a dx + beta) dx + gamma with dx = x + shift, each texel's own (no
// chain of additions from one to the next).
struct row_form {
  float a, beta, gamma, shift;
  float q(int32_t x) const {
    const float dx = float(x) + shift;
    return (a * dx + beta) * dx + gamma;
  }
};

// Texels x0..x1 of a row, whose weights are those of the texels `first`..
// `last` inside the level plus, on the edge texels, `left` and `right`:
// the weights of the ellipse's texels past the level's edges, which repeat
// them.
struct row_span {
  int32_t x0, x1;
  int32_t first, last;
  float left, right;
};

// An ellipse's sums over texels of four floats, kept apart in four lanes:
// texel first + 4 i + j of each row adds to lane j, the edge texels of
// `left` to lane 0 and of `right` to lane 1; the lanes are summed at the
// end. Every vector level sums in this order, so the bytes do not depend
// on it.
struct ewa_lanes {
  float value[4][4];
  float weight[4];
  float edge;  // left and right weights
};
// One row of an ellipse: its distances, its span and its texels x0..x1.
struct ellipse_row {
  row_form form;
  row_span span;
  const float *texels;
};
// Adds rows' weighted texels to `sums`, row after row, each row's edge
// texels after its others.
using ewa_rows_function = void (*)(const radial_filter &f,
                                   const ellipse_row *rows, int32_t n,
                                   ewa_lanes *sums);

// How the warp's samples reach linear light and come back: texels of one,
// two or four floats (RGB gains an opaque alpha) in the linear
// counterpart of the drawable's format, in its space; formats whose curve
// is not known (or linear already) keep their values.
constexpr int32_t LIGHT_GUESSES = 1024;
struct light_curve {
  int32_t channels;  // the warp's
  int32_t colours;   // its channels but alpha
  int32_t texel;     // floats per texel
  int32_t alpha;     // alpha's index in a texel, -1 without alpha
  int32_t sample;    // the warp's sample_type
  // babl picks among its conversion paths by timing them, and paths at
  // float differ in the last bits, so the output would depend on the
  // machine's load: the curves are taken through doubles, where it has one.
  const Babl *decode;  // the format's model at double to texels at double
  const Babl *encode;  // texels to the model at double; null: as they are
  // 8-bit: each byte's light per channel; per colour channel, the light
  // from which code i + 1 is nearer than code i, and the code nearest to
  // light g / LIGHT_GUESSES or just below it.
  float bytes[CHANNELS_MAX][256];
  float bounds[CHANNELS_MAX][256];
  unsigned char guess[CHANNELS_MAX][LIGHT_GUESSES];
};

void light_curve_init(light_curve *l, const warp *w);
// n pixels of the warp's format as texels, colour times alpha.
void light_decode(const light_curve *l, const unsigned char *pixels,
                  int32_t n, float *out);
// One texel, colour not weighted, back to the drawable's own curve in the
// scale sample_store takes.
void light_encode(const light_curve *l, const float *texel, float *out);

// The source box reduced 2^k times (level k from 1) as texels, colour times
// alpha; texel (i, j) of level k is centred on the source position
// (x0 + (i + 0.5) 2^k, y0 + (j + 0.5) 2^k). Level 0, the source itself, is
// read where it lies.
struct mip_level {
  const float *data;  // rows one after another; null for level 0
  int32_t width;
  int32_t height;
};

struct source_mip {
  int32_t levels;  // levels built, level[1] .. level[levels]
  int32_t x0;  // the source box's corner, image coordinates
  int32_t y0;
  mip_level level[MIP_LEVELS_MAX + 1];
  float *storage;
};

// Reads the source box (from `memory` where it holds the box, else from
// GEGL) and reduces it, `levels_max` levels at most; false (and nothing
// held) when the memory cannot be had or `fail` says so.
bool source_mip_build(source_mip *m, const warp *w, const light_curve *l,
                      const source_pixels *memory, int32_t levels_max,
                      bool fail);
// Memory for large buffers filled at once, freed with std::free; null when
// it cannot be had.
void *pixel_memory_alloc(size_t bytes);
void source_mip_free(source_mip *m);

// What anti-aliasing reads, built once per call before either render path
// runs and read by every thread; the reduced copies only when some pixel
// shrinks far enough to read them.
struct footprint_context {
  light_curve light;
  source_mip mip;
  ewa_rows_function ewa_rows4;  // the vector level's
};

// Builds the context, reading the source from `memory` where it holds the
// source box, and hands it to the warp; false (the warp without it) when
// the reduced copies' memory cannot be had or `fail` says so.
bool footprint_context_init(footprint_context *fc, warp *w,
                            ewa_rows_function ewa_rows4,
                            const source_pixels *memory, bool fail);
void footprint_context_free(footprint_context *fc, warp *w);

// The anti-aliased pixel at destination centre (cx, cy), whose source
// position is (sx, sy): the elliptical weighted average of the source
// around it. False where the map does not shrink there: the single sample
// stands.
bool footprint_render(const warp *w, interpolation *in, double cx, double cy,
                      float sx, float sy, unsigned char *pixel);

// Sets the warp's format, sample type and channels from the drawable's own
// format: the same components, transfer curve and colour space.
void warp_samples_init(warp *w, const Babl *native);
// A cell of the warp's sample type (u16 or float) as floats.
void sample_cell_values(int32_t sample, int32_t channels,
                        const unsigned char *cell, float *out);
// Quantises float channel values into a pixel of the buffer's sample type.
// `computed`: the values come out of a kernel's arithmetic (not a copied
// cell): a pixel whose alpha comes out zero is all zeros, and a float that
// is not a number is stored as the one quiet NaN.
void sample_store(const buffer *b, int32_t unbounded, const float *values,
                  int32_t computed, unsigned char *pixel);
