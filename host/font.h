// A tiny built-in bitmap font for labelling images: 5x7 pixel glyphs for the
// printable ASCII characters, drawn at an integer scale.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace texhost {

constexpr int glyph_width = 5, glyph_height = 7, glyph_advance = 6;

// The glyph of a printable ASCII character as 7 rows of 5 cells, '#' for ink
// and '.' for paper; characters outside the set are drawn as '?'.
const char *glyph_rows(char c);

// Width in pixels of `text` at `scale` (no trailing gap).
int text_width(const std::string &text, int scale);

// Draws `text` with its top-left corner at (x, y) into a grayscale image of
// `width` x `height`, setting ink pixels to `value`; clipped at the borders.
void draw_text(std::vector<uint8_t> &pixels, int width, int height, int x, int y,
               const std::string &text, uint8_t value, int scale);

} // namespace texhost
