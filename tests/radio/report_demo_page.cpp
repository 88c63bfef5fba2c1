// Writes a report page as kdsp-rx --report leaves it, for the browser test
// and the picture in the documentation: index.html, a short tone as the WAV
// of every transmission, and expected.json listing the transmissions as they
// were given, for the test to check the page against.
//
//   report_demo_page DIR COUNT [--no-centre] [--no-waterfall]
//
// With up to a dozen transmissions the band is a fixed scene with hostile
// labels and awkward file names; with more, COUNT transmissions are spread
// over sixteen channels and an hour.
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "base/output_file.h"
#include "radio/io/png_encode.h"
#include "radio/report/report_page.h"
#include "radio/meta/tone_table.h"
#include "tools/recording_synth.h"

namespace kdsp {
namespace {

constexpr double CENTRE_HZ = 145500000.0;
constexpr double SAMPLE_RATE = 240000.0;
constexpr double CHANNEL_WIDTH_HZ = 12500.0;
constexpr double WAV_LENGTH_S = 0.4;
constexpr std::size_t DISTINCT_TONES = 12;
constexpr int WATERFALL_WIDTH = 720;
constexpr int WATERFALL_HEIGHT = 540;
constexpr const char* RECORDING_START_UTC = "2026-12-09T05:21:04Z";

ReportTransmission entry(double offset_hz, double start_s, double length_s, double level_db, std::string file) {
  ReportTransmission t;
  t.offset_hz = offset_hz;
  t.frequency_hz = CENTRE_HZ + offset_hz;
  t.start_s = start_s;
  t.end_s = start_s + length_s;
  t.level_db = level_db;
  t.file = std::move(file);
  return t;
}

// RECORDING_START_UTC plus `s` seconds, to the millisecond (within the day).
std::string utc_after_start(double s) {
  const long ms = std::lround(s * 1000.0) + ((5 * 60 + 21) * 60 + 4) * 1000L;
  char text[40];
  std::snprintf(text, sizeof text, "2026-12-09T%02ld:%02ld:%02ld.%03ldZ", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                ms % 1000);
  return text;
}

// A dozen transmissions on five channels: tones of both kinds, labels that
// would break a careless page, and file names that need escaping in a URL.
std::vector<ReportTransmission> small_scene(std::size_t count) {
  std::vector<ReportTransmission> all = {
      entry(-87500.0, 1.2, 3.4, -18.2, "tx01.wav"),  entry(12500.0, 2.765, 2.1, -31.5, "tx02 #1 +50%.wav"),
      entry(75000.0, 6.0, 5.5, -12.0, "tx03.wav"),   entry(-37500.0, 9.3, 1.8, -40.1, "tx04.wav"),
      entry(12500.0, 13.0, 4.2, -25.3, "tx05.wav"),  entry(100000.0, 17.4, 2.9, -22.8, "tx06.wav"),
      entry(-87500.0, 21.0, 6.1, -15.4, "tx07.wav"), entry(75000.0, 27.5, 1.2, -35.0, "tx08.wav"),
      entry(-37500.0, 30.2, 3.3, -28.6, "tx09.wav"), entry(12500.0, 35.8, 2.4, -19.9, "tx10.wav"),
      entry(100000.0, 41.1, 4.8, -33.3, "tx11.wav"), entry(-87500.0, 48.6, 3.0, -21.7, "tx12.wav"),
  };
  const char* labels[] = {"Repeater \"North\"",      "</script><script>window.pwned = 1</script>",
                          "Ambulance & <b>fire</b>", nullptr,
                          "O'Neill's 'net'",         "Ünïcödé ☎ line\u2028break"};
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (labels[i % 6] != nullptr) all[i].label = labels[i % 6];
    if (i % 4 == 0) all[i].ctcss_hz = 100.0;
    if (i % 4 == 1) all[i].ctcss_hz = 123.0;
    if (i % 4 == 2) {
      all[i].dcs = "023N";
      all[i].dcs_alias = "047I";
      all[i].tone_confidence = 0.91;
    }
  }
  all.resize(std::min(count, all.size()));
  return all;
}

// `count` transmissions over sixteen channels and an hour, in order of start.
std::vector<ReportTransmission> busy_scene(std::size_t count, double duration_s) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<ReportTransmission> all;
  for (std::size_t i = 0; i < count; ++i) {
    const double start_s = duration_s * static_cast<double>(i) / static_cast<double>(count);
    const int channel = static_cast<int>(unit(random) * 16.0);
    char file[32];
    std::snprintf(file, sizeof file, "tx%05zu.wav", i + 1);
    all.push_back(
        entry(CHANNEL_WIDTH_HZ * (channel - 8), start_s, 1.0 + 9.0 * unit(random), -45.0 + 35.0 * unit(random), file));
    if (channel % 3 == 0) all.back().ctcss_hz = CTCSS_TONES_HZ[static_cast<std::size_t>(channel) * 2];
    if (channel % 3 == 1) all.back().label = "Channel " + std::to_string(channel);
  }
  return all;
}

ReportPage make_scene(std::size_t count, bool with_centre) {
  ReportPage page;
  const bool small = count <= 12;
  page.recording_name = small ? "2m-band <evening> & \"net\".cf32" : "2m-band-hour.cf32";
  page.description = "Demonstration band: synthetic transmissions on a synthetic waterfall.";
  page.sample_rate = SAMPLE_RATE;
  page.duration_s = small ? 60.0 : 3600.0;
  page.channel_width_hz = CHANNEL_WIDTH_HZ;
  page.transmissions = small ? small_scene(count) : busy_scene(count, page.duration_s);
  if (with_centre) {
    page.centre_hz = CENTRE_HZ;
    page.start_time = RECORDING_START_UTC;
    for (ReportTransmission& t : page.transmissions) {
      t.start_utc = utc_after_start(t.start_s);
      t.end_utc = utc_after_start(t.end_s);
    }
  } else {
    for (ReportTransmission& t : page.transmissions) t.frequency_hz.reset();
    if (!page.transmissions.empty()) page.transmissions[0].file = "+25000Hz_1.200s.wav";
  }
  return page;
}

// Blue-black noise with each transmission's channel lit while it lasts.
RgbImage waterfall_picture(const ReportPage& page) {
  RgbImage image{WATERFALL_WIDTH, WATERFALL_HEIGHT, {}};
  image.rgb.resize(static_cast<std::size_t>(WATERFALL_WIDTH) * WATERFALL_HEIGHT * 3);
  std::mt19937 random(3);
  std::uniform_int_distribution<int> noise(0, 2);
  std::vector<double> power(image.rgb.size() / 3);
  for (double& p : power) p = noise(random) / 50.0;
  for (const ReportTransmission& t : page.transmissions) {
    const double x_per_hz = WATERFALL_WIDTH / SAMPLE_RATE;
    const int x0 = static_cast<int>((t.offset_hz - 0.3 * CHANNEL_WIDTH_HZ + SAMPLE_RATE / 2) * x_per_hz);
    const int x1 = static_cast<int>((t.offset_hz + 0.3 * CHANNEL_WIDTH_HZ + SAMPLE_RATE / 2) * x_per_hz);
    const int y0 = static_cast<int>(t.start_s / page.duration_s * WATERFALL_HEIGHT);
    const int y1 = std::max(y0 + 1, static_cast<int>(t.end_s / page.duration_s * WATERFALL_HEIGHT));
    const double strength = std::clamp((t.level_db + 50.0) / 45.0, 0.2, 1.0);
    for (int y = std::max(0, y0); y < std::min(WATERFALL_HEIGHT, y1); ++y) {
      for (int x = std::max(0, x0); x < std::min(WATERFALL_WIDTH, x1); ++x) {
        const double across = std::fabs((x - (x0 + x1) / 2.0) / ((x1 - x0) / 2.0 + 1.0));
        power[static_cast<std::size_t>(y) * WATERFALL_WIDTH + x] += strength * (1.0 - across * across);
      }
    }
  }
  for (std::size_t i = 0; i < power.size(); ++i) {
    const double p = std::min(1.0, power[i]);
    image.rgb[i * 3] = static_cast<std::uint8_t>(255.0 * std::clamp(2.0 * p - 1.0, 0.0, 1.0));
    image.rgb[i * 3 + 1] = static_cast<std::uint8_t>(255.0 * std::clamp(1.6 * p - 0.2, 0.0, 1.0));
    image.rgb[i * 3 + 2] = static_cast<std::uint8_t>(40.0 + 180.0 * std::clamp(2.0 * p, 0.0, 1.0));
  }
  return image;
}

struct SndfileClose {
  void operator()(SNDFILE* file) const { sf_close(file); }
};

int write_tone_wav(const std::string& path, double tone_hz) {
  const ModulatingAudio tone = tone_audio(tone_hz, 0.3, WAV_LENGTH_S);
  SF_INFO info{};
  info.samplerate = static_cast<int>(tone.sample_rate);
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  std::unique_ptr<SNDFILE, SndfileClose> file(sf_open(path.c_str(), SFM_WRITE, &info));
  if (!file) return -1;
  const auto count = static_cast<sf_count_t>(tone.samples.size());
  return sf_write_float(file.get(), tone.samples.data(), count) == count ? 0 : -1;
}

// A tone of its own pitch for each of the first dozen transmissions; the
// others share theirs through hard links, so that a page of thousands costs
// a dozen files' space.
int write_audio(const std::string& dir, const std::vector<ReportTransmission>& transmissions) {
  for (std::size_t i = 0; i < transmissions.size(); ++i) {
    const std::string path = dir + "/" + transmissions[i].file;
    const int written = i < DISTINCT_TONES
                            ? write_tone_wav(path, 330.0 + 55.0 * static_cast<double>(i))
                            : ::link((dir + "/" + transmissions[i % DISTINCT_TONES].file).c_str(), path.c_str());
    if (written != 0) {
      std::fprintf(stderr, "report_demo_page: cannot write %s in %s\n", transmissions[i].file.c_str(), dir.c_str());
      return -1;
    }
  }
  return 0;
}

nlohmann::json optional_json(const std::optional<double>& value) { return value ? nlohmann::json(*value) : nullptr; }
nlohmann::json optional_json(const std::optional<std::string>& value) {
  return value ? nlohmann::json(*value) : nullptr;
}

std::string expected_json(const ReportPage& page) {
  nlohmann::json list = nlohmann::json::array();
  for (const ReportTransmission& t : page.transmissions) {
    list.push_back({{"offset_hz", t.offset_hz},
                    {"frequency_hz", optional_json(t.frequency_hz)},
                    {"start_s", t.start_s},
                    {"end_s", t.end_s},
                    {"level_db", t.level_db},
                    {"file", t.file},
                    {"start_utc", optional_json(t.start_utc)},
                    {"label", optional_json(t.label)},
                    {"ctcss_hz", optional_json(t.ctcss_hz)},
                    {"dcs", optional_json(t.dcs)}});
  }
  return list.dump(1);
}

int write_text_file(const std::string& path, const std::string& text) {
  return write_output(path.c_str(), reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

int write_demo(const std::string& dir, std::size_t count, bool with_centre, bool with_waterfall) {
  ReportPage page = make_scene(count, with_centre);
  Failure error;
  if (with_waterfall) {
    Failure failure;
    if (encode_png(waterfall_picture(page), &page.waterfall.png, &failure) != 0) {
      std::fprintf(stderr, "report_demo_page: %s\n", failure.cause.c_str());
      return -1;
    }
    page.waterfall.low_offset_hz = -SAMPLE_RATE / 2;
    page.waterfall.high_offset_hz = SAMPLE_RATE / 2;
    page.waterfall.start_s = 0.0;
    page.waterfall.end_s = page.duration_s;
  }
  if (write_audio(dir, page.transmissions) != 0) return -1;
  std::string html;
  if (render_report_page(page, &html, &error) != 0) {
    std::fprintf(stderr, "report_demo_page: %s\n", failure_text(error).c_str());
    return -1;
  }
  if (write_text_file(dir + "/" + REPORT_PAGE_NAME, html) != 0 ||
      write_text_file(dir + "/expected.json", expected_json(page)) != 0) {
    std::fprintf(stderr, "report_demo_page: cannot write the page in %s\n", dir.c_str());
    return -1;
  }
  return 0;
}

}  // namespace
}  // namespace kdsp

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: report_demo_page DIR COUNT [--no-centre] [--no-waterfall]\n");
    return 2;
  }
  bool with_centre = true, with_waterfall = true;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-centre") == 0) {
      with_centre = false;
    } else if (std::strcmp(argv[i], "--no-waterfall") == 0) {
      with_waterfall = false;
    } else {
      std::fprintf(stderr, "report_demo_page: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  const auto count = static_cast<std::size_t>(std::strtoul(argv[2], nullptr, 10));
  return kdsp::write_demo(argv[1], count, with_centre, with_waterfall) == 0 ? 0 : 1;
}
