// What a run may take on before it starts: the input's declared size, the
// output format's own limits and the memory the whole run needs.
#pragma once

#include <cstdint>
#include <string>

#include "arguments.h"
#include "image_header.h"

// What the plug-in accepts for a layer, and what GIMP accepts on a side.
constexpr int64_t INPUT_MAX_PIXELS = WARP_MAX_PIXELS;
constexpr int64_t INPUT_MAX_SIDE = WARP_MAX_SIDE;

// An output format: its saver, the longest side it can write, the most
// bytes of pixels it can hold (0: no limit of its own), and whether this
// tool writes it in strips as they are rendered.
struct output_format {
  const char *extension;
  const char *name;
  const char *saver;
  int64_t max_side;
  int64_t max_bytes;
  bool strips;
  int32_t saver_bytes_per_pixel;  // the saver's own copy of the image
};

// The format OUTPUT's extension names, or null.
const output_format *output_format_for(const std::string &path);

// Why an input that declares `header` is refused, or an empty text.
std::string input_limit_check(const image_header &header, int64_t max_pixels);
// Why `format` cannot hold a width x height image of `bytes_per_pixel`
// bytes, or an empty text.
std::string output_limit_check(const output_format &format, int64_t width,
                               int64_t height, int64_t bytes_per_pixel);

// The sizes a run's memory need follows from.
struct run_sizes {
  int64_t input_pixels;
  int64_t input_bytes_per_pixel;  // as decoded
  int64_t warp_bytes_per_pixel;   // the source as the warp reads it
  int64_t destination_pixels;     // the destination box
  int64_t output_pixels;          // what the file holds
  int64_t output_width;
  bool alpha_copy;     // --over on an input without alpha copies it
  bool anti_aliasing;  // reduced copies of the source
  bool strips;         // the output is written in strips, not held whole
  int32_t strip_rows;
  int32_t saver_bytes_per_pixel;  // else the saver's copy
};
// An estimate of the run's peak memory in bytes.
int64_t run_memory_need(const run_sizes &sizes);
// What the machine can give this process: available memory and swap, and
// its own address-space and data limits. -1 when nothing can be read.
int64_t run_memory_available();
// "1.5 GB", "230 MB".
std::string memory_text(int64_t bytes);
