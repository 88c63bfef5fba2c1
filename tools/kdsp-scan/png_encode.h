// PNG encoding of an RGB picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kdsp-scan/spectrogram_image.h"

namespace kdsp {

// 0 with `*png` holding the complete file, else -1 with `*error` set.
int encode_png(const SpectrogramImage& image, std::vector<std::uint8_t>* png, std::string* error);

}  // namespace kdsp
