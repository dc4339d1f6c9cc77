// The render loop: every pixel of the destination box is tested at its
// centre, mapped to the source and sampled there. Two ways to run it: one
// pixel at a time, or in bulk on several threads; both write the same bytes.
#include <algorithm>
#include <atomic>
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

namespace {

// Source positions that are not finite or do not fit an int32 are outside.
bool source_position_usable(float sx, float sy) {
  return std::isfinite(sx) && std::isfinite(sy) && std::fabs(sx) < 2.0e9f &&
         std::fabs(sy) < 2.0e9f;
}

// Renders destination pixel (x, y) into `pixel`; false leaves it untouched.
// Everything is decided at the pixel's centre: its own test, its source
// position, and that position's test.
bool render_pixel(const warp *w, interpolation *in, int32_t x, int32_t y,
                  unsigned char *pixel) {
  const double cx = x + 0.5, cy = y + 0.5;
  if (!region_inside_at(w->dst, cx, cy)) return false;
  float sx, sy;
  warp_convert(w, static_cast<float>(cx), static_cast<float>(cy), &sx, &sy);
  if (!source_position_usable(sx, sy)) return false;
  if (!region_inside_at(w->src, sx, sy)) return false;
  if (w->anti_aliasing && footprint_render(w, in, cx, cy, sx, sy, pixel))
    return true;
  return interpolation_get_pixel(in, sx, sy, pixel) != nullptr;
}

void report_progress(const warp *w, double done) {
  if (w->progress) w->progress(done, w->progress_data);
}

void render_straightforward(warp *w, interpolation *in) {
  const bounds *db = w->dst->bounds;
  unsigned char cell[SAMPLE_MAX_BYTES] = {};
  for (int32_t x = db->x0; x < db->x1; ++x) {
    for (int32_t y = db->y0; y < db->y1; ++y) {
      if (!render_pixel(w, in, x, y, cell)) continue;
      const GeglRectangle rect = {x - db->x0, y - db->y0, 1, 1};
      gegl_buffer_set(w->dst->pixel_buffer, &rect, 0, w->format, cell,
                      GEGL_AUTO_ROWSTRIDE);
    }
    if (x % 10 == 0)
      report_progress(w, static_cast<double>(x - db->x0) / db->width);
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
    const size_t rounded = (bytes + huge - 1) / huge * huge;
    void *p = nullptr;
    if (fail || posix_memalign(&p, huge, rounded) != 0) return;
    madvise(p, rounded, MADV_HUGEPAGE);
    data = static_cast<unsigned char *>(p);
  }
  ~pixel_memory() { std::free(data); }
  pixel_memory(const pixel_memory &) = delete;
  pixel_memory &operator=(const pixel_memory &) = delete;
};

struct render_job {
  const warp *w;
  const interpolation *proto;
  source_pixels source;
  int32_t width;   // destination box
  int32_t height;
  int32_t bpp;
  size_t stride;   // bytes per destination row
  // The whole layer, allocated once: fresh memory for every band would cost
  // a page fault per page per band.
  unsigned char *pixels = nullptr;
  int32_t band_count;
  std::vector<char> band_done;  // guarded by `lock`
  std::atomic<int32_t> next_band{0};
  std::atomic<int64_t> pixels_done{0};
  int64_t report_step;  // pixels of work between progress reports
  std::mutex lock;
  std::condition_variable wake;
};

void render_band(render_job &job, interpolation *in, int32_t index) {
  const bounds *db = job.w->dst->bounds;
  const int32_t row0 = index * BAND_ROWS;
  const int32_t rows = std::min(BAND_ROWS, job.height - row0);
  unsigned char *band = job.pixels + size_t(row0) * job.stride;
  // Zero is what a new layer holds: unrendered pixels keep it.
  std::memset(band, 0, job.stride * size_t(rows));
  for (int32_t r = 0; r < rows; ++r) {
    unsigned char *row = band + size_t(r) * job.stride;
    const int32_t y = db->y0 + row0 + r;
    for (int32_t c = 0; c < job.width; ++c)
      render_pixel(job.w, in, db->x0 + c, y, row + size_t(c) * job.bpp);
    const int64_t before = job.pixels_done.fetch_add(job.width);
    if ((before + job.width) / job.report_step != before / job.report_step)
      job.wake.notify_one();
  }
}

void render_worker(render_job *job) {
  // Each thread samples with its own neighbourhood buffers.
  interpolation in = *job->proto;
  in.current = &in.buffers[0];
  in.previous = &in.buffers[1];
  in.buffers[0].valid = 0;
  in.buffers[1].valid = 0;
  in.memory = &job->source;

  for (int32_t i; (i = job->next_band.fetch_add(1)) < job->band_count;) {
    render_band(*job, &in, i);
    {
      std::lock_guard<std::mutex> hold(job->lock);
      job->band_done[size_t(i)] = 1;
    }
    job->wake.notify_one();
  }
}

// GEGL and the host are called from this thread only: it reads the source,
// reports progress and writes finished bands while the workers render.
// Returns false, having written nothing, when the memory it needs cannot be
// had.
bool render_fast(warp *w, interpolation *in, int32_t threads) {
  const bounds *db = w->dst->bounds;
  render_job job;
  job.w = w;
  job.proto = in;
  job.width = db->width;
  job.height = db->height;
  job.bpp = w->bpp;
  if (job.width <= 0 || job.height <= 0) return true;

  const GeglRectangle fetch = source_fetch_box(w->src->bounds);
  const size_t source_bytes =
      size_t(fetch.width) * size_t(fetch.height) * size_t(w->bpp);
  job.stride = size_t(job.width) * size_t(job.bpp);
  warp_render_faults &faults = warp_render_fault_injection;
  pixel_memory source(source_bytes + PIXEL_MAX_BYTES,
                      fault_injected(faults.allocations_allowed, 0,
                                     &faults.allocations_failed));
  pixel_memory layer(job.stride * size_t(job.height),
                     fault_injected(faults.allocations_allowed, 1,
                                    &faults.allocations_failed));
  if (!source.data || !layer.data) return false;
  job.pixels = layer.data;

  // The read fills every byte of the box (abyss as zeros); only the padding
  // after it needs setting.
  const GeglRectangle local = {fetch.x - in->offset_x, fetch.y - in->offset_y,
                               fetch.width, fetch.height};
  gegl_buffer_get(w->gegl_buffer, &local, 1.0, w->format, source.data,
                  GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  std::memset(source.data + source_bytes, 0, PIXEL_MAX_BYTES);
  job.source = {source.data, fetch.x, fetch.y, fetch.width, fetch.height,
                w->bpp};

  job.band_count = (job.height + BAND_ROWS - 1) / BAND_ROWS;
  try {
    job.band_done.assign(size_t(job.band_count), 0);
  } catch (const std::bad_alloc &) {
    return false;  // nothing written yet: the one-pixel path takes over
  }
  // At least one report per ten columns' worth of work.
  job.report_step = std::max<int64_t>(1, int64_t(10) * job.height);

  if (threads <= 0) threads = int32_t(std::thread::hardware_concurrency());
  threads = std::max(1, std::min(threads, job.band_count));
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
    if (workers.empty()) render_worker(&job);
  }

  const int64_t total = int64_t(job.width) * job.height;
  int32_t written = 0;
  int64_t reported = 0;
  while (written < job.band_count) {
    std::unique_lock<std::mutex> hold(job.lock);
    job.wake.wait_for(hold, std::chrono::milliseconds(20), [&] {
      return job.band_done[size_t(written)] ||
             job.pixels_done.load() - reported >= job.report_step;
    });
    int32_t ready = written;
    while (ready < job.band_count && job.band_done[size_t(ready)]) ++ready;
    hold.unlock();

    // Finished bands in one transfer, while later ones render.
    if (ready > written) {
      const int32_t row0 = written * BAND_ROWS;
      const int32_t rows = std::min(ready * BAND_ROWS, job.height) - row0;
      const GeglRectangle rect = {0, row0, job.width, rows};
      gegl_buffer_set(w->dst->pixel_buffer, &rect, 0, w->format,
                      job.pixels + size_t(row0) * job.stride,
                      int(job.stride));
      // Send the finished tiles to the host now rather than all at the end.
      gegl_buffer_flush(w->dst->pixel_buffer);
      written = ready;
    }
    const int64_t done = job.pixels_done.load();
    // The finish reports 1.0 once the layer is complete.
    if (done - reported >= job.report_step && done < total) {
      report_progress(w, static_cast<double>(done) / total);
      reported = done;
    }
  }
  for (auto &t : workers) t.join();
  return true;
}

}  // namespace

void warp_render(warp *w, interpolation *in,
                 const warp_render_options *options) {
  // Built before either path so both sample the same copies.
  source_mip mip{};
  if (w->anti_aliasing && source_mip_needed(w) && source_mip_build(&mip, w))
    w->mip = &mip;
  if ((options && options->straightforward) ||
      !render_fast(w, in, options ? options->threads : 0))
    render_straightforward(w, in);
  w->mip = nullptr;
  source_mip_free(&mip);

  buffer_free(in->current);
  report_progress(w, 1.0);
}

void warp_transformation(warp *w, interpolation *in) {
  warp_render(w, in, nullptr);
}
