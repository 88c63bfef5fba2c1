#include "kdsp-scan/tiny_font.h"

namespace kdsp {

namespace {

// Rows top to bottom, three bits each, the leftmost pixel in bit 2.
struct Glyph {
  char character;
  std::uint8_t rows[GLYPH_HEIGHT];
};

constexpr Glyph GLYPHS[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'-', {0, 0, 7, 0, 0}}, {'.', {0, 0, 0, 0, 2}},
    {'k', {4, 5, 6, 5, 5}}, {'s', {0, 3, 6, 1, 6}}, {'d', {1, 1, 7, 5, 7}}, {'A', {2, 5, 7, 5, 5}},
    {'B', {6, 5, 6, 5, 6}}, {'C', {3, 4, 4, 4, 3}}, {'D', {6, 5, 5, 5, 6}}, {'E', {7, 4, 6, 4, 7}},
    {'F', {7, 4, 6, 4, 4}}, {'G', {3, 4, 5, 5, 3}}, {'H', {5, 5, 7, 5, 5}}, {'I', {7, 2, 2, 2, 7}},
    {'J', {1, 1, 1, 5, 2}}, {'K', {5, 5, 6, 5, 5}}, {'L', {4, 4, 4, 4, 7}}, {'M', {5, 7, 7, 5, 5}},
    {'N', {6, 5, 5, 5, 5}}, {'O', {2, 5, 5, 5, 2}}, {'P', {6, 5, 6, 4, 4}}, {'Q', {2, 5, 5, 6, 3}},
    {'R', {6, 5, 6, 5, 5}}, {'S', {3, 4, 2, 1, 6}}, {'T', {7, 2, 2, 2, 2}}, {'U', {5, 5, 5, 5, 7}},
    {'V', {5, 5, 5, 5, 2}}, {'W', {5, 5, 7, 7, 5}}, {'X', {5, 5, 2, 5, 5}}, {'Y', {5, 5, 2, 2, 2}},
    {'Z', {7, 1, 2, 4, 7}}, {'_', {0, 0, 0, 0, 7}}, {'/', {1, 1, 2, 4, 4}}, {':', {0, 2, 0, 2, 0}},
    {'(', {1, 2, 2, 2, 1}}, {')', {4, 2, 2, 2, 4}}, {',', {0, 0, 0, 2, 4}}, {'+', {0, 2, 7, 2, 0}},
    {'%', {5, 1, 2, 4, 5}}, {'=', {0, 7, 0, 7, 0}}, {'?', {6, 1, 2, 0, 2}}, {' ', {0, 0, 0, 0, 0}},
};

const Glyph* exact_glyph(char character) {
  for (const Glyph& glyph : GLYPHS) {
    if (glyph.character == character) return &glyph;
  }
  return nullptr;
}

// A small letter without a glyph of its own is drawn as the capital; any
// other character without one as '?'.
const Glyph& find_glyph(char character) {
  if (const Glyph* glyph = exact_glyph(character)) return *glyph;
  if (character >= 'a' && character <= 'z') {
    if (const Glyph* glyph = exact_glyph(static_cast<char>(character - 'a' + 'A'))) return *glyph;
  }
  return *exact_glyph('?');
}

}  // namespace

void put_pixel(RgbCanvas canvas, int x, int y, Rgb colour) {
  if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) return;
  std::uint8_t* pixel = canvas.rgb + 3 * (static_cast<long>(y) * canvas.width + x);
  pixel[0] = colour.r;
  pixel[1] = colour.g;
  pixel[2] = colour.b;
}

int text_width(std::string_view text, int scale) {
  if (text.empty()) return 0;
  return static_cast<int>(text.size()) * (GLYPH_WIDTH + 1) * scale - scale;
}

void draw_text(RgbCanvas canvas, int x, int y, std::string_view text, int scale, Rgb colour) {
  for (char character : text) {
    const Glyph& glyph = find_glyph(character);
    for (int row = 0; row < GLYPH_HEIGHT; ++row) {
      for (int column = 0; column < GLYPH_WIDTH; ++column) {
        if (((glyph.rows[row] >> (GLYPH_WIDTH - 1 - column)) & 1u) == 0) continue;
        for (int dy = 0; dy < scale; ++dy) {
          for (int dx = 0; dx < scale; ++dx) put_pixel(canvas, x + column * scale + dx, y + row * scale + dy, colour);
        }
      }
    }
    x += (GLYPH_WIDTH + 1) * scale;
  }
}

}  // namespace kdsp
