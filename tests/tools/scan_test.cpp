// kdsp-scan on captures with known content: channels found where they were
// put and measured as they were made, nothing found in noise alone, and a
// spectrogram that shows them.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <random>

#include "tools/tool_process.h"

namespace kdsp {

namespace {

ToolRun synth(std::vector<std::string> args) { return run_tool(tool_path("kdsp-synth"), args); }

ToolRun scan(std::vector<std::string> args) { return run_tool(tool_path("kdsp-scan"), args); }

std::vector<std::complex<float>> gaussian_noise(std::size_t pair_count, unsigned seed) {
  std::mt19937 engine(seed);
  std::normal_distribution<float> normal(0.0f, 0.01f);
  std::vector<std::complex<float>> pairs(pair_count);
  for (auto& pair : pairs) pair = {normal(engine), normal(engine)};
  return pairs;
}

struct ChannelCase {
  const char* first_audio;
  int first_offset_hz;
  const char* second_audio;
  int second_offset_hz;
  const char* second_level_db;
  const char* cnr_db;
};

// Mean brightness of one picture column over the plot rows.
double column_brightness(const std::vector<std::uint8_t>& rgb, int width, int height, int top, int column) {
  double sum = 0.0;
  for (int y = top; y < height; ++y) {
    const std::uint8_t* pixel = rgb.data() + 3 * (static_cast<std::size_t>(y) * width + column);
    sum += pixel[0] + pixel[1] + pixel[2];
  }
  return sum / (height - top);
}

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

// The PNG at `path` decoded by libpng; width 0 when it cannot be.
Picture read_png(const std::string& path) {
  Picture picture;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return picture;
  image.format = PNG_FORMAT_RGB;
  picture.rgb.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) == 0) return picture;
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  return picture;
}

// Pixels that are not the black background in rows [top, bottom) and
// columns [left, right).
int lit_pixels(const Picture& picture, int top, int bottom, int left, int right) {
  int lit = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      const std::uint8_t* pixel = picture.rgb.data() + 3 * (static_cast<std::size_t>(y) * picture.width + x);
      lit += (pixel[0] | pixel[1] | pixel[2]) != 0 ? 1 : 0;
    }
  }
  return lit;
}

// The picture's frame: a title strip, the frequency scale and channel marks
// above the plot, seconds at its left, and the colour bar below it.
constexpr int LEFT = 56;
constexpr int TOP = 78;
constexpr int PLOT_WIDTH = 1024;
constexpr int WIDTH = LEFT + PLOT_WIDTH + 16;
constexpr int BOTTOM = 40;
constexpr int TITLE_BOTTOM = 22;
constexpr int SCALE_TOP = 24;
constexpr int SCALE_BOTTOM = 44;

}  // namespace

TEST(ScanChannels, FindsEveryChannelNearItsOffset) {
  const ChannelCase cases[] = {
      {"voice", 25000, "tone", -40000, "0", "25"},
      {"two-tone", -100000, "sweep", 100000, "-6", "20"},
      {"tone:400", 0, "voice", 60000, "-10", "30"},
      {"sweep", -12000, "two-tone", 15000, "0", "30"},
  };
  for (const ChannelCase& c : cases) {
    ScratchDir dir;
    ToolRun made = synth({"--audio", c.first_audio, "--offset", std::to_string(c.first_offset_hz), "--second-audio",
                          c.second_audio, "--second-offset", std::to_string(c.second_offset_hz), "--second-level",
                          c.second_level_db, "--cnr", c.cnr_db, "--duration", "0.5", dir.file("c.iq")});
    ASSERT_EQ(made.status, 0) << made.err;
    ToolRun run = scan({dir.file("c.iq")});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<ScanLine> found = parse_scan_report(run.out);
    ASSERT_EQ(found.size(), 2u) << run.out;
    for (int expected_hz : {c.first_offset_hz, c.second_offset_hz}) {
      bool near = std::any_of(found.begin(), found.end(),
                              [&](const ScanLine& line) { return std::fabs(line.offset_hz - expected_hz) < 300.0; });
      EXPECT_TRUE(near) << "no channel near " << expected_hz << "\n" << run.out;
    }
  }
}

TEST(ScanChannels, MeasuresTheCarrierToNoiseRatioItWasMadeWith) {
  for (const char* cnr : {"12", "20", "35"}) {
    ScratchDir dir;
    ASSERT_EQ(
        synth({"--audio", "tone", "--offset", "-30000", "--cnr", cnr, "--duration", "0.5", dir.file("c.iq")}).status,
        0);
    ToolRun run = scan({dir.file("c.iq")});
    std::vector<ScanLine> found = parse_scan_report(run.out);
    ASSERT_EQ(found.size(), 1u) << run.out;
    EXPECT_NEAR(found[0].cnr_db, std::stod(cnr), 1.0) << run.out;
    // A 1 kHz tone at 5 kHz deviation holds 99 % of its power within about
    // 2 * (5 + 1) kHz.
    EXPECT_GT(found[0].width_hz, 9000.0);
    EXPECT_LT(found[0].width_hz, 15000.0);
  }
}

TEST(ScanChannels, StrongestChannelIsListedFirst) {
  ScratchDir dir;
  ASSERT_EQ(synth({"--offset", "-50000", "--second-offset", "50000", "--second-level", "12", "--cnr", "25",
                   "--duration", "0.3", dir.file("c.iq")})
                .status,
            0);
  std::vector<ScanLine> found = parse_scan_report(scan({dir.file("c.iq")}).out);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_NEAR(found[0].offset_hz, 50000.0, 300.0);
  EXPECT_NEAR(found[0].cnr_db - found[1].cnr_db, 12.0, 1.0);
  EXPECT_EQ(parse_scan_report(scan({"--max", "1", dir.file("c.iq")}).out).size(), 1u);
}

TEST(ScanChannels, NoPhantomChannelInPlainNoise) {
  ScratchDir dir;
  // The shortest capture the scan accepts averages the fewest frames and so
  // has the most ragged noise floor.
  for (std::size_t pairs : {std::size_t{16384}, std::size_t{240000}}) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      write_pairs(dir.file("noise.iq"), gaussian_noise(pairs, seed));
      ToolRun run = scan({dir.file("noise.iq")});
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_TRUE(parse_scan_report(run.out).empty()) << pairs << " pairs, seed " << seed << "\n" << run.out;
    }
  }
  // All zeros: no floor to measure against, and nothing found.
  write_pairs(dir.file("zero.iq"), std::vector<std::complex<float>>(20000));
  ToolRun silent = scan({dir.file("zero.iq")});
  EXPECT_EQ(silent.status, 0);
  EXPECT_TRUE(parse_scan_report(silent.out).empty());
}

TEST(ScanInput, RejectsWhatIsNotAUsableCapture) {
  ScratchDir dir;
  std::vector<std::complex<float>> short_capture = gaussian_noise(1000, 1);
  write_pairs(dir.file("short.iq"), short_capture);
  std::vector<std::complex<float>> with_nan = gaussian_noise(20000, 1);
  with_nan.back() = {0.0f, std::nanf("")};
  write_pairs(dir.file("nan.iq"), with_nan);
  write_pairs(dir.file("odd.iq"), gaussian_noise(20000, 1));
  {
    std::FILE* file = std::fopen(dir.file("odd.iq").c_str(), "ab");
    std::fputc(0, file);
    std::fclose(file);
  }
  for (const char* name : {"absent.iq", "short.iq", "nan.iq", "odd.iq"}) {
    ToolRun run = scan({dir.file(name), "--png", dir.file("out.png")});
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_NE(run.err.find(name), std::string::npos) << run.err;
  }
  EXPECT_EQ(scan({}).status, 2);
  EXPECT_EQ(scan({dir.file("short.iq"), dir.file("nan.iq")}).status, 2);
  EXPECT_EQ(scan({"--threshold", "1", dir.file("short.iq")}).status, 2);
  EXPECT_EQ(scan({dir.file("short.iq"), "--png"}).status, 2);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"nan.iq", "odd.iq", "short.iq"}));
}

TEST(ScanSpectrogram, PngIsValidAndShowsTheChannels) {
  ScratchDir dir;
  ASSERT_EQ(
      synth({"--offset", "30000", "--second-offset", "-60000", "--cnr", "25", "--duration", "0.5", dir.file("c.iq")})
          .status,
      0);
  ToolRun run = scan({dir.file("c.iq"), "--png", dir.file("c.png")});
  ASSERT_EQ(run.status, 0) << run.err;

  const Picture picture = read_png(dir.file("c.png"));
  ASSERT_EQ(picture.width, WIDTH);
  // 0.5 s makes 116 half-overlapping frames of 2048 pairs, one row each.
  EXPECT_EQ(picture.height, TOP + 116 + BOTTOM);

  // Frequency runs across: -120 kHz at the plot's left edge, 4.27 pixels per kHz.
  auto column_of = [](double hz) { return LEFT + static_cast<int>((hz + 120000.0) / 240000.0 * 1024.0); };
  double noise = column_brightness(picture.rgb, picture.width, TOP + 116, TOP, column_of(-20000));
  EXPECT_GT(column_brightness(picture.rgb, picture.width, TOP + 116, TOP, column_of(30000)), noise + 100.0);
  EXPECT_GT(column_brightness(picture.rgb, picture.width, TOP + 116, TOP, column_of(-60000)), noise + 100.0);

  ToolRun nowhere = scan({dir.file("c.iq"), "--png", dir.file("missing/c.png")});
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"c.iq", "c.png"}));
}

TEST(ScanSpectrogram, FrameHasTitleScalesAndColourBar) {
  ScratchDir dir;
  ASSERT_EQ(synth({"--offset", "30000", "--cnr", "25", "--duration", "0.5", dir.file("c.iq")}).status, 0);
  ASSERT_EQ(scan({dir.file("c.iq"), "--png", dir.file("offsets.png")}).status, 0);
  ASSERT_EQ(scan({dir.file("c.iq"), "--center", "145.5M", "--png", dir.file("absolute.png")}).status, 0);
  const Picture offsets = read_png(dir.file("offsets.png"));
  const Picture absolute = read_png(dir.file("absolute.png"));
  ASSERT_EQ(offsets.width, WIDTH);
  ASSERT_EQ(absolute.height, offsets.height);
  const int bar_top = offsets.height - BOTTOM + 10;

  for (const Picture* picture : {&offsets, &absolute}) {
    // The title over the plot, the unit left of the frequency labels, seconds
    // left of the plot.
    EXPECT_GT(lit_pixels(*picture, 0, TITLE_BOTTOM, LEFT, WIDTH), 100);
    EXPECT_GT(lit_pixels(*picture, SCALE_TOP, SCALE_BOTTOM, 0, LEFT), 20);
    EXPECT_GT(lit_pixels(*picture, SCALE_TOP, SCALE_BOTTOM, LEFT, WIDTH), 300);
    EXPECT_GT(lit_pixels(*picture, TOP, TOP + 20, 0, LEFT), 20);
    // The colour bar runs from black to its brightest colour, with its scale
    // and caption below and beside it.
    EXPECT_EQ(lit_pixels(*picture, bar_top, bar_top + 10, LEFT, LEFT + 1), 0);
    EXPECT_EQ(lit_pixels(*picture, bar_top, bar_top + 10, LEFT + 200, LEFT + 256), 10 * 56);
    EXPECT_GT(lit_pixels(*picture, bar_top + 13, picture->height, LEFT, LEFT + 256), 50);
    EXPECT_GT(lit_pixels(*picture, bar_top, bar_top + 10, LEFT + 280, WIDTH), 100);
  }
  // The centre changes the title and the frequency labels, not the plot.
  auto strip = [](const Picture& picture, int top, int bottom) {
    return std::vector<std::uint8_t>(picture.rgb.begin() + 3 * top * picture.width,
                                     picture.rgb.begin() + 3 * bottom * picture.width);
  };
  EXPECT_NE(strip(offsets, 0, TITLE_BOTTOM), strip(absolute, 0, TITLE_BOTTOM));
  EXPECT_NE(strip(offsets, SCALE_TOP, SCALE_BOTTOM), strip(absolute, SCALE_TOP, SCALE_BOTTOM));
  EXPECT_EQ(strip(offsets, TOP, offsets.height - BOTTOM), strip(absolute, TOP, absolute.height - BOTTOM));
}

}  // namespace kdsp
