// The handle instructions with the real signal chain behind them.
#include <cstring>

#include <gtest/gtest.h>

#include "base/result_code.h"
#include "support/kernel_words.h"
#include "support/tone.h"
#include "vm/kernel_runner.h"

namespace kdsp {

using namespace words;

namespace {

// 20 ms of a carrier at +25 kHz, FM-modulated by a 1 kHz tone.
std::vector<float> fm_capture(std::uint64_t pair_count = 4800) {
  const Bytes bytes = fm_capture_file(pair_count, 25000.0, 1000.0, 2500.0);
  std::vector<float> values(bytes.size() / 4);
  std::memcpy(values.data(), bytes.data(), bytes.size());
  return values;
}

// GETIQ r2, offset 25000 in r4, then `count` FMDEMODs into r3 by a loop.
std::vector<std::uint32_t> create_handles(std::uint32_t count) {
  return {getiq(2), li(4, 25000), li(8, count), fmdemod(3, 2, 4), addi(8, 8, -1), beqz(8, 1), jmp(-4)};
}

template <typename... More>
std::vector<std::uint32_t> then(std::vector<std::uint32_t> code, More... more) {
  (code.push_back(more), ...);
  return code;
}

}  // namespace

TEST(SignalInstructions, SixWordKernelEmitsTheDemodulatedTone) {
  const KernelOutcome outcome = run_words(words::SIX_WORD_KERNEL, {}, 0, fm_capture(24000));
  ASSERT_EQ(outcome.result, ResultCode::OK);
  EXPECT_NE(outcome.end, RunEnd::KERNEL_EXIT);
  ASSERT_EQ(outcome.wav.size(), 44u + 2 * 4800);
  const std::vector<double> audio = wav_samples(outcome.wav);
  // 2.5 kHz deviation is 0.5 of full deviation, times the 0.72 gain.
  EXPECT_NEAR(tone_amplitude(audio, 48000, 1000, 1200, 3600), 0.36, 0.02);
  EXPECT_LT(tone_amplitude(audio, 48000, 2000, 1200, 3600), 0.01);
}

TEST(SignalInstructions, HandlesAreHandedOutInOrderOfCreation) {
  const KernelOutcome outcome =
      run_words({getiq(2), li(4, 25000), fmdemod(3, 2, 4), st(3, 0, 0), fmdemod(5, 2, 4), st(5, 4, 0), li(6, 300),
                 fshift(7, 3, 6), st(7, 8, 0), fshift(9, 3, 6), st(9, 12, 0), halt()},
                {}, 0, fm_capture());
  EXPECT_EQ(outcome.result, ResultCode::NO_OUTPUT);
  EXPECT_EQ(word_at(outcome, 0), 2u);
  EXPECT_EQ(word_at(outcome, 4), 3u);
  EXPECT_EQ(word_at(outcome, 8), 4u);
  EXPECT_EQ(word_at(outcome, 12), 5u);  // the source of a shift stays valid
}

TEST(SignalInstructions, ParameterRangesAreInclusive) {
  const std::vector<float> capture = fm_capture(600);
  auto demod_at = [&](std::vector<std::uint32_t> load_offset) {
    std::vector<std::uint32_t> code = {getiq(2)};
    code.insert(code.end(), load_offset.begin(), load_offset.end());
    code.push_back(fmdemod(3, 2, 4));
    code.push_back(halt());
    return run_words(code, {}, 0, capture).result;
  };
  const std::uint32_t minus_one = addi(4, 0, -1);
  EXPECT_EQ(demod_at({li(4, 100000)}), ResultCode::NO_OUTPUT);
  EXPECT_EQ(demod_at({li(4, 100001)}), ResultCode::BAD_PARAM);
  EXPECT_EQ(demod_at({minus_one}), ResultCode::NO_OUTPUT);
  // -100000 and -100001 as -1 - 99999 and -1 - 100000.
  EXPECT_EQ(demod_at({minus_one, li(5, 99999), xor_(5, 5, 4), addi(5, 5, 1), add(4, 4, 5)}), ResultCode::NO_OUTPUT);
  EXPECT_EQ(demod_at({minus_one, li(5, 100000), xor_(5, 5, 4), addi(5, 5, 1), add(4, 4, 5)}), ResultCode::BAD_PARAM);

  auto shift_by = [&](std::uint32_t load_shift) {
    return run_words({getiq(2), li(4, 0), fmdemod(3, 2, 4), load_shift, fshift(5, 3, 6), halt()}, {}, 0, capture)
        .result;
  };
  EXPECT_EQ(shift_by(li(6, 0)), ResultCode::NO_OUTPUT);
  EXPECT_EQ(shift_by(li(6, 10000)), ResultCode::NO_OUTPUT);
  EXPECT_EQ(shift_by(li(6, 10001)), ResultCode::BAD_PARAM);
  EXPECT_EQ(shift_by(addi(6, 0, -1)), ResultCode::BAD_PARAM);
}

TEST(SignalInstructions, RefusedCaptureIsABadParameter) {
  // Four pairs are too few to demodulate.
  EXPECT_EQ(run_words(words::SIX_WORD_KERNEL, {}, 0, silent_capture(4)).result, ResultCode::BAD_PARAM);
  EXPECT_EQ(run_words(words::SIX_WORD_KERNEL, {}, 0, silent_capture(5)).result, ResultCode::OK);
}

TEST(SignalInstructions, ThirtyTwoCreationsThenTheLimit) {
  const std::vector<float> capture = fm_capture(600);
  EXPECT_EQ(run_words(then(create_handles(32), addi(1, 3, 0), emit(), halt()), {}, 0, capture).result, ResultCode::OK);
  EXPECT_EQ(run_words(then(create_handles(32), fmdemod(3, 2, 4), halt()), {}, 0, capture).result,
            ResultCode::DSP_LIMIT);
  EXPECT_EQ(run_words(then(create_handles(32), li(6, 1), fshift(5, 3, 6), halt()), {}, 0, capture).result,
            ResultCode::DSP_LIMIT);
  // The limit comes before the parameter check, after the handle check.
  EXPECT_EQ(run_words(then(create_handles(32), li(4, 100001), fmdemod(3, 2, 4), halt()), {}, 0, capture).result,
            ResultCode::DSP_LIMIT);
  EXPECT_EQ(run_words(then(create_handles(32), fmdemod(3, 0, 4), halt()), {}, 0, capture).result,
            ResultCode::BAD_HANDLE);
  // The last handle of the 32 is 33.
  const KernelOutcome last = run_words(then(create_handles(32), st(3, 0, 0), halt()), {}, 0, capture);
  EXPECT_EQ(word_at(last, 0), 33u);
}

TEST(SignalInstructions, EmitOnceAndEndings) {
  const std::vector<float> capture = fm_capture(600);
  const std::vector<std::uint32_t> emitted = {getiq(2), li(4, 25000), fmdemod(1, 2, 4), emit()};

  const KernelOutcome twice = run_words(then(emitted, emit(), halt()), {}, 0, capture);
  EXPECT_EQ(twice.result, ResultCode::BAD_PARAM);
  EXPECT_TRUE(twice.wav.empty());
  EXPECT_EQ(run_words(then(emitted, li(1, 0), emit(), halt()), {}, 0, capture).result, ResultCode::BAD_HANDLE);

  const KernelOutcome exit_zero = run_words(then(emitted, li(1, 0), exit_()), {}, 0, capture);
  EXPECT_EQ(exit_zero.result, ResultCode::OK);
  EXPECT_EQ(exit_zero.wav.size(), 44u + 2 * 120);
  EXPECT_EQ(run_words(then(emitted, halt()), {}, 0, capture).result, ResultCode::OK);

  const KernelOutcome exit_three = run_words(then(emitted, li(1, 3), exit_()), {}, 0, capture);
  EXPECT_EQ(exit_three.exit_code, 3u);
  EXPECT_EQ(exit_three.end, RunEnd::KERNEL_EXIT);
  EXPECT_TRUE(exit_three.wav.empty());
  EXPECT_EQ(run_words(then(emitted, li(1, 256), exit_()), {}, 0, capture).result, ResultCode::BAD_PARAM);

  const KernelOutcome looped = run_words(then(emitted, jmp(-1)), {}, 0, capture);
  EXPECT_EQ(looped.result, ResultCode::STEP_LIMIT);
  EXPECT_TRUE(looped.wav.empty());
}

TEST(SignalInstructions, EveryAllocationFailureEndsTheRunCleanly) {
  // Demodulate, shift, emit. Whatever allocation fails, the run ends with the
  // code of the instruction that needed it and keeps nothing (the leak
  // checker of the sanitizer build watches the rest).
  const std::vector<float> capture = fm_capture(600);
  const std::vector<std::uint32_t> code = {getiq(2), li(4, 25000), fmdemod(3, 2, 4), li(6, 300), fshift(1, 3, 6),
                                           emit(),   halt()};
  std::uint64_t total = 0;
  ASSERT_EQ(run_words(code, {}, 0, capture, 0, &total).result, ResultCode::OK);
  ASSERT_GE(total, 3u);
  for (std::uint64_t k = 1; k <= total; ++k) {
    const KernelOutcome outcome = run_words(code, {}, 0, capture, k);
    // The WAV image is the last request of the run.
    EXPECT_EQ(outcome.result, k == total ? ResultCode::IO_ERROR : ResultCode::BAD_PARAM) << "request " << k;
    EXPECT_TRUE(outcome.wav.empty());
  }
}

}  // namespace kdsp
