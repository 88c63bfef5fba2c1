// The complex element of every FFT work array and of the FM baseband.
#pragma once

namespace kdsp {

// One complex value in double precision: 16 bytes, re then im.
struct Complex {
  double re;
  double im;
};
static_assert(sizeof(Complex) == 16);

}  // namespace kdsp
