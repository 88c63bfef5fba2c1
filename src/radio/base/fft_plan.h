// Single-precision FFTW transforms for the radio library: every plan is
// made and destroyed here, and FFTW's planner is made safe for threads once,
// before the first plan, so that workers may make their transforms side by
// side. liquid-dsp plans its own transforms inside some of its objects
// (filter banks, FFT filters); whoever makes such an object calls
// prepare_fft_planner() first (chain/liquid_owner.h does).
#pragma once

#include <complex>
#include <cstddef>
#include <memory>

namespace kdsp {

// Makes FFTW's planner safe to call from several threads at once; the first
// call does it, later calls do nothing. Call before anything plans.
void prepare_fft_planner();

struct FftState;
struct FftStateRelease {
  void operator()(FftState* state) const;
};

enum class FftDirection { FORWARD, BACKWARD };

// A complex transform of a fixed size over buffers it owns: fill input(),
// execute(), read output(). The input is left as it was. The backward
// transform is unscaled: forward then backward multiplies by the size.
template <FftDirection Direction>
class ComplexFft {
 public:
  // Plans a transform of `size` points. 0, or -1 when it could not be made
  // (memory ran out).
  int make(std::size_t size);
  std::complex<float>* input();
  const std::complex<float>* output() const;
  void execute();
  std::size_t size() const;

 private:
  std::unique_ptr<FftState, FftStateRelease> state_;
};

using ForwardFft = ComplexFft<FftDirection::FORWARD>;
using InverseFft = ComplexFft<FftDirection::BACKWARD>;

}  // namespace kdsp
