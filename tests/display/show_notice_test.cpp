// Drawing the notice: position and fit, the failure lines, and who owns which buffer.
#include "display/notice_display.h"

#include <string>

#include "display/notice_image_lookup.h"
#include "tests/display/bmp_writer.h"
#include "tests/display/display_fixture.h"

namespace {

using displaytest::DisplayTest;
using displaytest::TestColour;

const std::u16string kGopLine = u"Locate gop protocol failure...\r\n";
const std::u16string kReadLine = u"GetBitMapFromFV failure...\r\n";
const std::u16string kDecodeLine = u"ConvertBmpToGopBltofTarvex failure...\r\n";
const std::u16string kBltLine = u"GraphicsOutput->Blt failure...\r\n";

using Lines = std::vector<std::u16string>;

bmptest::Picture Picture24(uint32_t width, uint32_t height) {
  bmptest::Picture picture;
  picture.width = width;
  picture.height = height;
  for (uint32_t i = 0; i < width * height; ++i) picture.pixels.push_back(TestColour(i));
  return picture;
}

class ShowNoticeTest : public DisplayTest {
 protected:
  ShowNoticeTest() : volume_(platform_.AddFirmwareVolume("fv0")) {}

  void AddPicture(const EFI_GUID &file, const std::vector<uint8_t> &bytes) { volume_.AddRawFile(file, bytes); }

  // Runs ShowNotice, checks the status and releases the raw picture as the
  // caller does after the hold; nothing may then be left in pool.
  void Show(EFI_STATUS expected = EFI_SUCCESS) {
    EXPECT_EQ(ShowNotice(), expected);
    EXPECT_TRUE(platform_.faults().empty());
    EXPECT_TRUE(platform_.unexpected_calls().empty());
    if (gDriver.NoticeImageBuffer != nullptr) {
      gDriver.BootServices->FreePool(gDriver.NoticeImageBuffer);
      gDriver.NoticeImageBuffer = nullptr;
    }
    EXPECT_EQ(platform_.LeakReport(), "");
  }

  Lines ConsoleLines() const { return platform_.console_strings(); }

  sim::FirmwareVolume &volume_;
};

uint32_t Rgb(const EFI_GRAPHICS_OUTPUT_BLT_PIXEL &pixel) {
  return static_cast<uint32_t>(pixel.Red) << 16 | static_cast<uint32_t>(pixel.Green) << 8 | pixel.Blue;
}

TEST_F(ShowNoticeTest, DrawsCentredTenPixelsLeft) {
  const bmptest::Picture picture = Picture24(400, 300);
  AddPicture(NoticeImage1Guid, bmptest::Encode(picture));
  gDriver.NoticeMode = 1;
  Show();
  ASSERT_EQ(platform_.blt_calls().size(), 1u);
  const sim::BltCall &blt = platform_.blt_calls()[0];
  EXPECT_EQ(blt.operation, EfiBltBufferToVideo);
  EXPECT_EQ(blt.source_x, 0u);
  EXPECT_EQ(blt.source_y, 0u);
  EXPECT_EQ(blt.destination_x, 302u);
  EXPECT_EQ(blt.destination_y, 234u);
  EXPECT_EQ(blt.width, 400u);
  EXPECT_EQ(blt.height, 300u);
  EXPECT_EQ(blt.delta, 1600u);
  EXPECT_EQ(blt.status, EFI_SUCCESS);
  EXPECT_EQ(ConsoleLines(), Lines{});
  // The picture on the screen, and nothing around it.
  for (uint32_t y = 0; y < 300; ++y) {
    for (uint32_t x = 0; x < 400; ++x) {
      ASSERT_EQ(Rgb(platform_.Pixel(302 + x, 234 + y)), picture.pixels[y * 400 + x]) << x << "," << y;
    }
  }
  EXPECT_EQ(Rgb(platform_.Pixel(301, 234)), 0u);
  EXPECT_EQ(Rgb(platform_.Pixel(702, 533)), 0u);
  EXPECT_EQ(Rgb(platform_.Pixel(302, 534)), 0u);
}

struct FitCase {
  std::string name;
  UINT32 screen_width;
  UINT32 picture_width;
  bool drawn;
  UINTN x;
};

class ShowNoticeFitTest : public ShowNoticeTest, public ::testing::WithParamInterface<FitCase> {};

// Drawn only when the screen is at least 20 pixels wider; no line either way.
TEST_P(ShowNoticeFitTest, DrawnOnlyWithTwentyPixelsToSpare) {
  const FitCase &c = GetParam();
  platform_.SetScreenSize(c.screen_width, 100);
  AddPicture(NoticeImage1Guid, bmptest::Encode(Picture24(c.picture_width, 2)));
  Show();
  EXPECT_EQ(ConsoleLines(), Lines{});
  ASSERT_EQ(platform_.blt_calls().size(), c.drawn ? 1u : 0u);
  if (c.drawn) {
    EXPECT_EQ(platform_.blt_calls()[0].destination_x, c.x);
    EXPECT_EQ(platform_.blt_calls()[0].destination_y, 49u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Widths, ShowNoticeFitTest,
    ::testing::Values(FitCase{"TwentyNarrower", 1024, 1004, true, 0}, FitCase{"NineteenNarrower", 1024, 1005, false, 0},
                      FitCase{"SameWidth", 1024, 1024, false, 0}, FitCase{"Wider", 1024, 1025, false, 0},
                      FitCase{"TwentyOneNarrower", 1024, 1003, true, 0},
                      FitCase{"TwentyTwoNarrower", 1024, 1002, true, 1}, FitCase{"NarrowScreen", 30, 10, true, 0}),
    [](const ::testing::TestParamInfo<FitCase> &info) { return info.param.name; });

TEST_F(ShowNoticeTest, FitSumDoesNotWrapAt32Bits) {
  // An empty picture (height 0, depth 0) is accepted at any width; with a
  // 32-bit sum 0xFFFFFFF0 + 20 would wrap to 4 and pass the fit test.
  AddPicture(NoticeImage1Guid, bmptest::HeaderWith(0xFFFFFFF0u, 0, 0, 54, 0));
  Show();
  EXPECT_TRUE(platform_.blt_calls().empty());
  EXPECT_EQ(ConsoleLines(), Lines{});
}

TEST_F(ShowNoticeTest, TallerThanTheScreenIsRefusedByTheBlt) {
  AddPicture(NoticeImage1Guid, bmptest::Encode(Picture24(10, 770)));
  Show();
  ASSERT_EQ(platform_.blt_calls().size(), 1u);
  // (768 - 770) / 2 in unsigned 32-bit arithmetic: far below the screen.
  EXPECT_EQ(platform_.blt_calls()[0].destination_y, 0x7FFFFFFFu);
  EXPECT_EQ(ConsoleLines(), Lines{kBltLine});
}

TEST_F(ShowNoticeTest, MissingFilePrintsReadAndDecodeLines) {
  Show();
  EXPECT_EQ(ConsoleLines(), (Lines{kReadLine, kDecodeLine}));
  EXPECT_TRUE(platform_.blt_calls().empty());
}

TEST_F(ShowNoticeTest, HandleListWithoutBufferIsAMissingPicture) {
  AddPicture(NoticeImage1Guid, bmptest::Encode(Picture24(4, 4)));
  platform_.Inject(sim::Failure("LocateHandleBuffer")
                       .For(EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID)
                       .Answers(EFI_SUCCESS)
                       .Leaving("NoHandles", 2)
                       .Leaving("Buffer", nullptr));
  Show();
  EXPECT_EQ(ConsoleLines(), (Lines{kReadLine, kDecodeLine}));
  EXPECT_TRUE(platform_.blt_calls().empty());
}

TEST_F(ShowNoticeTest, BufferTooSmallPrintsReadAndDecodeLines) {
  AddPicture(NoticeImage1Guid, bmptest::Encode(Picture24(4, 4)));
  platform_.Inject(sim::Failure("ReadSection").On(volume_).For(NoticeImage1Guid).Answers(EFI_BUFFER_TOO_SMALL));
  Show();
  EXPECT_EQ(ConsoleLines(), (Lines{kReadLine, kDecodeLine}));
  EXPECT_TRUE(platform_.blt_calls().empty());
}

TEST_F(ShowNoticeTest, UndecodablePictureStaysInTheNoticeBuffer) {
  // 32 bits per pixel are not converted.
  const std::vector<uint8_t> bytes = bmptest::HeaderWith(2, 2, 32, 54, 16);
  AddPicture(NoticeImage1Guid, bytes);
  EXPECT_EQ(ShowNotice(), EFI_SUCCESS);
  EXPECT_EQ(ConsoleLines(), Lines{kDecodeLine});
  EXPECT_TRUE(platform_.blt_calls().empty());
  ASSERT_NE(gDriver.NoticeImageBuffer, nullptr);
  ASSERT_EQ(platform_.live_pool().size(), 1u);
  EXPECT_EQ(platform_.live_pool().at(gDriver.NoticeImageBuffer).size, bytes.size());
  gDriver.BootServices->FreePool(gDriver.NoticeImageBuffer);
  EXPECT_EQ(platform_.LeakReport(), "");
}

// A graphics output without its mode, or a mode without its information:
// nothing can be drawn, and nothing crashes.
TEST_F(ShowNoticeTest, GraphicsOutputWithoutModeInformationDrawsNothing) {
  AddPicture(NoticeImage1Guid, bmptest::Encode(Picture24(4, 4)));
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *mode = platform_.gop()->Mode;

  mode->Info = nullptr;
  Show();
  platform_.gop()->Mode = nullptr;
  Show();

  EXPECT_TRUE(platform_.blt_calls().empty());
  EXPECT_EQ(ConsoleLines(), Lines{});
  EXPECT_EQ(platform_.CallCount("ReadSection"), 2u) << "the picture is still read and decoded";
}

TEST_F(ShowNoticeTest, NoGraphicsOutputPrintsOnlyItsLineAndReadsNothing) {
  AddPicture(NoticeImage1Guid, bmptest::Encode(Picture24(4, 4)));
  platform_.RemoveGop();
  int sentinel = 0;
  gDriver.NoticeImageBuffer = &sentinel;
  EXPECT_EQ(ShowNotice(), EFI_UNSUPPORTED);
  EXPECT_EQ(ConsoleLines(), Lines{kGopLine});
  EXPECT_EQ(gDriver.NoticeImageBuffer, &sentinel);
  EXPECT_EQ(platform_.CallCount("LocateHandleBuffer"), 0u);
  EXPECT_EQ(volume_.read_section_calls(), 0u);
  EXPECT_EQ(platform_.LeakReport(), "");
  gDriver.NoticeImageBuffer = nullptr;
}

TEST_F(ShowNoticeTest, RefusedBltPrintsItsLineAndReleasesThePixels) {
  AddPicture(NoticeImage1Guid, bmptest::Encode(Picture24(4, 4)));
  platform_.Inject(sim::Failure("Blt").Answers(EFI_DEVICE_ERROR));
  Show();
  EXPECT_EQ(ConsoleLines(), Lines{kBltLine});
  EXPECT_EQ(platform_.LogOf("Blt").size(), 1u);
  EXPECT_TRUE(platform_.blt_calls().empty()) << "the refused Blt reached no screen";
}

TEST_F(ShowNoticeTest, PixelBufferAllocationFailurePrintsTheDecodeLine) {
  AddPicture(NoticeImage1Guid, bmptest::Encode(Picture24(4, 4)));
  platform_.Inject(sim::Failure("AllocatePool")
                       .Call(1)
                       .Answers(EFI_OUT_OF_RESOURCES));  // the decoder's; the console's line buffer comes after
  Show();
  EXPECT_EQ(ConsoleLines(), Lines{kDecodeLine});
  EXPECT_TRUE(platform_.blt_calls().empty());
}

TEST_F(ShowNoticeTest, RawPictureStaysAndThePixelsAreReleased) {
  const std::vector<uint8_t> bytes = bmptest::Encode(Picture24(8, 8));
  AddPicture(NoticeImage1Guid, bytes);
  EXPECT_EQ(ShowNotice(), EFI_SUCCESS);
  ASSERT_EQ(platform_.blt_calls().size(), 1u);
  // The pixel buffer handed to the Blt is gone; only the raw picture is left.
  EXPECT_FALSE(platform_.IsPoolBlock(platform_.blt_calls()[0].buffer));
  ASSERT_EQ(platform_.live_pool().size(), 1u);
  ASSERT_TRUE(platform_.IsPoolBlock(gDriver.NoticeImageBuffer));
  const uint8_t *raw = static_cast<const uint8_t *>(gDriver.NoticeImageBuffer);
  EXPECT_EQ(std::vector<uint8_t>(raw, raw + bytes.size()), bytes);
  gDriver.BootServices->FreePool(gDriver.NoticeImageBuffer);
  EXPECT_EQ(platform_.LeakReport(), "");
}

// --- firmware that breaks its contract ----------------------------------------

struct LeftoverCase {
  std::string name;
  EFI_STATUS status;
  size_t bytes_left;  // of a 3,654-byte 24-bit picture, left in the slot
};

class ShowNoticeLeftoverTest : public ShowNoticeTest, public ::testing::WithParamInterface<LeftoverCase> {};

// A volume that fails yet leaves a buffer and the picture's full size in the
// slots: nothing is decoded from them (no drawing, no read past the buffer),
// both lines print as for a missing picture, and what the volume left is
// released after the hold like any picture.
TEST_P(ShowNoticeLeftoverTest, FailedReadDecodesNothing) {
  const std::vector<uint8_t> bytes = bmptest::Encode(Picture24(20, 60));
  ASSERT_EQ(bytes.size(), 3654u);
  const std::vector<uint8_t> left(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(GetParam().bytes_left));
  platform_.Inject(sim::Failure("ReadSection")
                       .On(volume_)
                       .For(NoticeImage1Guid)
                       .Answers(GetParam().status)
                       .Leaving("Buffer", sim::PoolHolding{left})
                       .Leaving("BufferSize", bytes.size()));
  gDriver.NoticeMode = 1;
  Show();
  EXPECT_EQ(ConsoleLines(), (Lines{kReadLine, kDecodeLine}));
  EXPECT_TRUE(platform_.blt_calls().empty());
}

INSTANTIATE_TEST_SUITE_P(Volumes, ShowNoticeLeftoverTest,
                         ::testing::Values(LeftoverCase{"DeviceErrorWithWholePicture", EFI_DEVICE_ERROR, 3654},
                                           LeftoverCase{"BufferTooSmallWithPart", EFI_BUFFER_TOO_SMALL, 102}),
                         [](const ::testing::TestParamInfo<LeftoverCase> &info) { return info.param.name; });

TEST_F(ShowNoticeTest, ModeChoosesThePicture) {
  const EFI_GUID *files[] = {&NoticeImage1Guid, &NoticeImage2Guid, &NoticeImage3Guid,
                             &NoticeImage4Guid, &NoticeImage5Guid, &NoticeImage6Guid};
  for (uint32_t i = 0; i < 6; ++i) AddPicture(*files[i], bmptest::Encode(Picture24(10 + i, 1)));
  const struct {
    UINT8 mode;
    UINTN width;
  } expectations[] = {{0, 10}, {1, 10}, {2, 11}, {3, 12}, {4, 13}, {5, 14}, {6, 15}, {7, 10}, {255, 10}};
  for (const auto &e : expectations) {
    gDriver.NoticeMode = e.mode;
    Show();
    ASSERT_FALSE(platform_.blt_calls().empty());
    EXPECT_EQ(platform_.blt_calls().back().width, e.width) << "mode " << int(e.mode);
  }
  EXPECT_EQ(ConsoleLines(), Lines{});
}

}  // namespace
