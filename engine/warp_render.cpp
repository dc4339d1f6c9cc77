// The render loop: every pixel of the destination box is tested at its
// centre, mapped to the source and sampled there. Two ways to run it: one
// pixel at a time, or in bulk on several threads; both write the same bytes.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/mman.h>

#include "tessaform.h"

warp_render_faults warp_render_fault_injection = {-1, -1, 0, 0};
warp_render_reads warp_render_read_counts = {0, 0, 0};
int32_t warp_render_tile_shift = SOURCE_TILE_SHIFT;

namespace {

// Source positions that are not finite or do not fit an int32 are outside.
bool source_position_usable(float sx, float sy) {
  return std::isfinite(sx) && std::isfinite(sy) && std::fabs(sx) < 2.0e9f &&
         std::fabs(sy) < 2.0e9f;
}

// Renders destination pixel (x, y) into `pixel`; false leaves it untouched.
// Everything is decided at the pixel's centre: its own test, its source
// position, and that position's test.
// The source position destination pixel (x, y) samples; false when it
// samples none.
bool pixel_source_position(const warp *w, int32_t x, int32_t y, float *sx,
                           float *sy) {
  const double cx = x + 0.5, cy = y + 0.5;
  if (!region_inside_at(w->dst, cx, cy)) return false;
  warp_convert(w, static_cast<float>(cx), static_cast<float>(cy), sx, sy);
  if (!source_position_usable(*sx, *sy)) return false;
  return region_inside_at(w->src, *sx, *sy);
}

bool render_pixel(const warp *w, interpolation *in, int32_t x, int32_t y,
                  unsigned char *pixel) {
  float sx, sy;
  if (!pixel_source_position(w, x, y, &sx, &sy)) return false;
  if (w->anti_aliasing &&
      footprint_render(w, in, x + 0.5, y + 0.5, sx, sy, pixel))
    return true;
  return interpolation_get_pixel(in, sx, sy, pixel) != nullptr;
}

void report_progress(const warp *w, double done) {
  if (w->progress) w->progress(done, w->progress_data);
}

void render_straightforward(warp *w, interpolation *in) {
  const GeglRectangle &a = w->area;
  unsigned char cell[SAMPLE_MAX_BYTES] = {};
  for (int32_t x = a.x; x < a.x + a.width; ++x) {
    for (int32_t y = a.y; y < a.y + a.height; ++y) {
      if (!render_pixel(w, in, x, y, cell)) continue;
      const GeglRectangle rect = {x - w->target_x, y - w->target_y, 1, 1};
      gegl_buffer_set(w->dst->pixel_buffer, &rect, 0, w->format, cell,
                      GEGL_AUTO_ROWSTRIDE);
    }
    if (x % 10 == 0)
      report_progress(w, static_cast<double>(x - a.x) / a.width);
  }
}

// ---------------------------------------------------------------- fast path

// Whether the event numbered `index` (from 0) of a kind is made to fail.
bool fault_injected(int32_t allowed, int32_t index, int32_t *failed) {
  if (allowed < 0 || index < allowed) return false;
  ++*failed;
  return true;
}

// Rows per band: GIMP's tile height, so each finished band fills whole tiles
// that can travel to GIMP while later bands are still rendering.
constexpr int32_t BAND_ROWS = 64;

// Every pixel the interpolator can ask for: the source box, or for an empty
// box the single column or row its clamping falls back to.
GeglRectangle source_fetch_box(const bounds *sb) {
  GeglRectangle r;
  r.x = sb->width >= 1 ? sb->x0 : sb->x1 - 1;
  r.y = sb->height >= 1 ? sb->y0 : sb->y1 - 1;
  r.width = std::max(sb->width, 1);
  r.height = std::max(sb->height, 1);
  return r;
}

// A large pixel buffer on 2 MiB boundaries that asks for transparent huge
// pages: touched fresh, 4 KiB pages cost a fault each (about 13 us here, a
// fifth of a big call). Null data when the memory cannot be had.
struct pixel_memory {
  unsigned char *data = nullptr;
  pixel_memory(size_t bytes, bool fail) {
    const size_t huge = size_t(2) << 20;
    void *p = nullptr;
    if (fail) return;
    // Below a huge page, rounding up would only waste memory (and a small
    // call would pay for touching it).
    if (bytes < huge) {
      data = static_cast<unsigned char *>(std::malloc(bytes));
      return;
    }
    const size_t rounded = (bytes + huge - 1) / huge * huge;
    if (posix_memalign(&p, huge, rounded) != 0) return;
    madvise(p, rounded, MADV_HUGEPAGE);
    data = static_cast<unsigned char *>(p);
  }
  ~pixel_memory() { std::free(data); }
  pixel_memory(const pixel_memory &) = delete;
  pixel_memory &operator=(const pixel_memory &) = delete;
};

// Source pixels for one band, grown as bands need more; never shrunk, so the
// largest band's box is the most held per slot.
struct source_memory {
  unsigned char *data = nullptr;
  size_t capacity = 0;
  bool reserve(size_t bytes) {
    if (bytes <= capacity) return true;
    void *p = std::realloc(data, bytes);
    if (!p) return false;
    data = static_cast<unsigned char *>(p);
    capacity = bytes;
    return true;
  }
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

// One band in flight: its destination rows and, read by need, the source
// pixels its samples reach.
struct band_slot {
  int32_t band = -1;
  int32_t state = SLOT_FREE;  // guarded by the job's lock
  unsigned char *pixels = nullptr;
  GeglRectangle box{};        // source box wanted, in image coordinates
  // Per row of the fetch box: whether a window of the band reaches it. A
  // strong shrink skips most rows, and only those reached are read.
  std::vector<unsigned char> touched;
  std::vector<const unsigned char *> rows;  // per row of `box`
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
  source_pixels source{};
};

// Bands in flight beyond one per thread: one being written to GIMP and one
// waiting for its source, so no thread idles on the other.
constexpr int32_t SPARE_SLOTS = 2;

struct render_job {
  const warp *w;
  const interpolation *proto;
  GeglRectangle fetch;  // every pixel the clamping can reach
  // Set when the whole source box is in memory: every band samples it.
  const source_pixels *whole = nullptr;
  // The source's tile grid over `fetch`, laid from the source's corner.
  int32_t tile_x0 = 0, tile_y0 = 0, tile_columns = 0, tile_rows = 0;
  int32_t tile_shift = SOURCE_TILE_SHIFT;
  size_t tile_reaches_max = 0;  // per band; 0: bands read rows only
  size_t tile_windows_max = 0;  // windows listed per band for the survey
  int32_t window;  // the kernel's window side
  int32_t width;   // destination box
  int32_t height;
  int32_t bpp;
  size_t stride;   // bytes per destination row
  int32_t band_count;
  std::vector<band_slot> slots;  // a bounded set, reused band after band
  int32_t next_band = 0;         // guarded by `lock`
  bool failed = false;           // guarded by `lock`: source memory ran out
  std::atomic<int64_t> pixels_done{0};
  int64_t report_step;  // pixels of work between progress reports
  std::mutex lock;
  std::condition_variable wake;
};

int64_t rectangle_area(const GeglRectangle &r) {
  return int64_t(r.width) * r.height;
}

// Marks the part of each tile a window reaches; past the reserve of
// reaches the band reads rows.
void band_reach_tiles(const render_job &job, band_slot *slot,
                      const window_reach &w) {
  const int32_t shift = job.tile_shift, T = 1 << shift;
  for (int32_t j = (w.y0 - job.tile_y0) >> shift;
       j <= (w.y1 - job.tile_y0) >> shift; ++j)
    for (int32_t i = (w.x0 - job.tile_x0) >> shift;
         i <= (w.x1 - job.tile_x0) >> shift; ++i) {
      const int32_t tx = job.tile_x0 + i * T, ty = job.tile_y0 + j * T;
      const tile_reach part = {i, j, std::max(w.x0, tx), std::max(w.y0, ty),
                               std::min(w.x1, tx + T - 1),
                               std::min(w.y1, ty + T - 1)};
      int32_t &index =
          slot->tile_index[size_t(j) * size_t(job.tile_columns) + size_t(i)];
      if (index >= 0) {
        tile_reach &r = slot->reaches[size_t(index)];
        r.x0 = std::min(r.x0, part.x0);
        r.y0 = std::min(r.y0, part.y0);
        r.x1 = std::max(r.x1, part.x1);
        r.y1 = std::max(r.y1, part.y1);
      } else if (slot->reaches.size() < job.tile_reaches_max) {
        index = int32_t(slot->reaches.size());
        slot->reaches.push_back(part);
      } else {
        slot->by_tiles = false;
        return;
      }
    }
}

// Joins reached neighbours in a tile row into runs while one read of their
// bounding box costs at most a quarter tile more than separate reads (fewer
// transfers, little waste); points each tile at its run. Returns the pixels
// the runs read.
int64_t band_runs(const render_job &job, band_slot *slot) {
  std::vector<tile_reach> &reaches = slot->reaches;
  std::sort(reaches.begin(), reaches.end(),
            [](const tile_reach &a, const tile_reach &b) {
              return a.j != b.j ? a.j < b.j : a.i < b.i;
            });
  const int64_t slack = int64_t(1) << (2 * job.tile_shift - 2);
  slot->runs.clear();
  int64_t total = 0;
  for (size_t n = 0; n < reaches.size(); ++n) {
    const tile_reach &r = reaches[n];
    const GeglRectangle part = {r.x0, r.y0, r.x1 - r.x0 + 1, r.y1 - r.y0 + 1};
    bool joined = false;
    if (n > 0 && reaches[n - 1].j == r.j && reaches[n - 1].i + 1 == r.i) {
      GeglRectangle &run = slot->runs.back();
      GeglRectangle both;
      gegl_rectangle_bounding_box(&both, &run, &part);
      const int64_t grown = rectangle_area(both) - rectangle_area(run);
      if (grown - rectangle_area(part) <= slack) {
        total += grown;
        run = both;
        joined = true;
      }
    }
    if (!joined) {
      slot->runs.push_back(part);
      total += rectangle_area(part);
    }
    slot->tile_index[size_t(r.j) * size_t(job.tile_columns) + size_t(r.i)] =
        int32_t(slot->runs.size() - 1);
  }
  return total;
}

// Surveys band `index`: the box of source pixels its windows reach (the
// same positions render_pixel samples, each widened to the kernel's window
// and clamped as the interpolator clamps) and the rows they reach. Where the
// windows lie far apart (a strong shrink: few pixels of many rows) it also
// surveys the tiles they reach, and reads tiles when they hold fewer pixels
// than the rows: neither GIMP nor the band moves the rest. An empty box: the
// band samples nothing.
void band_reach(const render_job &job, int32_t index, band_slot *slot) {
  const warp *w = job.w;
  const GeglRectangle &f = job.fetch;
  std::fill(slot->touched.begin(), slot->touched.end(), 0);
  for (const tile_reach &r : slot->reaches)
    slot->tile_index[size_t(r.j) * size_t(job.tile_columns) +
                     size_t(r.i)] = -1;
  slot->reaches.clear();
  slot->windows.clear();
  slot->by_tiles = false;
  bool listed = job.tile_reaches_max > 0;
  const GeglRectangle &a = w->area;
  auto clamp = [](int64_t v, int32_t lo, int32_t size) {
    return int32_t(std::max<int64_t>(lo, std::min<int64_t>(v, lo + size - 1)));
  };
  const int32_t before = job.window / 2 - 1, after = job.window / 2;
  const int64_t area = int64_t(job.window) * job.window;
  int32_t bx0 = INT32_MAX, by0 = INT32_MAX, bx1 = INT32_MIN, by1 = INT32_MIN;
  int32_t last_x = INT32_MIN, last_y = INT32_MIN;
  const int32_t row0 = index * BAND_ROWS;
  const int32_t rows = std::min(BAND_ROWS, job.height - row0);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < job.width; ++c) {
      float sx, sy;
      if (!pixel_source_position(w, a.x + c, a.y + row0 + r, &sx, &sy))
        continue;
      const int32_t ix = int32_t(std::floor(double(sx) - 0.5));
      const int32_t iy = int32_t(std::floor(double(sy) - 0.5));
      // Neighbours often share a window.
      if (ix == last_x && iy == last_y) continue;
      last_x = ix;
      last_y = iy;
      const window_reach win = {clamp(int64_t(ix) - before, f.x, f.width),
                                clamp(int64_t(iy) - before, f.y, f.height),
                                clamp(int64_t(ix) + after, f.x, f.width),
                                clamp(int64_t(iy) + after, f.y, f.height)};
      bx0 = std::min(bx0, win.x0);
      bx1 = std::max(bx1, win.x1);
      by0 = std::min(by0, win.y0);
      by1 = std::max(by1, win.y1);
      for (int32_t y = win.y0; y <= win.y1; ++y)
        slot->touched[size_t(y - f.y)] = 1;
      if (!listed) continue;
      // Once windows cover half the box so far they will likely cover half
      // of what the rows read: tiles gain nothing.
      const size_t n = slot->windows.size();
      listed = n < job.tile_windows_max &&
               (n < 64 || int64_t(n) * area * 2 <
                              int64_t(bx1 - bx0 + 1) * (by1 - by0 + 1));
      if (listed) slot->windows.push_back(win);
    }
  if (bx0 > bx1) {
    slot->box = GeglRectangle{0, 0, 0, 0};
    return;
  }
  slot->box = GeglRectangle{bx0, by0, bx1 - bx0 + 1, by1 - by0 + 1};
  if (!listed) return;
  int64_t rows_reached = 0;
  for (int32_t y = by0; y <= by1; ++y)
    rows_reached += slot->touched[size_t(y - f.y)];
  const int64_t row_pixels = rows_reached * slot->box.width;
  if (int64_t(slot->windows.size()) * area * 2 >= row_pixels) return;
  slot->by_tiles = true;
  for (const window_reach &win : slot->windows) {
    band_reach_tiles(job, slot, win);
    if (!slot->by_tiles) return;
  }
  slot->by_tiles = band_runs(job, slot) < row_pixels;
}

// Reads `box` of the source into memory padded as source_pixels requires.
// Only the thread that talks to GEGL and the host calls it.
bool source_read(const render_job &job, const interpolation *in,
                 const GeglRectangle &box, source_memory *memory,
                 source_pixels *out) {
  const size_t bytes =
      size_t(box.width) * size_t(box.height) * size_t(job.bpp);
  if (!memory->reserve(bytes + PIXEL_MAX_BYTES)) return false;
  // The read fills every byte of the box (abyss as zeros); only the padding
  // after it needs setting.
  const GeglRectangle local = {box.x - in->offset_x, box.y - in->offset_y,
                               box.width, box.height};
  gegl_buffer_get(job.w->gegl_buffer, &local, 1.0, job.w->format,
                  memory->data, GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  std::memset(memory->data + bytes, 0, PIXEL_MAX_BYTES);
  *out = {memory->data, box.x, box.y, box.width, box.height, job.bpp,
          nullptr, nullptr, nullptr, 0, 0, 0, 0};
  return true;
}

void render_band(render_job &job, interpolation *in, band_slot &slot) {
  const GeglRectangle &a = job.w->area;
  const int32_t row0 = slot.band * BAND_ROWS;
  const int32_t rows = std::min(BAND_ROWS, job.height - row0);
  // Zero is what a new layer holds: unrendered pixels keep it.
  std::memset(slot.pixels, 0, job.stride * size_t(rows));
  in->memory = job.whole ? job.whole : &slot.source;
  for (int32_t r = 0; r < rows; ++r) {
    unsigned char *row = slot.pixels + size_t(r) * job.stride;
    const int32_t y = a.y + row0 + r;
    for (int32_t c = 0; c < job.width; ++c)
      render_pixel(job.w, in, a.x + c, y, row + size_t(c) * job.bpp);
    const int64_t before = job.pixels_done.fetch_add(job.width);
    if ((before + job.width) / job.report_step != before / job.report_step)
      job.wake.notify_all();
  }
}

// Each thread samples with its own neighbourhood buffers.
interpolation worker_interpolation(const render_job &job) {
  interpolation in = *job.proto;
  in.current = &in.buffers[0];
  in.previous = &in.buffers[1];
  in.buffers[0].valid = 0;
  in.buffers[1].valid = 0;
  return in;
}

void render_worker(render_job *job) {
  interpolation in = worker_interpolation(*job);
  for (;;) {
    band_slot *slot = nullptr;
    {
      std::unique_lock<std::mutex> hold(job->lock);
      job->wake.wait(hold, [&] {
        if (job->failed || job->next_band >= job->band_count) return true;
        for (band_slot &s : job->slots)
          if (s.state == SLOT_FREE) return true;
        return false;
      });
      if (job->failed || job->next_band >= job->band_count) return;
      for (band_slot &s : job->slots)
        if (s.state == SLOT_FREE) {
          slot = &s;
          break;
        }
      // Bands are claimed in order, so the lowest unfinished one always
      // holds a slot and the writer never waits on a band without one.
      slot->band = job->next_band++;
      slot->state = SLOT_CLAIMED;
    }
    if (!job->whole) {
      band_reach(*job, slot->band, slot);
      std::unique_lock<std::mutex> hold(job->lock);
      slot->state = SLOT_NEEDS_SOURCE;
      job->wake.notify_all();
      job->wake.wait(hold,
                     [&] { return job->failed || slot->state == SLOT_SOURCED; });
      if (job->failed) return;
    }
    render_band(*job, &in, *slot);
    {
      std::lock_guard<std::mutex> hold(job->lock);
      slot->state = SLOT_DONE;
    }
    job->wake.notify_all();
  }
}

void band_write(render_job &job, const band_slot &slot) {
  const int32_t row0 = slot.band * BAND_ROWS;
  const int32_t rows = std::min(BAND_ROWS, job.height - row0);
  const warp *w = job.w;
  const GeglRectangle rect = {w->area.x - w->target_x,
                              w->area.y + row0 - w->target_y, job.width, rows};
  gegl_buffer_set(job.w->dst->pixel_buffer, &rect, 0, job.w->format,
                  slot.pixels, int(job.stride));
  // Send the finished tiles to the host now: the tile cache stays small.
  gegl_buffer_flush(job.w->dst->pixel_buffer);
}

// Reads a band's runs of tiles, each in one transfer.
bool band_source_tiles(render_job &job, const interpolation *in,
                       band_slot &slot) {
  const size_t bpp = size_t(job.bpp);
  size_t bytes = 0;
  for (const GeglRectangle &run : slot.runs)
    bytes += size_t(rectangle_area(run)) * bpp;
  if (!slot.memory.reserve(bytes + PIXEL_MAX_BYTES)) return false;
  unsigned char *at = slot.memory.data;
  for (size_t n = 0; n < slot.runs.size(); ++n) {
    const GeglRectangle &run = slot.runs[n];
    const GeglRectangle local = {run.x - in->offset_x, run.y - in->offset_y,
                                 run.width, run.height};
    const size_t stride = size_t(run.width) * bpp;
    gegl_buffer_get(job.w->gegl_buffer, &local, 1.0, job.w->format, at,
                    int(stride), GEGL_ABYSS_NONE);
    slot.run_tiles[n] = {at, stride, run.x, run.y};
    at += stride * size_t(run.height);
  }
  std::memset(at, 0, PIXEL_MAX_BYTES);
  const GeglRectangle &box = slot.box;
  slot.source = {slot.memory.data, box.x, box.y, box.width, box.height,
                 job.bpp, nullptr, slot.tile_index.data(),
                 slot.run_tiles.data(), job.tile_x0, job.tile_y0,
                 job.tile_columns, job.tile_shift};
  return true;
}

// Reads the rows of its box that a band's windows reach, each run of them
// in one transfer, or its runs of tiles; an empty box needs nothing.
bool band_source(render_job &job, const interpolation *in, band_slot &slot) {
  const GeglRectangle &box = slot.box;
  if (box.width <= 0 || box.height <= 0) return true;
  warp_render_reads &counts = warp_render_read_counts;
  if (slot.by_tiles) {
    ++counts.bands_by_tiles;
    counts.tiles += int64_t(slot.reaches.size());
    return band_source_tiles(job, in, slot);
  }
  ++counts.bands_by_rows;
  const unsigned char *touched = slot.touched.data() + (box.y - job.fetch.y);
  const size_t row_bytes = size_t(box.width) * size_t(job.bpp);
  size_t count = 0;
  for (int32_t r = 0; r < box.height; ++r) count += touched[r];
  if (!slot.memory.reserve(count * row_bytes + PIXEL_MAX_BYTES)) return false;
  unsigned char *at = slot.memory.data;
  for (int32_t r = 0; r < box.height;) {
    if (!touched[r]) {
      slot.rows[size_t(r++)] = nullptr;
      continue;
    }
    int32_t end = r;
    while (end < box.height && touched[end]) ++end;
    const GeglRectangle run = {box.x - in->offset_x,
                               box.y + r - in->offset_y, box.width, end - r};
    gegl_buffer_get(job.w->gegl_buffer, &run, 1.0, job.w->format, at,
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    for (; r < end; ++r, at += row_bytes) slot.rows[size_t(r)] = at;
  }
  std::memset(at, 0, PIXEL_MAX_BYTES);
  slot.source = {slot.memory.data, box.x, box.y, box.width, box.height,
                 job.bpp, slot.rows.data(), nullptr, nullptr, 0, 0, 0,
                 0};
  return true;
}

// Beyond these a band reads rows: one int32 per tile per slot covers a
// source of up to 131072 pixels square, and a band's survey holds at most
// this many windows (16 bytes each) and reached tiles (64 bytes each with
// their runs), a few MB per slot: a band reaching more tiles would move
// a gigabyte of them.
constexpr int64_t TILE_TABLE_MAX = int64_t(1) << 22;
constexpr int64_t TILE_REACHES_MAX = int64_t(1) << 16;

int64_t floor_divide(int64_t a, int64_t b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// The source's tile grid over the fetch box, laid from the source's corner
// as GIMP lays its tiles.
void job_tiles_init(render_job &job, const interpolation *in) {
  job.tile_shift = std::max(1, std::min(warp_render_tile_shift,
                                        int32_t(SOURCE_TILE_SHIFT)));
  const int64_t T = int64_t(1) << job.tile_shift;
  const GeglRectangle &f = job.fetch;
  job.tile_x0 = int32_t(in->offset_x +
                        floor_divide(int64_t(f.x) - in->offset_x, T) * T);
  job.tile_y0 = int32_t(in->offset_y +
                        floor_divide(int64_t(f.y) - in->offset_y, T) * T);
  const int64_t columns = (int64_t(f.x) + f.width - 1 - job.tile_x0) / T + 1;
  const int64_t rows = (int64_t(f.y) + f.height - 1 - job.tile_y0) / T + 1;
  if (columns * rows > TILE_TABLE_MAX) return;
  job.tile_columns = int32_t(columns);
  job.tile_rows = int32_t(rows);
  // A window reaches at most four tiles.
  job.tile_reaches_max = size_t(std::min(
      {columns * rows, int64_t(job.width) * BAND_ROWS * 4, TILE_REACHES_MAX}));
  job.tile_windows_max =
      size_t(std::min(int64_t(job.width) * BAND_ROWS, TILE_REACHES_MAX));
}

// With no render thread: every band in turn on this one.
bool render_alone(render_job &job, const interpolation *proto) {
  interpolation in = worker_interpolation(job);
  band_slot &slot = job.slots[0];
  for (int32_t i = 0; i < job.band_count; ++i) {
    slot.band = i;
    if (!job.whole) {
      band_reach(job, i, &slot);
      if (!band_source(job, proto, slot)) return false;
    }
    render_band(job, &in, slot);
    band_write(job, slot);
    if (i + 1 < job.band_count)
      report_progress(job.w, double(job.pixels_done.load()) /
                                 (double(job.width) * job.height));
  }
  return true;
}

// GEGL and the host are called from this thread only: it reads the source
// each band asks for, reports progress and writes finished bands in order
// while the workers render. Returns false when the memory it needs cannot be
// had; the one-pixel path then renders every pixel again.
bool render_fast(warp *w, interpolation *in, int32_t threads) {
  render_job job;
  job.w = w;
  job.proto = in;
  job.width = w->area.width;
  job.height = w->area.height;
  job.bpp = w->bpp;
  if (job.width <= 0 || job.height <= 0) return true;
  job.fetch = source_fetch_box(w->src->bounds);
  job.stride = size_t(job.width) * size_t(job.bpp);
  job.band_count = (job.height + BAND_ROWS - 1) / BAND_ROWS;
  // At least one report per ten columns' worth of work.
  job.report_step = std::max<int64_t>(1, int64_t(10) * job.height);
  job.window = in->current->size;

  if (threads <= 0) threads = int32_t(std::thread::hardware_concurrency());
  threads = std::max(1, std::min(threads, job.band_count));
  const int32_t slot_count = std::min(job.band_count, threads + SPARE_SLOTS);

  warp_render_faults &faults = warp_render_fault_injection;
  // Anti-aliasing samples whole footprints: it keeps the whole source box in
  // memory. Otherwise each band reads the source its samples reach.
  const bool whole = w->anti_aliasing != 0;
  const size_t whole_bytes =
      whole ? size_t(job.fetch.width) * size_t(job.fetch.height) *
                  size_t(w->bpp)
            : 0;
  pixel_memory source(whole_bytes + PIXEL_MAX_BYTES,
                      fault_injected(faults.allocations_allowed, 0,
                                     &faults.allocations_failed));
  pixel_memory bands(job.stride * BAND_ROWS * size_t(slot_count),
                     fault_injected(faults.allocations_allowed, 1,
                                    &faults.allocations_failed));
  if (!source.data || !bands.data) return false;
  source_memory whole_memory;
  source_pixels whole_pixels{};
  if (whole) {
    whole_memory.data = source.data;
    whole_memory.capacity = whole_bytes + PIXEL_MAX_BYTES;
    const bool read = source_read(job, in, job.fetch, &whole_memory,
                                  &whole_pixels);
    whole_memory.data = nullptr;  // owned by `source`
    if (!read) return false;
    job.whole = &whole_pixels;
  }
  try {
    job.slots.resize(size_t(slot_count));
    if (!whole) {
      job_tiles_init(job, in);
      const size_t tiles =
          job.tile_reaches_max
              ? size_t(job.tile_columns) * size_t(job.tile_rows)
              : 0;
      for (band_slot &slot : job.slots) {
        slot.touched.assign(size_t(job.fetch.height), 0);
        slot.rows.assign(size_t(job.fetch.height), nullptr);
        slot.tile_index.assign(tiles, -1);
        slot.windows.reserve(job.tile_windows_max);
        slot.reaches.reserve(job.tile_reaches_max);
        slot.runs.reserve(job.tile_reaches_max);
        slot.run_tiles.resize(job.tile_reaches_max);
      }
    }
  } catch (const std::bad_alloc &) {
    return false;  // nothing written yet
  }
  for (int32_t i = 0; i < slot_count; ++i)
    job.slots[size_t(i)].pixels = bands.data + job.stride * BAND_ROWS * size_t(i);

  std::vector<std::thread> workers;
  try {
    for (int32_t t = 0; t < threads; ++t) {
      if (fault_injected(faults.thread_starts_allowed, t,
                         &faults.thread_starts_failed))
        throw std::system_error(
            std::make_error_code(std::errc::resource_unavailable_try_again));
      workers.emplace_back(render_worker, &job);
    }
  } catch (const std::exception &) {
    // Render on the threads that did start, or on this one.
    if (workers.empty()) return render_alone(job, in);
  }

  const int64_t total = int64_t(job.width) * job.height;
  int32_t written = 0;
  int64_t reported = 0;
  std::unique_lock<std::mutex> hold(job.lock);
  while (written < job.band_count && !job.failed) {
    band_slot *next = nullptr, *wanting = nullptr;
    job.wake.wait_for(hold, std::chrono::milliseconds(20), [&] {
      for (band_slot &s : job.slots) {
        if (s.state == SLOT_NEEDS_SOURCE) wanting = &s;
        if (s.state == SLOT_DONE && s.band == written) next = &s;
      }
      return next || wanting ||
             job.pixels_done.load() - reported >= job.report_step;
    });
    hold.unlock();
    if (wanting) {
      const bool read = band_source(job, in, *wanting);
      hold.lock();
      if (read)
        wanting->state = SLOT_SOURCED;
      else
        job.failed = true;
      hold.unlock();
      job.wake.notify_all();
    }
    // A finished band goes to GIMP while later ones render.
    if (next) {
      band_write(job, *next);
      hold.lock();
      next->state = SLOT_FREE;
      ++written;
      hold.unlock();
      job.wake.notify_all();
    }
    const int64_t done = job.pixels_done.load();
    // The finish reports 1.0 once the layer is complete.
    if (done - reported >= job.report_step && done < total) {
      report_progress(w, static_cast<double>(done) / total);
      reported = done;
    }
    hold.lock();
  }
  const bool failed = job.failed;
  hold.unlock();
  for (auto &t : workers) t.join();
  return !failed;
}

}  // namespace

GeglRectangle warp_area_source_reach(const warp *w, int32_t window) {
  const GeglRectangle fetch = source_fetch_box(w->src->bounds);
  if (w->anti_aliasing) return fetch;
  const GeglRectangle &a = w->area;
  const int32_t before = window / 2 - 1, after = window / 2;
  auto clamp = [&](int64_t v, int32_t lo, int32_t size) {
    return int32_t(std::max<int64_t>(lo, std::min<int64_t>(v, lo + size - 1)));
  };
  int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = INT32_MIN, y1 = INT32_MIN;
  for (int32_t y = a.y; y < a.y + a.height; ++y)
    for (int32_t x = a.x; x < a.x + a.width; ++x) {
      float sx, sy;
      if (!pixel_source_position(w, x, y, &sx, &sy)) continue;
      const int64_t ix = int64_t(std::floor(double(sx) - 0.5));
      const int64_t iy = int64_t(std::floor(double(sy) - 0.5));
      x0 = std::min(x0, clamp(ix - before, fetch.x, fetch.width));
      x1 = std::max(x1, clamp(ix + after, fetch.x, fetch.width));
      y0 = std::min(y0, clamp(iy - before, fetch.y, fetch.height));
      y1 = std::max(y1, clamp(iy + after, fetch.y, fetch.height));
    }
  if (x0 > x1) return GeglRectangle{0, 0, 0, 0};
  return GeglRectangle{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

void warp_render(warp *w, interpolation *in,
                 const warp_render_options *options) {
  // Built before either path so both read the same tables and copies.
  footprint_context footprint{};
  if (w->anti_aliasing) footprint_context_init(&footprint, w);
  if ((options && options->straightforward) ||
      !render_fast(w, in, options ? options->threads : 0))
    render_straightforward(w, in);
  footprint_context_free(&footprint, w);

  buffer_free(in->current);
  report_progress(w, 1.0);
}

void warp_transformation(warp *w, interpolation *in) {
  warp_render(w, in, nullptr);
}
