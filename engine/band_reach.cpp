// A band's survey: from its pixels' source positions, the source its kernel
// windows reach, as a box and the rows in it, and where the windows lie far
// apart the tiles they reach.
#include <algorithm>
#include <climits>
#include <cmath>

#include "render_job.h"

namespace {

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

// The window rows of a run of windows whose rows join up, clamped.
void mark_rows(const render_job &job, band_slot *slot, int32_t lo, int32_t hi) {
  const GeglRectangle &f = job.fetch;
  const int32_t before = job.window / 2 - 1, after = job.window / 2;
  const int32_t y0 = clamp_into(int64_t(lo) - before, f.y, f.height);
  const int32_t y1 = clamp_into(int64_t(hi) + after, f.y, f.height);
  std::fill(slot->touched.begin() + (y0 - f.y), slot->touched.begin() + (y1 - f.y) + 1,
            1);
}

// One row's windows, pixel by pixel: runs of windows whose rows join up
// (each within a window's side of the run) mark exactly the rows they cover.
void row_runs(const render_job &job, band_slot *slot, const float *sx,
              const float *sy) {
  int32_t run_lo = INT32_MAX, run_hi = INT32_MIN;
  const int32_t W = job.window;
  for (int32_t c = 0; c < job.width; ++c) {
    if (std::isnan(sx[c])) continue;
    const int32_t iy = int32_t(std::floor(double(sy[c]) - 0.5));
    if (run_lo <= run_hi &&
        (int64_t(iy) > int64_t(run_hi) + W || int64_t(iy) < int64_t(run_lo) - W)) {
      mark_rows(job, slot, run_lo, run_hi);
      run_lo = run_hi = iy;
    } else {
      run_lo = std::min(run_lo, iy);
      run_hi = std::max(run_hi, iy);
    }
  }
  if (run_lo <= run_hi) mark_rows(job, slot, run_lo, run_hi);
}

// Lists the band's distinct windows, clamped, while they stay sparse: more
// than 64 of them covering half the box so far will likely cover half of
// what the rows read, and tiles gain nothing. False once they stop.
bool list_windows(const render_job &job, band_slot *slot, int32_t rows) {
  const GeglRectangle &f = job.fetch;
  const int32_t W = job.window, before = W / 2 - 1, after = W / 2;
  const int64_t area = int64_t(W) * W;
  int32_t bx0 = INT32_MAX, by0 = INT32_MAX, bx1 = INT32_MIN, by1 = INT32_MIN;
  for (int32_t r = 0; r < rows; ++r) {
    const float *sx = slot->sx + size_t(r) * size_t(job.width);
    const float *sy = slot->sy + size_t(r) * size_t(job.width);
    int32_t last_x = INT32_MIN, last_y = INT32_MIN;
    for (int32_t c = 0; c < job.width; ++c) {
      if (std::isnan(sx[c])) continue;
      const int32_t ix = int32_t(std::floor(double(sx[c]) - 0.5));
      const int32_t iy = int32_t(std::floor(double(sy[c]) - 0.5));
      // Neighbours often share a window.
      if (ix == last_x && iy == last_y) continue;
      last_x = ix;
      last_y = iy;
      const window_reach win = {clamp_into(int64_t(ix) - before, f.x, f.width),
                                clamp_into(int64_t(iy) - before, f.y, f.height),
                                clamp_into(int64_t(ix) + after, f.x, f.width),
                                clamp_into(int64_t(iy) + after, f.y, f.height)};
      bx0 = std::min(bx0, win.x0);
      bx1 = std::max(bx1, win.x1);
      by0 = std::min(by0, win.y0);
      by1 = std::max(by1, win.y1);
      const size_t n = slot->windows.size();
      if (n >= job.tile_windows_max ||
          (n >= 64 && int64_t(n) * area * 2 >= int64_t(bx1 - bx0 + 1) * (by1 - by0 + 1)))
        return false;
      slot->windows.push_back(win);
    }
  }
  return true;
}

}  // namespace

// The windows are those the kernels read: each position's window of the
// kernel's side. A row whose windows follow one another without a gap marks
// the rows from its lowest window to its highest; other rows go pixel by
// pixel. Where windows lie far apart (a strong shrink: few pixels of many
// rows) the tiles they reach are surveyed too, and read where they hold
// fewer pixels than the rows: neither GIMP nor the band moves the rest. An
// empty box: the band samples nothing.
void band_reach(const render_job &job, band_slot *slot) {
  const GeglRectangle &f = job.fetch;
  std::fill(slot->touched.begin(), slot->touched.end(), 0);
  for (const tile_reach &r : slot->reaches)
    slot->tile_index[size_t(r.j) * size_t(job.tile_columns) + size_t(r.i)] = -1;
  slot->reaches.clear();
  slot->windows.clear();
  slot->by_tiles = false;
  const int32_t W = job.window, before = W / 2 - 1, after = W / 2;
  const int64_t area = int64_t(W) * W;
  int32_t ux0 = INT32_MAX, uy0 = INT32_MAX, ux1 = INT32_MIN, uy1 = INT32_MIN;
  int64_t samples = 0;
  const int32_t row0 = slot->band * BAND_ROWS;
  const int32_t rows = std::min(BAND_ROWS, job.height - row0);
  for (int32_t r = 0; r < rows; ++r) {
    const float *sx = slot->sx + size_t(r) * size_t(job.width);
    const float *sy = slot->sy + size_t(r) * size_t(job.width);
    row_reach_result reach;
    job.vectors->row_reach(sx, sy, job.width, &reach);
    if (!reach.count) continue;
    samples += reach.count;
    ux0 = std::min(ux0, reach.x0);
    ux1 = std::max(ux1, reach.x1);
    uy0 = std::min(uy0, reach.y0);
    uy1 = std::max(uy1, reach.y1);
    if (reach.count == reach.last - reach.first + 1 && reach.step <= W)
      mark_rows(job, slot, reach.y0, reach.y1);
    else
      row_runs(job, slot, sx, sy);
  }
  if (ux0 > ux1) {
    slot->box = slot->reach = GeglRectangle{0, 0, 0, 0};
    return;
  }
  slot->reach = GeglRectangle{ux0 - before, uy0 - before, ux1 - ux0 + W,
                              uy1 - uy0 + W};
  const int32_t x0 = clamp_into(int64_t(ux0) - before, f.x, f.width);
  const int32_t x1 = clamp_into(int64_t(ux1) + after, f.x, f.width);
  const int32_t y0 = clamp_into(int64_t(uy0) - before, f.y, f.height);
  const int32_t y1 = clamp_into(int64_t(uy1) + after, f.y, f.height);
  slot->box = GeglRectangle{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
  // Positions just outside a source box of no width reach past it
  // altogether: the view spans both.
  gegl_rectangle_bounding_box(&slot->reach, &slot->reach, &slot->box);
  if (job.tile_reaches_max == 0) return;
  int64_t rows_reached = 0;
  for (int32_t y = y0; y <= y1; ++y) rows_reached += slot->touched[size_t(y - f.y)];
  const int64_t row_pixels = rows_reached * slot->box.width;
  // Tiles can only win where the samples' windows cover less than half of
  // what the rows read.
  if (samples * area * 2 >= row_pixels) return;
  if (!list_windows(job, slot, rows)) return;
  if (int64_t(slot->windows.size()) * area * 2 >= row_pixels) return;
  slot->by_tiles = true;
  for (const window_reach &win : slot->windows) {
    band_reach_tiles(job, slot, win);
    if (!slot->by_tiles) return;
  }
  slot->by_tiles = band_runs(job, slot) < row_pixels;
}
