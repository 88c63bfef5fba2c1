#include "radio/base/fft_plan.h"

#include <fftw3.h>

#include <mutex>

namespace kdsp {

struct FftState {
  std::size_t size = 0;
  fftwf_complex* input = nullptr;
  fftwf_complex* output = nullptr;
  fftwf_plan plan = nullptr;
  ~FftState() {
    if (plan != nullptr) fftwf_destroy_plan(plan);
    fftwf_free(output);
    fftwf_free(input);
  }
};

void FftStateRelease::operator()(FftState* state) const { delete state; }

void prepare_fft_planner() {
  // FFTW's planner keeps global state; from here on it takes its own lock
  // around planning, whoever plans (this module or liquid-dsp's objects).
  static std::once_flag once;
  std::call_once(once, [] { fftwf_make_planner_thread_safe(); });
}

template <FftDirection Direction>
int ComplexFft<Direction>::make(std::size_t size) {
  prepare_fft_planner();
  std::unique_ptr<FftState, FftStateRelease> state(new FftState);
  state->size = size;
  state->input = fftwf_alloc_complex(size);
  state->output = fftwf_alloc_complex(size);
  if (state->input == nullptr || state->output == nullptr) return -1;
  // FFTW_ESTIMATE plans without running trial transforms, so the plan (and
  // the bits it gives) does not depend on timing.
  const int sign = Direction == FftDirection::FORWARD ? FFTW_FORWARD : FFTW_BACKWARD;
  state->plan = fftwf_plan_dft_1d(static_cast<int>(size), state->input, state->output, sign, FFTW_ESTIMATE);
  if (state->plan == nullptr) return -1;
  state_ = std::move(state);
  return 0;
}

template <FftDirection Direction>
std::complex<float>* ComplexFft<Direction>::input() {
  return reinterpret_cast<std::complex<float>*>(state_->input);
}

template <FftDirection Direction>
const std::complex<float>* ComplexFft<Direction>::output() const {
  return reinterpret_cast<const std::complex<float>*>(state_->output);
}

template <FftDirection Direction>
void ComplexFft<Direction>::execute() {
  fftwf_execute(state_->plan);
}

template <FftDirection Direction>
std::size_t ComplexFft<Direction>::size() const {
  return state_->size;
}

template class ComplexFft<FftDirection::FORWARD>;
template class ComplexFft<FftDirection::BACKWARD>;

}  // namespace kdsp
