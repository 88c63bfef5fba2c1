#include "radio/io/png_encode.h"

#include <png.h>

#include <cstring>

namespace kdsp {

namespace {

// Releases whatever libpng holds for the image on every path.
struct PngImageOwner {
  png_image image{};
  ~PngImageOwner() { png_image_free(&image); }
};

}  // namespace

int encode_png(const RgbImage& image, std::vector<std::uint8_t>* png, Failure* failure) {
  PngImageOwner owner;
  owner.image.version = PNG_IMAGE_VERSION;
  owner.image.width = static_cast<png_uint_32>(image.width);
  owner.image.height = static_cast<png_uint_32>(image.height);
  owner.image.format = PNG_FORMAT_RGB;
  const png_int_32 row_stride = image.width * 3;

  // The first call measures, the second writes.
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&owner.image, nullptr, &size, 0, image.rgb.data(), row_stride, nullptr) == 0) {
    *failure = Failure{std::string("cannot encode the picture: ") + owner.image.message};
    return -1;
  }
  std::vector<std::uint8_t> bytes(size);
  if (png_image_write_to_memory(&owner.image, bytes.data(), &size, 0, image.rgb.data(), row_stride, nullptr) == 0) {
    *failure = Failure{std::string("cannot encode the picture: ") + owner.image.message};
    return -1;
  }
  bytes.resize(size);
  *png = std::move(bytes);
  return 0;
}

}  // namespace kdsp
