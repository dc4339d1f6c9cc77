#include "strip_pipeline.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "gegl_ref.h"
#include "png_strips.h"

namespace {

// Finished strips waiting for the encoder; at most two, so memory stays
// bounded whichever side is slower.
struct strip_queue {
  double encode_seconds = 0.0;  // the encoder's own
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::vector<unsigned char>> strips;
  bool finished = false;  // no more strips will come
  bool failed = false;    // the encoder stopped
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

void encode(strip_queue *q, png_strips *png, size_t row_bytes) {
  for (;;) {
    std::vector<unsigned char> strip;
    {
      std::unique_lock<std::mutex> hold(q->lock);
      q->changed.wait(hold, [q] { return !q->strips.empty() || q->finished; });
      if (q->strips.empty()) return;
      strip.swap(q->strips.front());
      q->strips.pop_front();
      q->changed.notify_all();
    }
    const auto start = std::chrono::steady_clock::now();
    const bool written = png_strips_write(
        png, strip.data(), int32_t(strip.size() / row_bytes), row_bytes);
    q->encode_seconds += seconds_since(start);
    if (!written) {
      std::lock_guard<std::mutex> hold(q->lock);
      q->failed = true;
      q->changed.notify_all();
      return;
    }
  }
}

// Progress over the whole output from each strip's own.
struct strip_progress {
  const warp_job *job;
  int32_t index;
  int32_t count;
};

void progress_of_strip(double done, void *data) {
  const auto *p = static_cast<const strip_progress *>(data);
  p->job->progress((p->index + done) / p->count, p->job->progress_data);
}

// The strip `rect` (image coordinates) as the file's rows in `out`.
warp_status render_strip(const warp_job &job, const GeglRectangle &rect,
                         const Babl *file_format, strip_progress *progress,
                         std::vector<unsigned char> *out) {
  const GeglRectangle local = {0, 0, rect.width, rect.height};
  gegl_ref<GeglBuffer> strip(
      gegl_buffer_new(&local, gegl_buffer_get_format(job.source)));
  const warp_target target = {strip.get(), rect.x, rect.y, rect};
  const warp_status status = tessaform_warp_target(
      job.source, &job.extent, &target, job.vals, job.options,
      job.progress ? progress_of_strip : nullptr, progress);
  if (status != WARP_SUCCESS) return status;
  const size_t row_bytes =
      size_t(rect.width) * size_t(babl_format_get_bytes_per_pixel(file_format));
  out->resize(row_bytes * size_t(rect.height));
  if (!job.over) {
    gegl_buffer_get(strip.get(), &local, 1.0, file_format, out->data(),
                    int(row_bytes), GEGL_ABYSS_NONE);
    return WARP_SUCCESS;
  }
  // As a whole image would be: composited into a buffer of the input's
  // format, which is then read in the file's.
  gegl_ref<GeglBuffer> composed(
      gegl_buffer_new(&rect, gegl_buffer_get_format(job.input)));
  gegl_ref<GeglNode> graph(gegl_node_new());
  GeglNode *over = over_node(graph.get(), job.input, strip.get(), rect.x, rect.y);
  GeglNode *crop = gegl_node_new_child(
      graph.get(), "operation", "gegl:crop", "x", double(rect.x), "y",
      double(rect.y), "width", double(rect.width), "height",
      double(rect.height), nullptr);
  GeglNode *sink = gegl_node_new_child(graph.get(), "operation",
                                       "gegl:write-buffer", "buffer",
                                       composed.get(), nullptr);
  gegl_node_link_many(over, crop, sink, nullptr);
  gegl_node_process(sink);
  gegl_buffer_get(composed.get(), &rect, 1.0, file_format, out->data(),
                  int(row_bytes), GEGL_ABYSS_NONE);
  return WARP_SUCCESS;
}

}  // namespace

GeglNode *over_node(GeglNode *graph, GeglBuffer *input, GeglBuffer *warped,
                    int32_t x, int32_t y) {
  GeglNode *bottom = gegl_node_new_child(graph, "operation", "gegl:buffer-source",
                                         "buffer", input, nullptr);
  GeglNode *top = gegl_node_new_child(graph, "operation", "gegl:buffer-source",
                                      "buffer", warped, nullptr);
  GeglNode *shift = gegl_node_new_child(graph, "operation", "gegl:translate",
                                        "x", double(x), "y", double(y), nullptr);
  GeglNode *over = gegl_node_new_child(graph, "operation", "gegl:over", nullptr);
  gegl_node_link(top, shift);
  gegl_node_connect_to(shift, "output", over, "aux");
  gegl_node_link(bottom, over);
  return over;
}

strip_result strip_pipeline_png(const warp_job &job, int fd,
                                std::string *error, strip_times *times) {
  const GeglRectangle &out = job.out_rect;
  const Babl *warp_format = gegl_buffer_get_format(job.over ? job.input : job.source);
  const Babl *file_format = png_strips_format(warp_format, job.deep);
  png_strips *png =
      png_strips_start(fd, out.width, out.height, warp_format, job.deep, error);
  if (!png) return STRIPS_WRITE_FAILED;
  const size_t row_bytes =
      size_t(out.width) * size_t(babl_format_get_bytes_per_pixel(file_format));

  strip_queue queue;
  std::thread encoder(encode, &queue, png, row_bytes);
  const int32_t count = (out.height + STRIP_ROWS - 1) / STRIP_ROWS;
  strip_result result = STRIPS_DONE;
  for (int32_t i = 0; i < count && result == STRIPS_DONE; ++i) {
    const int32_t y = out.y + i * STRIP_ROWS;
    const GeglRectangle rect = {out.x, y, out.width,
                                std::min(STRIP_ROWS, out.y + out.height - y)};
    strip_progress progress = {&job, i, count};
    std::vector<unsigned char> rows;
    const auto start = std::chrono::steady_clock::now();
    const warp_status rendered = render_strip(job, rect, file_format, &progress, &rows);
    times->render += seconds_since(start);
    if (rendered != WARP_SUCCESS) {
      result = rendered == WARP_NO_MEMORY ? STRIPS_NO_MEMORY : STRIPS_REFUSED;
      break;
    }
    std::unique_lock<std::mutex> hold(queue.lock);
    queue.changed.wait(hold, [&] { return queue.strips.size() < 2 || queue.failed; });
    if (queue.failed) {
      result = STRIPS_WRITE_FAILED;
      break;
    }
    queue.strips.push_back(std::move(rows));
    queue.changed.notify_all();
  }
  {
    std::lock_guard<std::mutex> hold(queue.lock);
    queue.finished = true;
    queue.changed.notify_all();
  }
  encoder.join();
  times->encode = queue.encode_seconds;
  if (queue.failed) result = STRIPS_WRITE_FAILED;
  if (result == STRIPS_DONE) {
    if (!png_strips_finish(png, error)) result = STRIPS_WRITE_FAILED;
  } else {
    std::string ignored;
    png_strips_finish(png, result == STRIPS_WRITE_FAILED ? error : &ignored);
  }
  return result;
}
