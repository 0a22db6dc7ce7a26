// Decoding of JPEG bytes with libjpeg itself, without a toolkit: every face draws the About
// picture from what this returns.
#pragma once

#include <cstddef>
#include <vector>

namespace tavrin {

// Rows top-down without padding; one byte per pixel for grey pictures, else R, G, B.
struct JpegPicture {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<unsigned char> pixels;

  bool IsNull() const { return pixels.empty(); }
};

// Decodes a baseline or progressive JPEG held in memory; CMYK comes back as RGB.
// Returns a null picture when the bytes are empty, truncated or not a JPEG; never exits.
JpegPicture DecodeJpegPicture(const unsigned char* bytes, std::size_t size);

}  // namespace tavrin
