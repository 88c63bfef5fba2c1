// A 3x5 pixel font for the spectrogram's title and labels: digits, capital
// letters (small ones drawn as capitals, but for the 'k', 's' and 'd' of
// units), space and
// the punctuation of file names and units; anything else is drawn as '?'.
#pragma once

#include <cstdint>
#include <string_view>

namespace kdsp {

struct RgbCanvas {
  std::uint8_t* rgb;  // width * height * 3 bytes
  int width;
  int height;
};

struct Rgb {
  std::uint8_t r, g, b;
};

inline constexpr int GLYPH_WIDTH = 3;
inline constexpr int GLYPH_HEIGHT = 5;

// Sets one pixel; pixels outside the canvas are ignored.
void put_pixel(RgbCanvas canvas, int x, int y, Rgb colour);

// Width in pixels of `text` drawn at `scale` (one blank column between glyphs).
int text_width(std::string_view text, int scale);

// Draws `text` with its top-left corner at (x, y), each font pixel a
// `scale` x `scale` square.
void draw_text(RgbCanvas canvas, int x, int y, std::string_view text, int scale, Rgb colour);

}  // namespace kdsp
