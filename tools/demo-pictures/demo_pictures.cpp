#include "demo_pictures.h"

#include <stdexcept>
#include <string_view>

#include "bmp_encode.h"
#include "canvas.h"

namespace demo {

namespace {

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};

// Type sizes: the notice number large, the captions at half size or less.
constexpr int kTitleScale = 9;
constexpr int kCaptionScale = 4;

struct Layout {
  int width;
  int height;
  int title_y;
  int caption_y;
  int caption_step;
};

void DrawWords(Canvas &canvas, const Layout &layout, unsigned mode, const std::vector<std::string_view> &lines,
               Rgb title, Rgb caption) {
  canvas.DrawTextCentred("NOTICE " + std::to_string(mode), layout.title_y, kTitleScale, title);
  for (size_t i = 0; i < lines.size(); ++i) {
    canvas.DrawTextCentred(lines[i], layout.caption_y + static_cast<int>(i) * layout.caption_step, kCaptionScale,
                           caption);
  }
}

std::string JoinCaption(const std::vector<std::string_view> &lines) {
  std::string joined;
  for (auto line : lines) {
    if (!joined.empty()) joined += ' ';
    joined += line;
  }
  return joined;
}

// A ramp of `count` colours from `from` to `to`.
std::vector<Rgb> Ramp(Rgb from, Rgb to, int count) {
  std::vector<Rgb> ramp;
  for (int i = 0; i < count; ++i) {
    auto mix = [&](uint8_t a, uint8_t b) {
      return static_cast<uint8_t>(a + (static_cast<int>(b) - a) * i / (count > 1 ? count - 1 : 1));
    };
    ramp.push_back({mix(from.red, to.red), mix(from.green, to.green), mix(from.blue, to.blue)});
  }
  return ramp;
}

// Fills the canvas column by column with the ramp, left to right.
void HorizontalGradient(Canvas &canvas, const std::vector<Rgb> &ramp) {
  for (int x = 0; x < canvas.width(); ++x) {
    const size_t step = static_cast<size_t>(x) * ramp.size() / static_cast<size_t>(canvas.width());
    canvas.FillRect(x, 0, 1, canvas.height(), ramp[step]);
  }
}

// Fills the canvas row by row with the ramp, top to bottom.
void VerticalGradient(Canvas &canvas, const std::vector<Rgb> &ramp) {
  for (int y = 0; y < canvas.height(); ++y) {
    const size_t step = static_cast<size_t>(y) * ramp.size() / static_cast<size_t>(canvas.height());
    canvas.FillRect(0, y, canvas.width(), 1, ramp[step]);
  }
}

DemoPicture Finish(unsigned mode, unsigned depth, const Canvas &canvas, const std::vector<Rgb> &palette,
                   const std::vector<std::string_view> &lines) {
  auto bmp = EncodeBmp(canvas, depth, palette);
  if (!bmp) throw std::logic_error("demo picture " + std::to_string(mode) + " uses a colour outside its palette");
  DemoPicture picture{mode,
                      depth,
                      static_cast<unsigned>(canvas.width()),
                      static_cast<unsigned>(canvas.height()),
                      JoinCaption(lines),
                      std::move(*bmp),
                      {}};
  for (int y = 0; y < canvas.height(); ++y) {
    for (int x = 0; x < canvas.width(); ++x) picture.pixels.push_back(canvas.At(x, y));
  }
  return picture;
}

// 1: EC state code 1. Two colours, white on navy.
DemoPicture Notice1() {
  const Layout layout{600, 200, 36, 128, 0};
  const Rgb navy{16, 40, 112};
  const std::vector<std::string_view> lines{"EC STATE CODE 1"};
  Canvas canvas(layout.width, layout.height, navy);
  canvas.Frame(6, kWhite);
  DrawWords(canvas, layout, 1, lines, kWhite, kWhite);
  return Finish(1, 1, canvas, {navy, kWhite}, lines);
}

// 2: EC register 0x0D flag. Sixteen colours, yellow on dark green, with a
// strip of every palette colour; the odd width leaves a half-used last byte.
DemoPicture Notice2() {
  const Layout layout{601, 201, 30, 118, 0};
  const std::vector<Rgb> palette{{0, 64, 32},   kWhite,         {255, 224, 0}, kBlack,
                                 {255, 0, 0},   {0, 200, 0},    {0, 96, 255},  {255, 128, 0},
                                 {160, 0, 200}, {0, 200, 200},  {255, 0, 160}, {128, 128, 128},
                                 {128, 64, 0},  {192, 255, 64}, {64, 0, 128},  {200, 200, 200}};
  const std::vector<std::string_view> lines{"EC FLAG BIT SET"};
  Canvas canvas(layout.width, layout.height, palette[0]);
  const int strip_height = 24;
  for (int i = 0; i < 16; ++i) {
    const int left = layout.width * i / 16;
    const int right = layout.width * (i + 1) / 16;
    canvas.FillRect(left, layout.height - strip_height, right - left, strip_height, palette[i]);
  }
  DrawWords(canvas, layout, 2, lines, palette[2], kWhite);
  return Finish(2, 4, canvas, palette, lines);
}

// 3: critical level, power-off follows. 256 colours: a dark-to-bright red
// ramp from top to bottom, white type.
DemoPicture Notice3() {
  const Layout layout{620, 240, 28, 114, 44};
  const std::vector<std::string_view> lines{"CRITICAL LEVEL", "POWERING OFF"};
  std::vector<Rgb> palette = Ramp({64, 0, 0}, {224, 32, 16}, 254);
  palette.push_back(kWhite);
  palette.push_back(kBlack);
  Canvas canvas(layout.width, layout.height, kBlack);
  VerticalGradient(canvas, Ramp({64, 0, 0}, {224, 32, 16}, 254));
  canvas.Frame(4, kWhite);
  DrawWords(canvas, layout, 3, lines, kWhite, kWhite);
  return Finish(3, 8, canvas, palette, lines);
}

// 4: no storage controller. True colour: a purple-to-orange sweep, white type
// with a black shadow.
DemoPicture Notice4() {
  const Layout layout{560, 190, 32, 122, 0};
  const std::vector<std::string_view> lines{"NO STORAGE FOUND"};
  Canvas canvas(layout.width, layout.height, kBlack);
  HorizontalGradient(canvas, Ramp({88, 24, 136}, {240, 136, 24}, layout.width));
  Layout shadow = layout;
  shadow.title_y += 4;
  shadow.caption_y += 3;
  canvas.DrawTextCentred("NOTICE 4", shadow.title_y, kTitleScale, kBlack);
  canvas.DrawTextCentred(lines[0], shadow.caption_y, kCaptionScale, kBlack);
  DrawWords(canvas, layout, 4, lines, kWhite, kWhite);
  return Finish(4, 24, canvas, {}, lines);
}

// 5: Secure Boot not enabled. Sixteen colours: white on a banded blue sky.
DemoPicture Notice5() {
  const Layout layout{640, 200, 34, 126, 0};
  const std::vector<std::string_view> lines{"SECURE BOOT IS OFF"};
  std::vector<Rgb> palette = Ramp({0, 24, 64}, {40, 120, 220}, 12);
  palette.push_back(kWhite);
  palette.push_back({255, 200, 0});
  Canvas canvas(layout.width, layout.height, kBlack);
  VerticalGradient(canvas, Ramp({0, 24, 64}, {40, 120, 220}, 12));
  canvas.FillRect(0, 108, layout.width, 4, palette[13]);
  DrawWords(canvas, layout, 5, lines, kWhite, kWhite);
  return Finish(5, 4, canvas, palette, lines);
}

// 6: the sixth picture, never chosen by the decision. Two colours, black on amber.
DemoPicture Notice6() {
  const Layout layout{500, 180, 30, 118, 0};
  const Rgb amber{255, 176, 0};
  const std::vector<std::string_view> lines{"DEMO PICTURE"};
  Canvas canvas(layout.width, layout.height, amber);
  canvas.Frame(10, kBlack);
  DrawWords(canvas, layout, 6, lines, kBlack, kBlack);
  return Finish(6, 1, canvas, {amber, kBlack}, lines);
}

}  // namespace

DemoPicture MakeDemoPicture(unsigned mode) {
  switch (mode) {
    case 1:
      return Notice1();
    case 2:
      return Notice2();
    case 3:
      return Notice3();
    case 4:
      return Notice4();
    case 5:
      return Notice5();
    case 6:
      return Notice6();
  }
  throw std::out_of_range("there is no demo picture for notice mode " + std::to_string(mode));
}

std::string DemoPictureFileName(unsigned mode) { return "notice" + std::to_string(mode) + ".bmp"; }

}  // namespace demo
