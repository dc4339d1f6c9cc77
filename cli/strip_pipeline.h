// The output rendered strip by strip: each strip's rows go to the encoder,
// which writes them on a thread of its own while the next strip renders.
#pragma once

#include <string>

#include "tessaform.h"

// Rows per strip: enough that each render's set-up is small beside it.
constexpr int32_t STRIP_ROWS = 256;

// One run's warp and where its output lies (image coordinates).
struct warp_job {
  GeglBuffer *input;   // as loaded
  GeglBuffer *source;  // what the warp reads: the input, or a copy with alpha
  GeglRectangle extent;    // the input's
  GeglRectangle box;       // the destination box
  GeglRectangle out_rect;  // what the file holds
  bool over;               // the warped pixels over the input
  bool deep;               // 16 bits per sample, else 8
  const warp_vals *vals;
  const warp_render_options *options;
  warp_progress progress;  // may be null
  void *progress_data;
};

// In `graph`: `warped`, whose (0, 0) lies at (x, y), over `input`.
GeglNode *over_node(GeglNode *graph, GeglBuffer *input, GeglBuffer *warped,
                    int32_t x, int32_t y);

enum strip_result { STRIPS_DONE, STRIPS_REFUSED, STRIPS_NO_MEMORY, STRIPS_WRITE_FAILED };

// Where a pipeline's time went, in seconds: rendering and converting
// strips, and encoding and writing them on the encoder's thread.
struct strip_times {
  double render = 0.0;
  double encode = 0.0;
};

// Renders the job's output as a PNG written to `fd`; on STRIPS_WRITE_FAILED
// `error` says why.
strip_result strip_pipeline_png(const warp_job &job, int fd,
                                std::string *error, strip_times *times);
