// The simulated graphics output's Blt: the range checks real firmware makes,
// Delta and source offsets, and the call log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/platform.h"

namespace {

constexpr UINTN kHuge = ~UINTN{0};

struct BltCase {
  std::string name;
  EFI_GRAPHICS_OUTPUT_BLT_OPERATION operation;
  UINTN x, y, width, height;
  EFI_STATUS expected;
};

class BltRange : public ::testing::TestWithParam<BltCase> {
 protected:
  void SetUp() override { platform_.SetScreenSize(64, 48); }
  sim::Platform platform_;
};

TEST_P(BltRange, ChecksTheRectangleAgainstTheScreen) {
  const BltCase &c = GetParam();
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> pixels(64 * 48, EFI_GRAPHICS_OUTPUT_BLT_PIXEL{1, 2, 3, 0});
  EFI_GRAPHICS_OUTPUT_PROTOCOL *gop = platform_.gop();
  // The rectangle is the destination, except for video-to-buffer where it is the source.
  const bool source_on_screen = c.operation == EfiBltVideoToBltBuffer;
  const EFI_STATUS status =
      gop->Blt(gop, pixels.data(), c.operation, source_on_screen ? c.x : 0, source_on_screen ? c.y : 0,
               source_on_screen ? 0 : c.x, source_on_screen ? 0 : c.y, c.width, c.height, 0);
  EXPECT_EQ(status, c.expected);
  ASSERT_EQ(platform_.blt_calls().size(), 1u);
  EXPECT_EQ(platform_.blt_calls()[0].status, c.expected);
  if (EFI_ERROR(c.expected) && c.operation != EfiBltVideoToBltBuffer) {
    for (const auto &p : platform_.framebuffer()) ASSERT_EQ(p.Blue, 0) << "a refused Blt drew";
  }
}

const BltCase kBltCases[] = {
    {"WholeScreen", EfiBltBufferToVideo, 0, 0, 64, 48, EFI_SUCCESS},
    {"TouchesBottomRight", EfiBltBufferToVideo, 63, 47, 1, 1, EFI_SUCCESS},
    {"OneColumnTooWide", EfiBltBufferToVideo, 1, 0, 64, 48, EFI_INVALID_PARAMETER},
    {"OneRowTooTall", EfiBltBufferToVideo, 0, 1, 64, 48, EFI_INVALID_PARAMETER},
    {"StartsPastRightEdge", EfiBltBufferToVideo, 64, 0, 1, 1, EFI_INVALID_PARAMETER},
    {"StartsPastBottomEdge", EfiBltBufferToVideo, 0, 48, 1, 1, EFI_INVALID_PARAMETER},
    // x + width wraps to a small number; the check must not be fooled.
    {"WrappingX", EfiBltBufferToVideo, kHuge, 0, 2, 1, EFI_INVALID_PARAMETER},
    {"WrappingY", EfiBltBufferToVideo, 0, kHuge - 1, 1, 3, EFI_INVALID_PARAMETER},
    {"WrappingWidth", EfiBltBufferToVideo, 2, 0, kHuge, 1, EFI_INVALID_PARAMETER},
    {"ZeroWidth", EfiBltBufferToVideo, 0, 0, 0, 1, EFI_INVALID_PARAMETER},
    {"ZeroHeight", EfiBltBufferToVideo, 0, 0, 1, 0, EFI_INVALID_PARAMETER},
    {"FillInside", EfiBltVideoFill, 10, 10, 5, 5, EFI_SUCCESS},
    {"FillTooWide", EfiBltVideoFill, 60, 0, 5, 1, EFI_INVALID_PARAMETER},
    {"ReadInside", EfiBltVideoToBltBuffer, 0, 0, 64, 48, EFI_SUCCESS},
    {"ReadTooTall", EfiBltVideoToBltBuffer, 0, 40, 1, 9, EFI_INVALID_PARAMETER},
    {"UnknownOperation", static_cast<EFI_GRAPHICS_OUTPUT_BLT_OPERATION>(7), 0, 0, 1, 1, EFI_INVALID_PARAMETER},
};

INSTANTIATE_TEST_SUITE_P(Rectangles, BltRange, ::testing::ValuesIn(kBltCases),
                         [](const ::testing::TestParamInfo<BltCase> &info) { return info.param.name; });

class BltCopy : public ::testing::Test {
 protected:
  void SetUp() override { platform_.SetScreenSize(16, 8); }
  sim::Platform platform_;
};

TEST_F(BltCopy, BufferToVideoHonoursSourceOffsetAndDelta) {
  // A 5 x 4 picture in rows of 5 pixels; copy its 2 x 2 block at (3, 1) to (7, 6).
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> picture(5 * 4);
  for (UINT8 i = 0; i < picture.size(); ++i) picture[i] = {i, static_cast<UINT8>(i + 100), 0, 0};
  EFI_GRAPHICS_OUTPUT_PROTOCOL *gop = platform_.gop();
  ASSERT_EQ(gop->Blt(gop, picture.data(), EfiBltBufferToVideo, 3, 1, 7, 6, 2, 2, 5 * 4), EFI_SUCCESS);

  EXPECT_EQ(platform_.Pixel(7, 6).Blue, 1 * 5 + 3);
  EXPECT_EQ(platform_.Pixel(8, 6).Blue, 1 * 5 + 4);
  EXPECT_EQ(platform_.Pixel(7, 7).Blue, 2 * 5 + 3);
  EXPECT_EQ(platform_.Pixel(8, 7).Green, 2 * 5 + 4 + 100);
  EXPECT_EQ(platform_.Pixel(6, 6).Blue, 0);
  EXPECT_EQ(platform_.Pixel(9, 7).Blue, 0);

  const sim::BltCall &call = platform_.blt_calls().at(0);
  EXPECT_EQ(call.buffer, picture.data());
  EXPECT_EQ(call.source_x, 3u);
  EXPECT_EQ(call.source_y, 1u);
  EXPECT_EQ(call.destination_x, 7u);
  EXPECT_EQ(call.destination_y, 6u);
  EXPECT_EQ(call.delta, 20u);
  EXPECT_EQ(platform_.LogOf("Blt").at(0).Field("Delta"), "20");
}

TEST_F(BltCopy, ZeroDeltaMeansRowsOfWidthPixels) {
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> picture(3 * 2);
  for (UINT8 i = 0; i < picture.size(); ++i) picture[i] = {static_cast<UINT8>(i + 1), 0, 0, 0};
  EFI_GRAPHICS_OUTPUT_PROTOCOL *gop = platform_.gop();
  ASSERT_EQ(gop->Blt(gop, picture.data(), EfiBltBufferToVideo, 0, 0, 0, 0, 3, 2, 0), EFI_SUCCESS);
  EXPECT_EQ(platform_.Pixel(0, 1).Blue, 4);
  EXPECT_EQ(platform_.Pixel(2, 1).Blue, 6);
}

TEST_F(BltCopy, InjectedFailureDrawsNothing) {
  platform_.Inject(sim::Failure("Blt").Answers(EFI_DEVICE_ERROR));
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL white{255, 255, 255, 0};
  EFI_GRAPHICS_OUTPUT_PROTOCOL *gop = platform_.gop();
  EXPECT_EQ(gop->Blt(gop, &white, EfiBltVideoFill, 0, 0, 0, 0, 16, 8, 0), EFI_DEVICE_ERROR);
  EXPECT_EQ(platform_.Pixel(0, 0).Blue, 0);
  EXPECT_TRUE(platform_.blt_calls().empty());
  EXPECT_EQ(platform_.LogOf("Blt").at(0).Field("Injected"), "yes");
}

TEST_F(BltCopy, ModeDescribesTheFramebuffer) {
  const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE &mode = *platform_.gop()->Mode;
  EXPECT_EQ(mode.Info->HorizontalResolution, 16u);
  EXPECT_EQ(mode.Info->VerticalResolution, 8u);
  EXPECT_EQ(mode.Info->PixelsPerScanLine, 16u);
  EXPECT_EQ(mode.Info->PixelFormat, PixelBlueGreenRedReserved8BitPerColor);
  EXPECT_EQ(mode.FrameBufferSize, 16u * 8u * 4u);
  EXPECT_EQ(mode.FrameBufferBase, reinterpret_cast<uintptr_t>(platform_.framebuffer().data()));
}

}  // namespace
