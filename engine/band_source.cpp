// A band's source in memory: the rows its windows reach, each padded with
// repeats of the source box's edge pixels as far as the windows reach past
// it, so kernels read in place and never clamp; or, for windows far apart,
// the tiles they reach.
#include <algorithm>
#include <cstring>

#include "render_job.h"

namespace {

// Several threads may read at once.
void count_read(render_job &job, bool by_tiles, int64_t tiles) {
  if (!job.reads) return;
  if (by_tiles) {
    __atomic_fetch_add(&job.reads->bands_by_tiles, 1, __ATOMIC_RELAXED);
    __atomic_fetch_add(&job.reads->tiles, tiles, __ATOMIC_RELAXED);
  } else {
    __atomic_fetch_add(&job.reads->bands_by_rows, 1, __ATOMIC_RELAXED);
  }
}

// Reads a band's runs of tiles, each in one transfer.
bool band_source_tiles(render_job &job, const interpolation *in,
                       band_slot &slot) {
  const size_t bpp = size_t(job.bpp);
  size_t bytes = 0;
  for (const GeglRectangle &run : slot.runs)
    bytes += size_t(run.width) * size_t(run.height) * bpp;
  if (!slot.memory.reserve(bytes + SAMPLE_MAX_BYTES)) return false;
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
  std::memset(at, 0, SAMPLE_MAX_BYTES);
  const GeglRectangle &box = slot.box;
  slot.source = {slot.memory.data, box.x, box.y, box.width, box.height,
                 job.bpp, nullptr, slot.tile_index.data(),
                 slot.run_tiles.data(), job.tile_x0, job.tile_y0,
                 job.tile_columns, job.tile_shift};
  return true;
}

// Repeats a stored row's first and last read pixels over its padding.
void pad_row(unsigned char *row, int32_t left, int32_t read, int32_t right,
             size_t bpp) {
  for (int32_t i = 0; i < left; ++i)
    std::memcpy(row + size_t(i) * bpp, row + size_t(left) * bpp, bpp);
  const unsigned char *last = row + size_t(left + read - 1) * bpp;
  for (int32_t i = 0; i < right; ++i)
    std::memcpy(row + size_t(left + read + i) * bpp, last, bpp);
}

// Reads rows [y0, y1) of `box` (those `touched` marks, or all) into rows of
// `reach.width` pixels, padded; points rows[y - reach.y] of every row of
// `reach` at the stored row of y clamped into `box`'s rows.
bool read_padded_rows(render_job &job, const interpolation *in,
                      const GeglRectangle &box, const GeglRectangle &reach,
                      const unsigned char *touched, source_memory *memory,
                      std::vector<const unsigned char *> *rows) {
  const size_t bpp = size_t(job.bpp);
  const size_t row_bytes = size_t(reach.width) * bpp;
  size_t count = 0;
  for (int32_t r = 0; r < box.height; ++r) count += touched ? touched[r] : 1;
  if (!memory->reserve(count * row_bytes + SAMPLE_MAX_BYTES)) return false;
  const int32_t left = box.x - reach.x;
  const int32_t right = reach.x + reach.width - (box.x + box.width);
  // The table's capacity is set up with the job: no allocation here.
  std::vector<const unsigned char *> &table = *rows;
  if (size_t(reach.height) > table.capacity()) return false;
  table.assign(size_t(reach.height), nullptr);
  const int32_t first = box.y - reach.y, last = first + box.height - 1;
  unsigned char *at = memory->data;
  for (int32_t r = 0; r < box.height;) {
    if (touched && !touched[r]) {
      ++r;
      continue;
    }
    int32_t end = r;
    while (end < box.height && (!touched || touched[end])) ++end;
    const GeglRectangle run = {box.x - in->offset_x, box.y + r - in->offset_y,
                               box.width, end - r};
    gegl_buffer_get(job.w->gegl_buffer, &run, 1.0, job.w->format,
                    at + size_t(left) * bpp, int(row_bytes), GEGL_ABYSS_NONE);
    for (; r < end; ++r, at += row_bytes) {
      pad_row(at, left, box.width, right, bpp);
      table[size_t(first + r)] = at;
    }
  }
  std::memset(at, 0, SAMPLE_MAX_BYTES);
  // Rows past the box repeat its edge rows.
  for (int32_t y = 0; y < first; ++y) table[size_t(y)] = table[size_t(first)];
  for (int32_t y = last + 1; y < reach.height; ++y)
    table[size_t(y)] = table[size_t(last)];
  return true;
}

}  // namespace

bool band_source(render_job &job, const interpolation *in, band_slot &slot) {
  const GeglRectangle &box = slot.box;
  if (box.width <= 0 || box.height <= 0) return true;
  count_read(job, slot.by_tiles, int64_t(slot.reaches.size()));
  if (slot.by_tiles) return band_source_tiles(job, in, slot);
  const unsigned char *touched = slot.touched.data() + (box.y - job.fetch.y);
  if (!read_padded_rows(job, in, box, slot.reach, touched, &slot.memory,
                        &slot.rows))
    return false;
  const GeglRectangle &reach = slot.reach;
  slot.view = {slot.rows.data(), reach.x, reach.y};
  slot.source = {nullptr, reach.x, reach.y, reach.width, reach.height,
                 job.bpp, slot.rows.data(), nullptr, nullptr, 0, 0, 0, 0};
  return true;
}

// Windows reach at most a window's half and two pixels past the source box
// (a position lies less than a pixel outside it).
constexpr int32_t WHOLE_PADDING = BUFFER_MAX_SIZE / 2 + 2;

bool whole_source(render_job &job, const interpolation *in,
                  source_memory *memory, source_pixels *pixels,
                  std::vector<const unsigned char *> *rows,
                  source_view *view) {
  const GeglRectangle &f = job.fetch;
  const GeglRectangle reach = {f.x - WHOLE_PADDING, f.y - WHOLE_PADDING,
                               f.width + 2 * WHOLE_PADDING,
                               f.height + 2 * WHOLE_PADDING};
  if (!read_padded_rows(job, in, f, reach, nullptr, memory, rows)) return false;
  *view = {rows->data(), reach.x, reach.y};
  *pixels = {nullptr, reach.x, reach.y, reach.width, reach.height, job.bpp,
             rows->data(), nullptr, nullptr, 0, 0, 0, 0};
  return true;
}

void band_write(render_job &job, const band_slot &slot) {
  const int32_t row0 = slot.band * BAND_ROWS;
  const int32_t rows = std::min(BAND_ROWS, job.height - row0);
  const warp *w = job.w;
  const GeglRectangle rect = {w->area.x - w->target_x,
                              w->area.y + row0 - w->target_y, job.width, rows};
  gegl_buffer_set(w->dst->pixel_buffer, &rect, 0, w->format, slot.pixels,
                  int(job.stride));
  // Send the finished tiles to the host now: the tile cache stays small.
  gegl_buffer_flush(w->dst->pixel_buffer);
}
