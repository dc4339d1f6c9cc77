// The engine as the hosts (the GIMP plug-in, the command-line tool, the GEGL
// operation) call it: the settings of a warp, their checks, the destination
// box and the render. Everything else in the engine is its own business.
#pragma once

#include <cstdint>

#include <gegl.h>

struct warp_vals {
  const char *progress_name;
  float sx0, sy0, sx1, sy1, sx2, sy2, sx3, sy3;
  float dx0, dy0, dx1, dy1, dx2, dy2, dx3, dy3;
  int32_t interpolation;
  int32_t pre_blur;
  int32_t anti_aliasing;
  int32_t mapping;  // a warp_mapping; zero (bilinear) unless a host asks
};

// How destination pixels find their source: the bilinear map spaces the
// source evenly between the corners; the perspective map is the projective
// one, which keeps straight lines straight (a photographed plane).
enum warp_mapping { WARP_BILINEAR = 0, WARP_PERSPECTIVE = 1 };

typedef void (*warp_progress)(double done, void *data);

// Largest coordinate magnitude whose float still resolves a half pixel.
constexpr double WARP_COORD_LIMIT = 8388608.0;
// Largest destination side accepted: GIMP's own limit on an image's side.
constexpr int64_t WARP_MAX_SIDE = 524288;
// Largest destination layer accepted, in pixels.
constexpr int64_t WARP_MAX_PIXELS = int64_t(1) << 30;

// How the render loop runs. The straightforward path reads and writes one
// pixel at a time on one thread; the fast path moves pixels in bulk and
// renders on several threads. Both write the same bytes. Zero-initialised
// options (or none) are what a host wants.
struct warp_render_faults;
struct warp_render_reads;
struct warp_render_options {
  int32_t straightforward;  // non-zero: one pixel at a time, one thread
  int32_t threads;          // fast path: render threads, 0 = cores, 1 = the
                            // calling thread only
  int32_t vector_level = 0;  // 0: the best the processor has; 1 SSE2, 2 AVX2
  // Non-zero: the buffers are the process's own (not a host's proxy over a
  // wire), so render threads may read and write them at once.
  int32_t parallel_io = 0;
  // For tests: faults to inject, read counts to keep, and the side of the
  // tiles bands read as a power of two (1 to 6; 0 for GIMP's 64).
  warp_render_faults *faults = nullptr;
  warp_render_reads *reads = nullptr;
  int32_t tile_shift = 0;
};

// Faults in the fast render path. An allowance of -1 lets everything
// through; n lets the first n through and fails the rest. The engine counts
// the failures it made.
struct warp_render_faults {
  int32_t allocations_allowed;    // pixel memory blocks
  int32_t thread_starts_allowed;  // render threads
  int32_t allocations_failed;
  int32_t thread_starts_failed;
};

// How the fast path's bands read the source, counted by the thread that
// talks to GEGL.
struct warp_render_reads {
  int32_t bands_by_rows;
  int32_t bands_by_tiles;
  int64_t tiles;  // tiles reached by the bands read by tiles
};

enum warp_status {
  WARP_SUCCESS = 0,
  WARP_REFUSED,    // settings that warp_vals_check refuses, or no buffer
  WARP_NO_MEMORY,  // the render could not get the memory it needs
};

// Checks the settings before anything is created: returns null when they can
// be rendered, else the reason they are refused.
const char *warp_vals_check(const warp_vals *vals);

// The destination box for `vals` in image coordinates: the destination
// buffer's (0, 0) is its corner and it must be this size.
GeglRectangle warp_destination_box(const warp_vals *vals);
// Renders the source quadrangle of `source`, whose pixels lie over
// `source_extent` in image coordinates, into `destination` over the
// destination box; pixels outside the destination quadrangle come out as a
// new buffer holds them (zero). `options` and `progress` may be null.
warp_status tessaform_warp(GeglBuffer *source,
                           const GeglRectangle *source_extent,
                           GeglBuffer *destination, const warp_vals *vals,
                           const warp_render_options *options,
                           warp_progress progress, void *progress_data);
// Where a render writes: `buffer`'s pixel (0, 0) lies at (x, y) in image
// coordinates, and only the pixels of `area` (image coordinates) inside the
// destination box are rendered; the rest of the buffer is left as it is.
// Pixels of the area outside the destination quadrangle come out as a new
// buffer holds them (zero).
struct warp_target {
  GeglBuffer *buffer;
  int32_t x;
  int32_t y;
  GeglRectangle area;
};
// tessaform_warp for any part of the destination: renders that part with
// exactly the bytes a whole render gives there.
warp_status tessaform_warp_target(GeglBuffer *source,
                                  const GeglRectangle *source_extent,
                                  const warp_target *target,
                                  const warp_vals *vals,
                                  const warp_render_options *options,
                                  warp_progress progress, void *progress_data);
// The source pixels (image coordinates) that rendering `area` of the
// destination reads, at most the source extent; empty when it reads none
// or the settings are refused.
GeglRectangle warp_source_reach(const warp_vals *vals,
                                const GeglRectangle *source_extent,
                                const GeglRectangle *area);
// The destination pixels (image coordinates) whose render reads some pixel
// of `changed` (image coordinates of the source): what a change there
// invalidates. Empty when none does or the settings are refused.
GeglRectangle warp_invalidated_by(const warp_vals *vals,
                                  const GeglRectangle *source_extent,
                                  const GeglRectangle *changed);
