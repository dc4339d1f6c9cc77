// A PNG written row by row as strips of the image are rendered, so the
// whole image is never held and encoding runs beside the warp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <babl/babl.h>

struct png_strips;

// The rows the file takes for pixels of `format`: grey or RGB, with alpha
// when `format` has it, 16 bits when `deep` else 8, in `format`'s space.
const Babl *png_strips_format(const Babl *format, bool deep);
// Starts a width x height PNG of png_strips_format's layout on `fd`
// (encoded for speed); null with `error` set on failure.
png_strips *png_strips_start(int fd, int32_t width, int32_t height,
                             const Babl *format, bool deep,
                             std::string *error);
// Appends `rows` rows of png_strips_format bytes, `stride` bytes apart.
bool png_strips_write(png_strips *p, const unsigned char *data, int32_t rows,
                      size_t stride);
// Ends the file once every row is written; frees `p` either way.
bool png_strips_finish(png_strips *p, std::string *error);
void png_strips_free(png_strips *p);
