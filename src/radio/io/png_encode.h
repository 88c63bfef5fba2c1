// PNG encoding of an RGB picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "radio/base/failure.h"

namespace kdsp {

// A picture, 8-bit red, green and blue per pixel.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width * height * 3, rows top to bottom
};

// 0 with `*png` holding the complete file, else -1 with `*error` set.
int encode_png(const RgbImage& image, std::vector<std::uint8_t>* png, Failure* failure);

}  // namespace kdsp
