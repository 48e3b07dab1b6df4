// notice-sim says why a notice's picture is not on the screen, in
// summary.json and on standard output, and draws a contact sheet.
#include <gtest/gtest.h>

#include <fstream>

#include "notice_sim_runner.h"
#include "tests/display/bmp_writer.h"

namespace preview_test {
namespace {

using nlohmann::json;

std::string WriteFile(const std::string &name, const std::vector<uint8_t> &bytes) {
  const std::string path = FreshDir(name) + "/picture.bmp";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<uint8_t> TopDownPicture() {
  bmptest::Picture picture;
  picture.width = 4;
  picture.height = 2;
  picture.pixels.assign(8, 0x808080);
  std::vector<uint8_t> bytes = bmptest::Encode(picture);
  bmptest::PutLe32(bytes, bmptest::kHeightField, static_cast<uint32_t>(-2));
  return bytes;
}

struct ReasonCase {
  const char *name;
  std::vector<std::string> args;
  std::string reason;  // the start of it; empty: drawn, no reason
};

class NotShown : public testing::TestWithParam<ReasonCase> {};

TEST_P(NotShown, ReasonIsInTheSummaryAndOnStandardOutput) {
  const ReasonCase &c = GetParam();
  std::vector<std::string> args = c.args;
  args.insert(args.end(), {"--secure-boot", "0"});
  const ToolRun run = RunNoticeSim(args, c.name);
  ASSERT_EQ(run.exit_code, 0) << run.standard_error;
  const json summary = run.Summary();
  const json &n = summary["notifications"][0];
  ASSERT_EQ(n["notice_mode"], 5);
  if (c.reason.empty()) {
    EXPECT_EQ(n["reason"], nullptr);
    return;
  }
  ASSERT_TRUE(n["reason"].is_string()) << n.dump();
  const std::string reason = n["reason"];
  EXPECT_EQ(reason.substr(0, c.reason.size()), c.reason);
  EXPECT_NE(run.standard_output.find("Nothing was drawn (" + reason + ")"), std::string::npos) << run.standard_output;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NotShown,
    testing::Values(ReasonCase{"drawn", {}, ""},
                    // The demo picture 5 is 640 pixels wide.
                    ReasonCase{"too_wide",
                               {"--screen", "640x480"},
                               "640 pixels wide: needs a screen at least 660 wide; this screen is 640"},
                    ReasonCase{"too_tall", {"--screen", "800x150"}, "200 pixels tall on a screen 150 high"},
                    ReasonCase{
                        "missing", {"--no-picture", "5"}, "no firmware volume holds a picture file for notice 5"},
                    ReasonCase{"top_down",
                               {"--picture", "5=" + WriteFile("reason_top_down_file", TopDownPicture())},
                               "top-down BMP (negative height) is not accepted: store rows bottom-up"},
                    ReasonCase{"no_gop", {"--no-gop"}, "the firmware has no graphics output protocol"}),
    [](const testing::TestParamInfo<ReasonCase> &info) { return std::string(info.param.name); });

TEST(ContactSheet, AllSixPicturesOnTheChosenScreen) {
  const std::string dir = FreshDir("contact_sheet_file");
  const ToolRun run = RunNoticeSimRaw({"--screen", "700x400", "--contact-sheet", dir + "/sheet.png"}, "contact_sheet");
  ASSERT_EQ(run.exit_code, 0) << run.standard_error;
  const PngPixels sheet = ReadPng(dir + "/sheet.png");
  ASSERT_TRUE(sheet.ok);
  EXPECT_EQ(sheet.width, 3u * 700 + 2 * 16);
  EXPECT_EQ(sheet.height, 2u * 400 + 16);
  // Picture 5 (640x200) lands at x=20, y=100 of the fifth screen; picture 3 is 620 wide.
  EXPECT_NE(run.standard_output.find("notice 5: 640x200 at x=20, y=100"), std::string::npos) << run.standard_output;
  EXPECT_NE(run.standard_output.find("notice 3: 620x240 at x=30, y=80"), std::string::npos) << run.standard_output;
  // Inside the fifth tile, left of the picture: the cleared screen.
  const size_t tile_left = 716, tile_top = 416;
  const size_t black = ((tile_top + 100) * sheet.width + tile_left + 19) * 3;
  EXPECT_EQ(sheet.rgb[black] | sheet.rgb[black + 1] | sheet.rgb[black + 2], 0);
  // The gutter is grey.
  EXPECT_EQ(sheet.rgb[(700 + 5) * 3], 0x40);
}

}  // namespace
}  // namespace preview_test

namespace preview_test {
namespace {

TEST(ContactSheet, AloneNeedsNoOutFolderButAScreenItCanHold) {
  const std::string sheet = FreshDir("sheet_alone_file") + "/s.png";
  const ToolRun alone = RunNoticeSimRaw({"--contact-sheet", sheet}, "sheet_alone");
  EXPECT_EQ(alone.exit_code, 0) << alone.standard_error;
  EXPECT_TRUE(ReadPng(sheet).ok);
  // No boot was run, so no paragraph about one.
  EXPECT_EQ(alone.standard_output.find("trigger notification"), std::string::npos) << alone.standard_output;
  const ToolRun huge = RunNoticeSimRaw(
      {"--screen", "5000x600", "--contact-sheet", FreshDir("sheet_huge_file") + "/s.png"}, "sheet_huge");
  EXPECT_EQ(huge.exit_code, 2);
  EXPECT_NE(huge.standard_error.find("--contact-sheet draws screens up to 4096x4096"), std::string::npos);
}

}  // namespace
}  // namespace preview_test
