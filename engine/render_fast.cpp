// The fast path's threads: workers claim bands in order and take each
// through its positions, survey and render; the calling thread alone talks
// to GEGL and the host, reading each band's source as it asks and writing
// finished bands in order, with progress between.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "render_job.h"

bool fault_injected(warp_render_faults *faults, bool allocation,
                    int32_t index) {
  if (!faults) return false;
  warp_render_faults &f = *faults;
  const int32_t allowed =
      allocation ? f.allocations_allowed : f.thread_starts_allowed;
  if (allowed < 0 || index < allowed) return false;
  ++(allocation ? f.allocations_failed : f.thread_starts_failed);
  return true;
}

GeglRectangle source_fetch_box(const bounds *sb) {
  GeglRectangle r;
  r.x = sb->width >= 1 ? sb->x0 : sb->x1 - 1;
  r.y = sb->height >= 1 ? sb->y0 : sb->y1 - 1;
  r.width = std::max(sb->width, 1);
  r.height = std::max(sb->height, 1);
  return r;
}

int32_t clamp_into(int64_t v, int32_t lo, int32_t size) {
  return int32_t(std::max<int64_t>(lo, std::min<int64_t>(v, lo + size - 1)));
}

namespace {

void report_progress(const warp *w, double done) {
  if (w->progress) w->progress(done, w->progress_data);
}

// A large pixel buffer; null data when the memory cannot be had.
struct pixel_memory {
  unsigned char *data = nullptr;
  pixel_memory(size_t bytes, bool fail) {
    if (!fail) data = static_cast<unsigned char *>(pixel_memory_alloc(bytes));
  }
  ~pixel_memory() { std::free(data); }
  pixel_memory(const pixel_memory &) = delete;
  pixel_memory &operator=(const pixel_memory &) = delete;
};

// Anti-aliasing's context, freed with the call.
struct footprint_hold {
  footprint_context *fc;
  warp *w;
  ~footprint_hold() { footprint_context_free(fc, w); }
};

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
void job_tiles_init(render_job &job, const interpolation *in, int32_t shift) {
  job.tile_shift = shift > 0 ? std::min(shift, int32_t(SOURCE_TILE_SHIFT))
                             : SOURCE_TILE_SHIFT;
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
    band_positions(*job, slot);
    if (!job->whole && job->parallel_io) {
      band_reach(*job, slot);
      if (!band_source(*job, job->proto, *slot)) {
        std::lock_guard<std::mutex> hold(job->lock);
        job->failed = true;
        job->wake.notify_all();
        return;
      }
    } else if (!job->whole) {
      band_reach(*job, slot);
      std::unique_lock<std::mutex> hold(job->lock);
      slot->state = SLOT_NEEDS_SOURCE;
      job->wake.notify_all();
      job->wake.wait(hold,
                     [&] { return job->failed || slot->state == SLOT_SOURCED; });
      if (job->failed) return;
    }
    render_band(*job, &in, *slot);
    if (job->parallel_io) band_write(*job, *slot);
    {
      std::lock_guard<std::mutex> hold(job->lock);
      if (job->parallel_io) {
        slot->state = SLOT_FREE;
        ++job->written;
      } else {
        slot->state = SLOT_DONE;
      }
    }
    job->wake.notify_all();
  }
}

// With one thread: every band in turn on the calling thread.
bool render_alone(render_job &job, const interpolation *proto) {
  interpolation in = worker_interpolation(job);
  band_slot &slot = job.slots[0];
  for (int32_t i = 0; i < job.band_count; ++i) {
    slot.band = i;
    band_positions(job, &slot);
    if (!job.whole) {
      band_reach(job, &slot);
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

// Reads what the workers ask for and writes what they finish, in order,
// until every band is written or the memory ran out.
bool serve_workers(render_job &job, const interpolation *in) {
  const int64_t total = int64_t(job.width) * job.height;
  int32_t written = 0;
  int64_t reported = 0;
  std::unique_lock<std::mutex> hold(job.lock);
  while (written < job.band_count && !job.failed) {
    if (job.parallel_io) {
      // The workers read and write; this thread reports progress.
      job.wake.wait_for(hold, std::chrono::milliseconds(20), [&] {
        return job.failed || job.written == job.band_count ||
               job.pixels_done.load() - reported >= job.report_step;
      });
      written = job.written;
      const int64_t done = job.pixels_done.load();
      // Move the mark even when nothing is reported, or the wait above
      // returns at once forever and the workers never get the lock.
      if (done - reported >= job.report_step) {
        reported = done;
        if (done < total && !job.failed) {
          hold.unlock();
          report_progress(job.w, static_cast<double>(done) / total);
          hold.lock();
        }
      }
      continue;
    }
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
      report_progress(job.w, static_cast<double>(done) / total);
      reported = done;
    }
    hold.lock();
  }
  return !job.failed;
}

// Sets up the slots' tables; false when their memory cannot be had.
bool slots_init(render_job &job, const interpolation *in,
                const warp_render_options *options) {
  try {
    if (!job.whole) job_tiles_init(job, in, options ? options->tile_shift : 0);
    const size_t tiles = job.tile_reaches_max
                             ? size_t(job.tile_columns) * size_t(job.tile_rows)
                             : 0;
    // A band's windows reach at most a window and two pixels past the
    // fetch box's rows.
    const size_t reach_rows = size_t(job.fetch.height) + 2 * BUFFER_MAX_SIZE + 4;
    for (band_slot &slot : job.slots) {
      if (job.whole) continue;
      slot.touched.assign(size_t(job.fetch.height), 0);
      slot.rows.reserve(reach_rows);
      slot.tile_index.assign(tiles, -1);
      slot.windows.reserve(job.tile_windows_max);
      slot.reaches.reserve(job.tile_reaches_max);
      slot.runs.reserve(job.tile_reaches_max);
      slot.run_tiles.resize(job.tile_reaches_max);
    }
  } catch (const std::bad_alloc &) {
    return false;
  }
  return true;
}

}  // namespace

// The bulk path. Returns WARP_NO_MEMORY when the memory it needs cannot be
// had; what was written by then is not the whole layer.
warp_status render_fast(warp *w, interpolation *in,
                        const warp_render_options *options) {
  render_job job;
  job.w = w;
  job.proto = in;
  job.width = w->area.width;
  job.height = w->area.height;
  job.bpp = w->bpp;
  if (job.width <= 0 || job.height <= 0) return WARP_SUCCESS;
  job.vectors = &vector_functions_for(
      options ? vector_level(options->vector_level) : VECTOR_BEST);
  position_plan_init(&job.plan, w);
  job.kernel = job.vectors->kernel_for(
      {w->interpolation, w->sample,
       w->sample == SAMPLE_U8 ? w->bpp : w->channels, w->has_alpha != 0});
  job.faults = options ? options->faults : nullptr;
  job.parallel_io = options && options->parallel_io;
  job.reads = options ? options->reads : nullptr;
  job.fetch = source_fetch_box(w->src->bounds);
  job.stride = size_t(job.width) * size_t(job.bpp);
  job.band_count = (job.height + BAND_ROWS - 1) / BAND_ROWS;
  // At least one report per ten columns' worth of work.
  job.report_step = std::max<int64_t>(1, int64_t(10) * job.height);
  job.window = in->current->size;

  int32_t threads = options ? options->threads : 0;
  if (threads <= 0) threads = int32_t(std::thread::hardware_concurrency());
  threads = std::max(1, std::min(threads, job.band_count));
  // One thread renders on the calling thread: no worker, no spare slots.
  const int32_t slot_count =
      threads == 1 ? 1 : std::min(job.band_count, threads + SPARE_SLOTS);

  // Anti-aliasing samples whole footprints: it keeps the whole source box in
  // memory. Otherwise each band reads the source its samples reach.
  source_memory whole_memory;
  source_pixels whole_pixels{};
  source_view whole_view{};
  std::vector<const unsigned char *> whole_rows;
  if (w->anti_aliasing) {
    if (fault_injected(job.faults, true, 0)) return WARP_NO_MEMORY;
    try {
      whole_rows.reserve(size_t(job.fetch.height) + 2 * BUFFER_MAX_SIZE + 4);
    } catch (const std::bad_alloc &) {
      return WARP_NO_MEMORY;
    }
    if (!whole_source(job, in, &whole_memory, &whole_pixels, &whole_rows,
                      &whole_view))
      return WARP_NO_MEMORY;
    job.whole = &whole_pixels;
    job.whole_view = &whole_view;
  }
  footprint_context footprint{};
  const footprint_hold hold_footprint{&footprint, w};
  if (w->anti_aliasing &&
      !footprint_context_init(&footprint, w, job.vectors->ewa_rows4, job.whole,
                              fault_injected(job.faults, true, 2)))
    return WARP_NO_MEMORY;
  // Each slot: the band's pixels and its positions, whose lanes may read a
  // few past the last.
  const size_t band_pixels = size_t(job.width) * BAND_ROWS + 8;
  const size_t slot_bytes = job.stride * BAND_ROWS + 2 * sizeof(float) * band_pixels;
  pixel_memory bands(slot_bytes * size_t(slot_count),
                     fault_injected(job.faults, true, 1));
  if (!bands.data) return WARP_NO_MEMORY;
  try {
    job.slots.resize(size_t(slot_count));
  } catch (const std::bad_alloc &) {
    return WARP_NO_MEMORY;
  }
  if (!slots_init(job, in, options)) return WARP_NO_MEMORY;
  for (int32_t i = 0; i < slot_count; ++i) {
    band_slot &slot = job.slots[size_t(i)];
    unsigned char *at = bands.data + slot_bytes * size_t(i);
    slot.sx = reinterpret_cast<float *>(at);
    slot.sy = slot.sx + band_pixels;
    slot.pixels = reinterpret_cast<unsigned char *>(slot.sy + band_pixels);
  }
  if (threads == 1) return render_alone(job, in) ? WARP_SUCCESS : WARP_NO_MEMORY;

  std::vector<std::thread> workers;
  try {
    for (int32_t t = 0; t < threads; ++t) {
      if (fault_injected(job.faults, false, t))
        throw std::system_error(
            std::make_error_code(std::errc::resource_unavailable_try_again));
      workers.emplace_back(render_worker, &job);
    }
  } catch (const std::exception &) {
    // Render on the threads that did start, or on this one.
    if (workers.empty()) return render_alone(job, in) ? WARP_SUCCESS : WARP_NO_MEMORY;
  }
  const bool served = serve_workers(job, in);
  for (auto &t : workers) t.join();
  return served ? WARP_SUCCESS : WARP_NO_MEMORY;
}
