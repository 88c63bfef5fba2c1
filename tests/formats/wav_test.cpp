#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "base/memory.h"
#include "formats/wav.h"

namespace kdsp {

namespace {

struct Encoded {
  int result;
  std::vector<std::uint8_t> bytes;
};

Encoded encode(std::vector<float> samples, double gain = 0.72, std::uint32_t rate = 48000) {
  const AudioBuffer buffer{samples.data(), samples.size(), rate};
  std::uint8_t* bytes = nullptr;
  std::uint64_t length = 0;
  Encoded e{encode_wav(buffer, &bytes, &length, gain), {}};
  if (bytes != nullptr) e.bytes.assign(bytes, bytes + length);
  mem_release(bytes);
  return e;
}

std::int16_t sample_at(const Encoded& e, std::size_t i) {
  std::int16_t v = 0;
  std::memcpy(&v, e.bytes.data() + 44 + 2 * i, 2);
  return v;
}

std::uint32_t u32_at(const Encoded& e, std::size_t offset) {
  std::uint32_t v = 0;
  std::memcpy(&v, e.bytes.data() + offset, 4);
  return v;
}

}  // namespace

TEST(WavEncoder, ThreeSampleImageIsByteExact) {
  const std::vector<std::uint8_t> expected = {
      0x52, 0x49, 0x46, 0x46, 0x2A, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74, 0x20, 0x10,
      0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x80, 0xBB, 0x00, 0x00, 0x00, 0x77, 0x01, 0x00, 0x02, 0x00,
      0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x06, 0x00, 0x00, 0x00, 0x14, 0x2E, 0x01, 0x80, 0x28, 0x5C};
  const Encoded e = encode({0.5f, -2.0f, 1.0f});
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.bytes, expected);
}

TEST(WavEncoder, EmptyBufferIsAHeaderAlone) {
  const Encoded e = encode({}, 0.72, 44100);
  ASSERT_EQ(e.result, 0);
  ASSERT_EQ(e.bytes.size(), 44u);
  EXPECT_EQ(u32_at(e, 4), 36u);
  EXPECT_EQ(u32_at(e, 24), 44100u);
  EXPECT_EQ(u32_at(e, 28), 88200u);
  EXPECT_EQ(u32_at(e, 40), 0u);
}

TEST(WavEncoder, ClipsSymmetricallyAndRoundsHalvesAwayFromZero) {
  // With gain 1 the product is the sample itself.
  const Encoded e = encode({1.0f, -1.0f, 1.0000001f, 1.0e30f, -1.0e30f, -1.5f, 0.0f, -0.0f}, 1.0);
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(sample_at(e, 0), 32767);
  EXPECT_EQ(sample_at(e, 1), -32767);
  EXPECT_EQ(sample_at(e, 2), 32767);
  EXPECT_EQ(sample_at(e, 3), 32767);
  EXPECT_EQ(sample_at(e, 4), -32767);  // never -32768
  EXPECT_EQ(sample_at(e, 5), -32767);
  EXPECT_EQ(sample_at(e, 6), 0);
  EXPECT_EQ(sample_at(e, 7), 0);
}

TEST(WavEncoder, ExactHalvesRoundAwayFromZero) {
  // gain chosen so that d * 32767 is exactly k + 0.5: sample 1, gain (k+0.5)/32767.
  for (double half : {0.5, 1.5, 2.5, 100.5}) {
    const Encoded up = encode({1.0f}, half / 32767.0);
    const Encoded down = encode({-1.0f}, half / 32767.0);
    ASSERT_EQ((half / 32767.0) * 32767.0, half);  // the scaled value is an exact half
    EXPECT_EQ(sample_at(up, 0), static_cast<std::int16_t>(half + 0.5));
    EXPECT_EQ(sample_at(down, 0), -static_cast<std::int16_t>(half + 0.5));
  }
}

TEST(WavEncoder, RoundsLikeLroundAtAndBesideEveryKindOfHalf) {
  // Sample 1 and gain g give the product g; the code must be lround of the
  // clipped, scaled product, also one ulp either side of halves and for the
  // largest double below 0.5.
  std::vector<double> gains;
  for (double half : {0.5, 1.5, 2.5, 100.5, 16383.5, 32766.5}) {
    for (double sign : {1.0, -1.0}) {
      const double g = sign * half / 32767.0;
      gains.push_back(g);
      gains.push_back(std::nextafter(g, 0.0));
      gains.push_back(std::nextafter(g, 2.0 * g));
    }
  }
  for (double g : {0.49999999999999994 / 32767.0, -0.49999999999999994 / 32767.0, 1e-300, 0.999999, -0.999999}) {
    gains.push_back(g);
  }
  for (double g : gains) {
    const Encoded e = encode({1.0f}, g);
    ASSERT_EQ(e.result, 0);
    const double v = g > 1.0 ? 32767.0 : std::fmax(g, -1.0) * 32767.0;
    EXPECT_EQ(sample_at(e, 0), static_cast<std::int16_t>(std::lround(v))) << "gain " << g;
  }
}

TEST(WavEncoder, NonFiniteProductFailsWithNoImage) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const std::vector<float>& samples :
       {std::vector<float>{0.1f, nan}, std::vector<float>{inf}, std::vector<float>{0.0f, 0.0f, -inf}}) {
    const Encoded e = encode(samples);
    EXPECT_EQ(e.result, -1);
    EXPECT_TRUE(e.bytes.empty());
  }
  // A finite sample whose product overflows.
  EXPECT_EQ(encode({std::numeric_limits<float>::max()}, 1e300).result, -1);
}

TEST(WavEncoder, RefusesTooManySamplesAndSurvivesNoMemory) {
  float one = 0.0f;
  const AudioBuffer huge{&one, WAV_MAX_SAMPLES + 1, 48000};
  std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(8);
  std::uint64_t length = 5;
  EXPECT_EQ(encode_wav(huge, &bytes, &length, 0.72), -1);
  const AudioBuffer small{&one, 1, 48000};
  mem_fail_request(1);
  EXPECT_EQ(encode_wav(small, &bytes, &length, 0.72), -1);
  mem_fail_request(0);
  EXPECT_EQ(bytes, reinterpret_cast<std::uint8_t*>(8));
  EXPECT_EQ(length, 5u);
}

}  // namespace kdsp
