// The fast path's records: the job all threads share and the band slots
// that carry a band from its positions through its source read and render
// to its write. Stages: band_positions and band_reach (any thread),
// band_source and band_write (the thread that talks to GEGL), render_band
// (any thread).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "kernels.h"
#include "tessaform.h"
#include "vector_levels.h"

// Rows per band: GIMP's tile height, so each finished band fills whole tiles
// that can travel to GIMP while later bands are still rendering.
constexpr int32_t BAND_ROWS = 64;

// Source pixels for one band, grown as bands need more; never shrunk, so the
// largest band's need is the most held per slot.
struct source_memory {
  unsigned char *data = nullptr;
  size_t capacity = 0;
  bool reserve(size_t bytes) {
    if (bytes <= capacity) return true;
    // A first fill (the whole source) may be large: huge pages.
    void *p = data ? std::realloc(data, bytes) : pixel_memory_alloc(bytes);
    if (!p) return false;
    data = static_cast<unsigned char *>(p);
    capacity = bytes;
    return true;
  }
  source_memory() = default;
  source_memory(source_memory &&other) noexcept
      : data(other.data), capacity(other.capacity) {
    other.data = nullptr;
    other.capacity = 0;
  }
  source_memory(const source_memory &) = delete;
  source_memory &operator=(const source_memory &) = delete;
  ~source_memory() { std::free(data); }
};

enum slot_state { SLOT_FREE, SLOT_CLAIMED, SLOT_NEEDS_SOURCE, SLOT_SOURCED,
                  SLOT_DONE };

// Source pixels a window reaches, clamped, image coordinates, inclusive.
struct window_reach {
  int32_t x0, y0, x1, y1;
};

// A tile that some window of a band reaches, and the part of it reached.
struct tile_reach {
  int32_t i, j;            // in the job's tile grid
  int32_t x0, y0, x1, y1;  // image coordinates, inclusive
};

// One band in flight.
struct band_slot {
  int32_t band = -1;
  int32_t state = SLOT_FREE;  // guarded by the job's lock
  unsigned char *pixels = nullptr;
  // Each pixel's source position, row after row; sx not a number where the
  // pixel samples nothing.
  float *sx = nullptr;
  float *sy = nullptr;
  // The source the band's windows reach: `box` clamped into the source box
  // (what is read), `reach` as the windows lie (what the view covers).
  GeglRectangle box{};
  GeglRectangle reach{};
  // Per row of the fetch box: whether a window of the band reaches it. A
  // strong shrink skips most rows, and only those reached are read.
  std::vector<unsigned char> touched;
  std::vector<const unsigned char *> rows;  // per row of `reach`
  // Per tile of the job's grid: while the band is surveyed its entry in
  // `reaches`, then its run; -1 for tiles no window reaches.
  std::vector<int32_t> tile_index;
  std::vector<window_reach> windows;  // never grown past their reserve
  std::vector<tile_reach> reaches;    // nor these
  // Neighbouring reached tiles of one tile row, each read in one transfer.
  std::vector<GeglRectangle> runs;
  std::vector<source_tile> run_tiles;  // where each run's pixels are held
  bool by_tiles = false;  // read the runs, not the rows
  source_memory memory;
  source_pixels source{};  // for the window path: tiles, or clamped rows
  source_view view{};      // for the kernels: rows as the windows reach them
};

// Bands in flight beyond one per thread: one being written to GIMP and one
// waiting for its source, so no thread idles on the other.
constexpr int32_t SPARE_SLOTS = 2;

struct render_job {
  const warp *w;
  const interpolation *proto;
  const vector_functions *vectors;
  position_plan plan;
  kernel_row_function kernel;  // null: the one-pixel path's windows sample
  GeglRectangle fetch;  // every pixel the clamping can reach
  // Set when the whole source box is in memory: every band samples it.
  const source_pixels *whole = nullptr;
  const source_view *whole_view = nullptr;
  // The source's tile grid over `fetch`, laid from the source's corner.
  int32_t tile_x0 = 0, tile_y0 = 0, tile_columns = 0, tile_rows = 0;
  int32_t tile_shift = SOURCE_TILE_SHIFT;
  size_t tile_reaches_max = 0;  // per band; 0: bands read rows only
  size_t tile_windows_max = 0;  // windows listed per band for the survey
  int32_t window;  // the kernel's window side
  int32_t width;   // the area rendered
  int32_t height;
  int32_t bpp;
  size_t stride;   // bytes per destination row
  int32_t band_count;
  std::vector<band_slot> slots;  // a bounded set, reused band after band
  int32_t next_band = 0;         // guarded by `lock`
  // Workers read and write their bands themselves (the buffers allow it);
  // `written` counts what they wrote, guarded by `lock`.
  bool parallel_io = false;
  int32_t written = 0;
  bool failed = false;           // guarded by `lock`: source memory ran out
  std::atomic<int64_t> pixels_done{0};
  int64_t report_step;  // pixels of work between progress reports
  warp_render_faults *faults = nullptr;
  warp_render_reads *reads = nullptr;
  std::mutex lock;
  std::condition_variable wake;
};

// Whether the event numbered `index` (from 0) of a kind is made to fail.
bool fault_injected(warp_render_faults *faults, bool allocation,
                    int32_t index);

// Every pixel the interpolator's clamping can reach: the source box, or for
// an empty box the single column or row it falls back to.
GeglRectangle source_fetch_box(const bounds *sb);
int32_t clamp_into(int64_t v, int32_t lo, int32_t size);

void band_positions(const render_job &job, band_slot *slot);
// Surveys the band's positions: the source box and rows its windows reach,
// and where they lie far apart, the tiles.
void band_reach(const render_job &job, band_slot *slot);
// Reads what band_reach found; false when the memory cannot be had.
bool band_source(render_job &job, const interpolation *in, band_slot &slot);
// The whole fetch box, padded for the kernels; false without its memory.
bool whole_source(render_job &job, const interpolation *in,
                  source_memory *memory, source_pixels *pixels,
                  std::vector<const unsigned char *> *rows,
                  source_view *view);
void render_band(render_job &job, interpolation *in, band_slot &slot);
void band_write(render_job &job, const band_slot &slot);
warp_status render_fast(warp *w, interpolation *in,
                        const warp_render_options *options);
