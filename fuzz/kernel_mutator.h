// Structure-aware mutation of kernel images for the libFuzzer harnesses.
//
// Byte-level mutation almost never keeps the header's code_count and
// data_size in step with the file length, so nearly every input dies in the
// loader. These functions take an image apart into header, instruction words
// and data, change it field by field (opcodes mostly from the instruction
// set, registers, imm16/imm20 from values the interpreter checks against,
// now and then raw bits), and put it back with the header fixed to the new
// lengths. A small share of the results is left or made invalid on purpose so
// that the loader's and the decoder's refusals stay explored too.
#pragma once

#include <cstddef>
#include <cstdint>

// libFuzzer's own byte-level mutation, which the functions below fall back
// on; defined by libFuzzer in the harnesses.
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size);

namespace kdsp {

// Mutates the image in `data` (`size` bytes, any content) in place. Returns
// the new size, at most `max_size`.
std::size_t mutate_kernel_image(std::uint8_t* data, std::size_t size, std::size_t max_size, unsigned seed);

// Writes into `out` an image made of parts of `a` and `b` (code words spliced,
// data from either). Returns its size, at most `max_out_size`.
std::size_t cross_kernel_images(const std::uint8_t* a, std::size_t a_size, const std::uint8_t* b, std::size_t b_size,
                                std::uint8_t* out, std::size_t max_out_size, unsigned seed);

}  // namespace kdsp
