// Shared signal types: audio buffers handed between the signal functions and
// the interpreter, and the complex element of every FFT work array.
#pragma once

#include <cstdint>
#include <memory>

// A mono float signal. Owns `samples`; released with free_audio_buffer.
struct AudioBuffer {
  float* samples;
  std::uint64_t count;
  std::uint32_t sample_rate;
};

// One complex value in double precision: 16 bytes, re then im.
struct Complex {
  double re;
  double im;
};
static_assert(sizeof(Complex) == 16);

// Releases the samples, then the record itself. Null does nothing.
void free_audio_buffer(AudioBuffer* buffer);

// Owner of a buffer under construction: releases the record and whatever
// samples it holds on every failure path.
struct AudioBufferRelease {
  void operator()(AudioBuffer* buffer) const { free_audio_buffer(buffer); }
};
using AudioBufferOwner = std::unique_ptr<AudioBuffer, AudioBufferRelease>;
