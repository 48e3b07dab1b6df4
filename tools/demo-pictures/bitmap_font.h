// A 5x7 dot-matrix font for the demo pictures' captions.
#pragma once

#include <array>
#include <cstdint>

namespace demo {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;

// One glyph: row 0 is the top row; bit 4 of a row is its leftmost dot.
using Glyph = std::array<uint8_t, kGlyphHeight>;

// The glyph for an upper-case letter, a digit, a space or one of "-.:!/";
// lower-case letters use their upper-case glyph, anything else a filled box.
const Glyph &GlyphFor(char c);

}  // namespace demo
