// Hands libFuzzer the structure-aware mutation for harnesses whose input is a
// kernel image, whole.
#include <cstddef>
#include <cstdint>

#include "kernel_mutator.h"

namespace kdsp {

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t max_size,
                                               unsigned int seed) {
  return mutate_kernel_image(data, size, max_size, seed);
}

extern "C" std::size_t LLVMFuzzerCustomCrossOver(const std::uint8_t* data1, std::size_t size1,
                                                 const std::uint8_t* data2, std::size_t size2, std::uint8_t* out,
                                                 std::size_t max_out_size, unsigned int seed) {
  return cross_kernel_images(data1, size1, data2, size2, out, max_out_size, seed);
}

}  // namespace kdsp
