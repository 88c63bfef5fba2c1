// A mono float signal: what the signal functions produce and the WAV encoder
// consumes.
#pragma once

#include <cstdint>
#include <memory>

namespace kdsp {

// Owns `samples`; released with free_audio_buffer.
struct AudioBuffer {
  float* samples;
  std::uint64_t count;
  std::uint32_t sample_rate;
};

// Releases the samples, then the record itself. Null does nothing.
void free_audio_buffer(AudioBuffer* buffer);

// Owner of a buffer under construction: releases the record and whatever
// samples it holds on every failure path.
struct AudioBufferRelease {
  void operator()(AudioBuffer* buffer) const { free_audio_buffer(buffer); }
};
using AudioBufferOwner = std::unique_ptr<AudioBuffer, AudioBufferRelease>;

}  // namespace kdsp
