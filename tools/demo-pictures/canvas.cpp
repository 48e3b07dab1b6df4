#include "canvas.h"

#include <algorithm>

#include "bitmap_font.h"

namespace demo {

Canvas::Canvas(int width, int height, Rgb background)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, background) {}

void Canvas::Set(int x, int y, Rgb colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<size_t>(y) * width_ + x] = colour;
}

void Canvas::FillRect(int x, int y, int width, int height, Rgb colour) {
  const int x_end = std::min(width_, x + width);
  const int y_end = std::min(height_, y + height);
  for (int row = std::max(0, y); row < y_end; ++row) {
    for (int col = std::max(0, x); col < x_end; ++col) Set(col, row, colour);
  }
}

void Canvas::Frame(int thickness, Rgb colour) {
  FillRect(0, 0, width_, thickness, colour);
  FillRect(0, height_ - thickness, width_, thickness, colour);
  FillRect(0, 0, thickness, height_, colour);
  FillRect(width_ - thickness, 0, thickness, height_, colour);
}

int TextWidth(std::string_view text, int scale) {
  if (text.empty()) return 0;
  const int advance = (kGlyphWidth + 1) * scale;
  return static_cast<int>(text.size()) * advance - scale;
}

void Canvas::DrawText(std::string_view text, int x, int y, int scale, Rgb colour) {
  const int advance = (kGlyphWidth + 1) * scale;
  for (size_t i = 0; i < text.size(); ++i) {
    const Glyph &glyph = GlyphFor(text[i]);
    const int left = x + static_cast<int>(i) * advance;
    for (int row = 0; row < kGlyphHeight; ++row) {
      for (int col = 0; col < kGlyphWidth; ++col) {
        if (glyph[row] & (1u << (kGlyphWidth - 1 - col))) {
          FillRect(left + col * scale, y + row * scale, scale, scale, colour);
        }
      }
    }
  }
}

void Canvas::DrawTextCentred(std::string_view text, int y, int scale, Rgb colour) {
  DrawText(text, (width_ - TextWidth(text, scale)) / 2, y, scale, colour);
}

}  // namespace demo
