// Channel filter design of the FM chain: the stated reference values and the
// magnitude response they promise.
#include "dsp/channel_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "base/numbers.h"
#include "dsp/detail.h"

namespace kdsp {

namespace {

struct DesignedFilter {
  double taps[CHANNEL_FILTER_TAPS];
  double raw_sum;
  DesignedFilter() { raw_sum = design_channel_filter(taps); }

  // Gain in dB at `f_hz` for 240 000 samples per second (zero-phase form).
  double gain_db(double f_hz) const {
    const double w = TWO_PI * f_hz / 240000.0;
    std::complex<double> h = 0.0;
    for (std::uint32_t i = 0; i < CHANNEL_FILTER_TAPS; ++i) {
      const double offset = static_cast<double>(i) - static_cast<double>(CHANNEL_FILTER_CENTRE);
      h += taps[i] * std::polar(1.0, -w * offset);
    }
    return 20.0 * std::log10(std::abs(h));
  }
};

TEST(BesselI0, MatchesReferenceValueAndStopsAfterTermNineteen) {
  std::uint32_t last_k = 0;
  EXPECT_NEAR(detail::bessel_i0(6.5, &last_k), 106.292858244, 1e-9);
  EXPECT_EQ(last_k, 19u);
  EXPECT_EQ(detail::bessel_i0(0.0, &last_k), 1.0);  // I0(0) = 1; the first term is already 0
  EXPECT_EQ(last_k, 1u);
  EXPECT_NEAR(detail::bessel_i0(1.0), 1.2660658777520082, 1e-15);
}

TEST(ChannelFilterDesign, MatchesTheStatedReferenceTaps) {
  const DesignedFilter filter;
  EXPECT_NEAR(filter.raw_sum, 1.0001757625, 1e-10);
  EXPECT_NEAR(filter.taps[CHANNEL_FILTER_CENTRE], 0.1124802302, 1e-10);
  EXPECT_NEAR(filter.taps[0], -1.2794040e-05, 1e-12);
  EXPECT_LT(std::fabs(filter.taps[1]), 1e-18);  // x = -80 is a zero of the ideal response
}

TEST(ChannelFilterDesign, IsSymmetricWithUnitGainAtZeroHertz) {
  const DesignedFilter filter;
  double sum = 0.0;
  for (std::uint32_t i = 0; i < CHANNEL_FILTER_TAPS; ++i) {
    EXPECT_EQ(filter.taps[i], filter.taps[CHANNEL_FILTER_TAPS - 1 - i]) << i;  // linear phase
    sum += filter.taps[i];
  }
  EXPECT_NEAR(sum, 1.0, 1e-15);
}

TEST(ChannelFilterDesign, HasTheStatedMagnitudeResponse) {
  const DesignedFilter filter;
  double passband_ripple = 0.0;
  for (double f = 0.0; f <= 10000.0; f += 10.0)
    passband_ripple = std::fmax(passband_ripple, std::fabs(filter.gain_db(f)));
  EXPECT_LE(passband_ripple, 0.005);
  EXPECT_NEAR(filter.gain_db(13500.0), -6.0, 0.05);
  for (double f = 18000.0; f <= 120000.0; f += 10.0) {
    ASSERT_LE(filter.gain_db(f), f >= 24000.0 ? -77.0 : -71.0) << f << " Hz";
  }
}

}  // namespace

}  // namespace kdsp
