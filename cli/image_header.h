// What an input file declares, read from its bytes before any loader runs:
// which format, how many pixels and how wide they are, and whether the file
// is whole as far as its own structure tells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum image_format {
  IMAGE_UNKNOWN,
  IMAGE_PNG,
  IMAGE_JPEG,
  IMAGE_TIFF,
  IMAGE_WEBP,
  IMAGE_EXR,
  IMAGE_PNM,
  IMAGE_HDR
};

struct image_header {
  image_format format = IMAGE_UNKNOWN;
  int64_t width = 0;
  int64_t height = 0;
  // An upper bound of the bytes one pixel takes once a loader decodes it.
  int32_t bytes_per_pixel = 0;
};

enum header_status {
  HEADER_OK,
  HEADER_NOT_AN_IMAGE,  // no format this tool reads starts this way
  HEADER_DAMAGED,       // the format's own structure is broken or cut short
};

// Reads the header of the file whose bytes are `data`; on a status other
// than HEADER_OK, `problem` says what is wrong.
header_status image_header_read(const unsigned char *data, size_t size,
                                image_header *header, std::string *problem);

// The GEGL loader for a format, e.g. "gegl:png-load".
const char *image_format_loader(image_format format);
const char *image_format_name(image_format format);
