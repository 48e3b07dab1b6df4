// An RGB drawing surface for composing the demo pictures.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace demo {

struct Rgb {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  friend bool operator==(const Rgb &, const Rgb &) = default;
};

class Canvas {
 public:
  Canvas(int width, int height, Rgb background);

  int width() const { return width_; }
  int height() const { return height_; }
  // Row 0 is the top row.
  Rgb At(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
  void Set(int x, int y, Rgb colour);

  // Fills the rectangle, clipped to the canvas.
  void FillRect(int x, int y, int width, int height, Rgb colour);
  // A frame of the given thickness just inside the canvas edge.
  void Frame(int thickness, Rgb colour);
  // Draws the text with the 5x7 font, each dot scale x scale pixels, one
  // blank dot column between characters, its top-left corner at (x, y).
  void DrawText(std::string_view text, int x, int y, int scale, Rgb colour);
  // The same, centred horizontally on the canvas.
  void DrawTextCentred(std::string_view text, int y, int scale, Rgb colour);

 private:
  int width_;
  int height_;
  std::vector<Rgb> pixels_;
};

// Width in pixels of the text as DrawText lays it out.
int TextWidth(std::string_view text, int scale);

}  // namespace demo
