#include "formats/wav.h"

#include <cmath>

#include "base/byte_order.h"
#include "base/memory.h"

namespace kdsp {

namespace {

// Full scale is 32767 on both sides, so the code -32768 never occurs and the
// scale is symmetric.
constexpr double FULL_SCALE = 32767.0;

void write_tag(std::uint8_t* p, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(tag[i]);
}

}  // namespace

// The header field by field.
void write_wav_header(std::uint8_t* p, std::uint64_t sample_count, std::uint32_t sample_rate) {
  const auto data_bytes = static_cast<std::uint32_t>(2 * sample_count);
  write_tag(p + 0, "RIFF");
  write_le32(p + 4, 36 + data_bytes);
  write_tag(p + 8, "WAVE");
  write_tag(p + 12, "fmt ");
  write_le32(p + 16, 16);
  write_le16(p + 20, 1);  // integer PCM
  write_le16(p + 22, 1);  // mono
  write_le32(p + 24, sample_rate);
  write_le32(p + 28, 2u * sample_rate);  // bytes per second, 32-bit arithmetic
  write_le16(p + 32, 2);                 // bytes per frame
  write_le16(p + 34, 16);                // bits per sample
  write_tag(p + 36, "data");
  write_le32(p + 40, data_bytes);
}

namespace {

// Nearest integer, halves away from zero: what lround gives, without a
// library call per sample. For |v| <= 32767 the integer part is exact and so
// is the fraction v - trunc(v), so the comparison with 0.5 is exact too.
long round_half_away(double v) {
  const double whole = std::trunc(v);
  const double fraction = v - whole;
  auto rounded = static_cast<long>(whole);
  if (fraction >= 0.5) ++rounded;
  if (fraction <= -0.5) --rounded;
  return rounded;
}

// Gain, clip to [-1, 1], scale, round halves away from zero. False when the
// product is not finite.
bool pcm16_from_sample(float sample, double gain, std::int16_t* code) {
  const double d = static_cast<double>(sample) * gain;
  if (!std::isfinite(d)) return false;
  const double v = d > 1.0 ? FULL_SCALE : std::fmax(d, -1.0) * FULL_SCALE;
  *code = static_cast<std::int16_t>(round_half_away(v));
  return true;
}

}  // namespace

int encode_wav(const AudioBuffer& buffer, std::uint8_t** bytes, std::uint64_t* length, double gain) {
  if (buffer.count > WAV_MAX_SAMPLES) return -1;
  const std::uint64_t total = WAV_HEADER_SIZE + 2 * buffer.count;
  MemPtr<std::uint8_t> image(static_cast<std::uint8_t*>(mem_alloc(total)));
  if (!image) return -1;

  write_wav_header(image.get(), buffer.count, buffer.sample_rate);
  std::uint8_t* out = image.get() + WAV_HEADER_SIZE;
  for (std::uint64_t i = 0; i < buffer.count; ++i) {
    std::int16_t code = 0;
    if (!pcm16_from_sample(buffer.samples[i], gain, &code)) return -1;
    write_le16(out + 2 * i, static_cast<std::uint16_t>(code));
  }
  *bytes = image.release();
  *length = total;
  return 0;
}

}  // namespace kdsp
