#include "formats/audio_buffer.h"

#include "base/memory.h"

namespace kdsp {

void free_audio_buffer(AudioBuffer* buffer) {
  if (buffer == nullptr) return;
  mem_release(buffer->samples);
  mem_release(buffer);
}

}  // namespace kdsp
