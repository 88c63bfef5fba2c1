// The tone decoder on transmissions as radios send them: real speech and a
// tone at 15 % of the peak deviation, FM at 2.5 and 5 kHz peak deviation, at
// random offsets, lengths and codes, in noise; and the captures kdsp-rx
// hands it, with the empty channel either side, a louder neighbour, any
// block sizes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <random>
#include <string>

#include "radio/meta/dcs_words.h"
#include "radio/tone_transmission.h"

namespace kdsp {

namespace {

constexpr double ASSERTED_CNR_DB = 15.0;
constexpr double PRINTED_CNR_DB = 10.0;
constexpr std::size_t DEFAULT_TRIALS = 100;

// KDSP_TONE_TRIALS lowers the count where every sample costs fifty times
// as much (valgrind, the sanitizers).
std::size_t trial_count() {
  const char* text = std::getenv("KDSP_TONE_TRIALS");
  const long count = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
  return count > 0 ? static_cast<std::size_t>(count) : DEFAULT_TRIALS;
}

const std::vector<ModulatingAudio>& speech_clips() {
  static const std::vector<ModulatingAudio> clips = [] {
    std::vector<ModulatingAudio> loaded;
    for (const char* name : {"hts1a.raw", "hts2a.raw", "ve9qrp_10s.raw", "cq_ref.raw", "kristoff.raw", "vk5qi.raw",
                             "mmt1.raw", "morig.raw", "forig.raw", "big_dog.raw", "g3plx.raw", "hts.raw"}) {
      ModulatingAudio clip = speech_audio(name);
      if (!clip.samples.empty()) loaded.push_back(std::move(clip));
    }
    return loaded;
  }();
  return clips;
}

const NoiseTable& noise() {
  static const NoiseTable table = make_noise_table(0x6e6f697365);
  return table;
}

Tone random_tone(std::mt19937_64& random, ToneKind kind) {
  if (kind == ToneKind::CTCSS) return Tone{kind, CTCSS_TONES_HZ[random() % CTCSS_TONES_HZ.size()], 0, false};
  if (kind == ToneKind::DCS) return Tone{kind, 0.0, DCS_CODES[random() % DCS_CODES.size()], (random() & 1) != 0};
  return Tone{};
}

// Transmission `index` of a kind: the same whatever ran before it.
TransmissionPlan random_plan(ToneKind kind, std::size_t index) {
  std::mt19937_64 random(0x746f6e65 + 1000 * static_cast<std::uint64_t>(kind) + index);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  TransmissionPlan plan;
  plan.tone = random_tone(random, kind);
  const ModulatingAudio& clip = speech_clips()[random() % speech_clips().size()];
  plan.speech = &clip;
  plan.speech_start_s = uniform(random) * static_cast<double>(clip.samples.size()) / clip.sample_rate;
  plan.offset_hz = std::round((2.0 * uniform(random) - 1.0) * 95000.0);
  plan.deviation_hz = index % 2 == 0 ? 2500.0 : 5000.0;
  plan.duration_s = 1.0 + 3.0 * uniform(random);
  return plan;
}

struct Tally {
  std::size_t count = 0;
  std::size_t right = 0;    // the tone sent (none for none)
  std::size_t toneful = 0;  // some tone reported
};

struct KindResult {
  Tally asserted;
  Tally printed;
};

void count_reading(const ToneReading& reading, const Tone& sent, Tally* tally) {
  ++tally->count;
  if (reads_as(reading, sent)) ++tally->right;
  if (reading.tone.kind != ToneKind::NONE) ++tally->toneful;
}

KindResult run_trials(ToneKind kind, std::size_t trials) {
  KindResult result;
  for (std::size_t i = 0; i < trials; ++i) {
    const TransmissionPlan plan = random_plan(kind, i);
    const auto clean = modulate_transmission(plan);
    const std::size_t noise_start = i * 7919 * 97;
    count_reading(decode_in_noise(clean, plan.offset_hz, ASSERTED_CNR_DB, noise(), noise_start), plan.tone,
                  &result.asserted);
    count_reading(decode_in_noise(clean, plan.offset_hz, PRINTED_CNR_DB, noise(), noise_start), plan.tone,
                  &result.printed);
  }
  return result;
}

// The misses `percent` allows among `count` (at least the floor of it).
std::size_t allowed(std::size_t count, std::size_t percent) { return count * percent / 100; }

void report(const char* kind, const KindResult& result) {
  for (const auto& [cnr, tally] : {std::pair{ASSERTED_CNR_DB, result.asserted}, {PRINTED_CNR_DB, result.printed}}) {
    std::printf("tone accuracy %s at %.0f dB: %zu of %zu right, a tone reported on %zu\n", kind, cnr, tally.right,
                tally.count, tally.toneful);
    const std::string key = std::string(kind) + "_" + std::to_string(static_cast<int>(cnr)) + "db";
    testing::Test::RecordProperty(key + "_right", std::to_string(tally.right));
    testing::Test::RecordProperty(key + "_toneful", std::to_string(tally.toneful));
  }
}

}  // namespace

TEST(ToneAccuracy, RightToneOnSpeechAtFifteenDecibels) {
  if (speech_clips().empty()) GTEST_SKIP() << "codec2-examples is not installed";
  const std::size_t trials = trial_count();
  noise();
  // Each kind on a thread of its own: every transmission is fixed by its
  // kind and number, whatever runs beside it.
  auto ctcss_run = std::async(std::launch::async, run_trials, ToneKind::CTCSS, trials);
  auto dcs_run = std::async(std::launch::async, run_trials, ToneKind::DCS, trials);
  const KindResult none = run_trials(ToneKind::NONE, trials);
  const KindResult ctcss = ctcss_run.get();
  const KindResult dcs = dcs_run.get();
  report("ctcss", ctcss);
  report("dcs", dcs);
  report("none", none);
  EXPECT_GE(ctcss.asserted.right, trials - allowed(trials, 1));
  EXPECT_GE(dcs.asserted.right, trials - allowed(trials, 2));
  EXPECT_LE(none.asserted.toneful, allowed(trials, 1));
}

namespace {

TransmissionPlan speech_with(const Tone& tone, double offset_hz, double duration_s) {
  TransmissionPlan plan;
  plan.tone = tone;
  plan.speech = speech_clips().empty() ? nullptr : &speech_clips().front();
  plan.offset_hz = offset_hz;
  plan.duration_s = duration_s;
  return plan;
}

const Tone CTCSS_100{ToneKind::CTCSS, 100.0, 0, false};
const Tone DCS_023I{ToneKind::DCS, 0.0, 23, true};

}  // namespace

TEST(ToneCapture, TheEmptyChannelAroundATransmissionIsIgnored) {
  // kdsp-rx --all hands a transmission on with a fifth of a second of the
  // empty channel either side, where the discriminator reads loud noise.
  for (const Tone& tone : {CTCSS_100, DCS_023I}) {
    TransmissionPlan plan = speech_with(tone, -37500.0, 1.0);
    plan.roll_s = 0.2;
    const ToneReading reading = decode_capture(add_noise(modulate_transmission(plan), 12.0, noise(), 0), -37500.0);
    EXPECT_TRUE(reads_as(reading, tone)) << tone_name(tone) << " read as " << tone_name(reading.tone);
    EXPECT_GT(reading.confidence, 0.5) << tone_name(tone);
  }
}

TEST(ToneCapture, AnEmptyChannelOrABareCarrierHasNoTone) {
  TransmissionPlan carrier = speech_with(Tone{}, 12500.0, 2.0);
  carrier.speech = nullptr;
  const std::vector<std::complex<float>> silence(480000);
  for (const auto& capture :
       {add_noise(silence, 20.0, noise(), 0), add_noise(modulate_transmission(carrier), 20.0, noise(), 0)}) {
    const ToneReading reading = decode_capture(capture, 12500.0);
    EXPECT_EQ(reading.tone.kind, ToneKind::NONE);
    EXPECT_GE(reading.confidence, 0.5);
  }
}

TEST(ToneCapture, BlocksOfAnySizeGiveTheSameReading) {
  const TransmissionPlan plan = speech_with(DCS_023I, 60000.0, 2.5);
  const auto capture = add_noise(modulate_transmission(plan), 15.0, noise(), 0);
  const ToneReading whole = decode_capture(capture, plan.offset_hz, capture.size());
  for (std::size_t block : {1u, 7u, 4801u, 100000u}) {
    const ToneReading pieces = decode_capture(capture, plan.offset_hz, block);
    EXPECT_EQ(pieces.tone, whole.tone) << block;
    EXPECT_EQ(pieces.confidence, whole.confidence) << block;
    EXPECT_EQ(pieces.dcs_correlation, whole.dcs_correlation) << block;
  }
  EXPECT_TRUE(reads_as(whole, DCS_023I));
  EXPECT_EQ(tone_name(whole.tone), "D047N");
  EXPECT_EQ(tone_name(whole.dcs_alias), "D023I");
}

TEST(ToneCapture, ALouderNeighbourDoesNotLendItsTone) {
  // The wanted channel with 100 Hz, the next one up on a 25 kHz raster
  // 10 dB louder with 151.4 Hz, both keyed throughout.
  const TransmissionPlan wanted = speech_with(CTCSS_100, 25000.0, 2.0);
  TransmissionPlan neighbour = speech_with(Tone{ToneKind::CTCSS, 151.4, 0, false}, 50000.0, 2.0);
  neighbour.speech_start_s = 1.0;
  auto capture = modulate_transmission(wanted);
  const auto loud = modulate_transmission(neighbour);
  for (std::size_t n = 0; n < capture.size(); ++n) capture[n] += static_cast<float>(std::sqrt(10.0)) * loud[n];
  const ToneReading reading = decode_capture(add_noise(capture, 15.0, noise(), 0), 25000.0);
  EXPECT_TRUE(reads_as(reading, CTCSS_100)) << tone_name(reading.tone);
}

TEST(ToneCapture, ATransmitterWhoseClockIsThreeThousandthsOffIsRead) {
  // The top CTCSS tone lands 0.76 Hz off; a DCS word slips a bit against
  // the nominal rate every 2.5 s.
  for (const Tone& tone : {Tone{ToneKind::CTCSS, 254.1, 0, false}, DCS_023I}) {
    for (double error : {0.003, -0.003}) {
      TransmissionPlan plan = speech_with(tone, -80000.0, 4.0);
      plan.clock_error = error;
      const ToneReading reading = decode_capture(add_noise(modulate_transmission(plan), 15.0, noise(), 0), -80000.0);
      EXPECT_TRUE(reads_as(reading, tone)) << tone_name(tone) << " " << error << ": " << tone_name(reading.tone);
    }
  }
}

TEST(ToneCapture, ChannelOutsideTheCoresReachIsRefused) {
  ToneDecoder decoder;
  Failure failure;
  EXPECT_EQ(create_tone_decoder(100001.0, &decoder, &failure), -1);
  EXPECT_FALSE(decoder);
  EXPECT_FALSE(failure.cause.empty());
}

}  // namespace kdsp
