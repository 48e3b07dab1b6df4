// notice-sim end to end: the built tool on scenarios for every notice the
// decision produces and every failure line, checked through its files.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "bmp_encode.h"
#include "demo_pictures.h"
#include "notice_sim_runner.h"
#include "tests/display/bmp_writer.h"
#include "tests/support/command_run.h"

namespace preview_test {
namespace {

using nlohmann::json;

const char *const kPictureGuids[] = {
    nullptr,
    "2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6",
    "D667348E-1827-4DF0-8D56-847211257F85",
    "8CCA080A-4A46-4E16-9AA7-57D6853071BB",
    "E98CCA77-61E4-474C-8660-5B10B8A0F128",
    "C6E37D95-A12F-4321-AB6C-A0EB9708100A",
};

struct Rect {
  uint32_t x, y, width, height;
};

// Every pixel inside the rectangle shows the picture, every pixel outside is black.
void ExpectScreenShows(const PngPixels &png, const Rect &at, const std::vector<demo::Rgb> &picture) {
  ASSERT_TRUE(png.ok);
  size_t wrong_inside = 0, wrong_outside = 0;
  for (uint32_t y = 0; y < png.height; ++y) {
    for (uint32_t x = 0; x < png.width; ++x) {
      const uint8_t *p = &png.rgb[(static_cast<size_t>(y) * png.width + x) * 3];
      const bool inside = x >= at.x && x < at.x + at.width && y >= at.y && y < at.y + at.height;
      if (inside) {
        const demo::Rgb &want = picture[static_cast<size_t>(y - at.y) * at.width + (x - at.x)];
        if (p[0] != want.red || p[1] != want.green || p[2] != want.blue) ++wrong_inside;
      } else if (p[0] != 0 || p[1] != 0 || p[2] != 0) {
        ++wrong_outside;
      }
    }
  }
  EXPECT_EQ(wrong_inside, 0u);
  EXPECT_EQ(wrong_outside, 0u);
}

void ExpectBlackScreen(const PngPixels &png, uint32_t width, uint32_t height) {
  ASSERT_TRUE(png.ok);
  EXPECT_EQ(png.width, width);
  EXPECT_EQ(png.height, height);
  EXPECT_EQ(std::count(png.rgb.begin(), png.rgb.end(), 0), static_cast<long>(png.rgb.size()));
}

struct NoticeCase {
  const char *name;
  std::vector<std::string> args;
  unsigned mode;
  const char *rule;
  Rect blt;
  uint64_t stall_us;
  bool shutdown;
};

class EachNotice : public testing::TestWithParam<NoticeCase> {};

TEST_P(EachNotice, IsChosenDrawnAndMarked) {
  const NoticeCase &c = GetParam();
  const ToolRun run = RunNoticeSim(c.args, c.name);
  ASSERT_EQ(run.exit_code, 0) << run.standard_error;
  ASSERT_TRUE(run.HasFile("screen.png") && run.HasFile("summary.json") && run.HasFile("events.jsonl"));

  const json s = run.Summary();
  ASSERT_FALSE(s.is_discarded());
  EXPECT_EQ(s["screen"], json({{"width", 1280}, {"height", 800}}));
  ASSERT_EQ(s["notifications"].size(), 1u);
  const json &n = s["notifications"][0];
  EXPECT_EQ(n["notice_mode"], c.mode);
  EXPECT_EQ(n["rule"], c.rule);
  EXPECT_EQ(n["picture"], kPictureGuids[c.mode]);
  EXPECT_EQ(n["blt"], json({{"x", c.blt.x}, {"y", c.blt.y}, {"width", c.blt.width}, {"height", c.blt.height}}));
  EXPECT_EQ(n["console"], json::array());
  EXPECT_EQ(n["cmos_0x30"], 0xAA);
  EXPECT_EQ(n["stall_us"], c.stall_us);
  EXPECT_EQ(n["shutdown"], c.shutdown);
  EXPECT_EQ(s["machine_off"], c.shutdown);

  const PngPixels png = run.Screen();
  EXPECT_EQ(png.width, 1280u);
  EXPECT_EQ(png.height, 800u);
  ExpectScreenShows(png, c.blt, demo::MakeDemoPicture(c.mode).pixels);

  EXPECT_NE(run.standard_output.find("notice " + std::to_string(c.mode)), std::string::npos) << run.standard_output;
  EXPECT_NE(run.standard_output.find("x=" + std::to_string(c.blt.x) + ", y=" + std::to_string(c.blt.y)),
            std::string::npos)
      << run.standard_output;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, EachNotice,
    testing::Values(
        NoticeCase{"ec_state_code_1", {"--ec", "0x80=1"}, 1, "ec_state_code_1", {330, 300, 600, 200}, 4000000, false},
        NoticeCase{"ec_flag", {"--ec", "0x0D=0x02"}, 2, "ec_flag", {329, 299, 601, 201}, 4000000, false},
        // Code 2 with two critical levels: one second between the level reads, then the hold and power-off.
        NoticeCase{"critical_level",
                   {"--ec", "0x80=2", "--ec", "0x93=4,3"},
                   3,
                   "ec_critical_level",
                   {320, 280, 620, 240},
                   5000000,
                   true},
        NoticeCase{"no_storage", {"--pci", "none"}, 4, "storage_absent", {350, 305, 560, 190}, 4000000, false},
        NoticeCase{"ide_is_not_storage",
                   {"--pci", "ide0=01.01.00", "--ec", "0x80=1"},
                   4,
                   "storage_absent",
                   {350, 305, 560, 190},
                   4000000,
                   false},
        NoticeCase{"secure_boot_off",
                   {"--secure-boot", "0"},
                   5,
                   "secure_boot_not_enabled",
                   {310, 300, 640, 200},
                   4000000,
                   false},
        NoticeCase{"secure_boot_missing",
                   {"--secure-boot", "missing", "--ec", "0x0D=2"},
                   5,
                   "secure_boot_not_enabled",
                   {310, 300, 640, 200},
                   4000000,
                   false},
        NoticeCase{"secure_boot_big",
                   {"--secure-boot", "big"},
                   5,
                   "secure_boot_not_enabled",
                   {310, 300, 640, 200},
                   4000000,
                   false},
        NoticeCase{"absent_ec_reads_ff", {"--ec-kind", "absent"}, 2, "ec_flag", {329, 299, 601, 201}, 4000000, false}),
    [](const testing::TestParamInfo<NoticeCase> &info) { return std::string(info.param.name); });

TEST(NoticeSim, HealthyMachineGetsNoNotice) {
  const ToolRun run = RunNoticeSim({}, "healthy");
  ASSERT_EQ(run.exit_code, 0) << run.standard_error;
  const json s = run.Summary();
  EXPECT_EQ(s["storage_absent"], 0);
  EXPECT_EQ(s["secure_boot_state"], 1);
  EXPECT_EQ(s["connected"], json({"nvme0"}));
  const json &n = s["notifications"][0];
  EXPECT_EQ(n["notice_mode"], 0);
  EXPECT_EQ(n["rule"], "nothing_to_show");
  EXPECT_EQ(n["blt"], nullptr);
  EXPECT_EQ(n["picture"], nullptr);
  EXPECT_EQ(n["cmos_0x30"], 0x00);  // the start marker stays
  EXPECT_EQ(n["stall_us"], 0);
  EXPECT_EQ(n["get_variable_calls"], 1);
  EXPECT_EQ(n["ec_reads"], json::parse(R"([{"register":128,"value":0},{"register":147,"value":0},
                                            {"register":13,"value":0}])"));
  ExpectBlackScreen(run.Screen(), 1280, 800);
}

struct LevelCase {
  const char *name;
  std::vector<std::string> args;
  unsigned mode;
  const char *rule;
  uint64_t stall_us;
  bool shutdown;
};

class CriticalLevelCheck : public testing::TestWithParam<LevelCase> {};

// The second level read, a second after the first, happens only when the first is critical.
TEST_P(CriticalLevelCheck, WaitsAndDecidesAsTheLevelsSay) {
  const LevelCase &c = GetParam();
  const ToolRun run = RunNoticeSim(c.args, c.name);
  ASSERT_EQ(run.exit_code, 0) << run.standard_error;
  const json summary = run.Summary();
  const json &n = summary["notifications"][0];
  EXPECT_EQ(n["notice_mode"], c.mode);
  EXPECT_EQ(n["rule"], c.rule);
  EXPECT_EQ(n["rule_mode"], c.mode);
  EXPECT_EQ(n["stall_us"], c.stall_us);
  EXPECT_EQ(n["shutdown"], c.shutdown);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, CriticalLevelCheck,
    testing::Values(
        LevelCase{"levels_5_then_6", {"--ec", "0x80=2", "--ec", "0x93=5,6"}, 0, "nothing_to_show", 1000000, false},
        LevelCase{"level_6", {"--ec", "0x80=2", "--ec", "0x93=6"}, 0, "nothing_to_show", 0, false},
        LevelCase{"level_ff", {"--ec", "0x80=0x0E", "--ec", "0x93=0xFF"}, 0, "nothing_to_show", 0, false},
        // The flag outranks the critical level: notice 2 and no power-off.
        LevelCase{"flag_beats_critical",
                  {"--ec", "0x80=2", "--ec", "0x93=4,3", "--ec", "0x0D=0x02"},
                  2,
                  "ec_flag",
                  5000000,
                  false}),
    [](const testing::TestParamInfo<LevelCase> &info) { return std::string(info.param.name); });

struct FailureCase {
  const char *name;
  std::vector<std::string> args;
  std::vector<std::string> console;
  bool picture_read;
};

class EachFailureLine : public testing::TestWithParam<FailureCase> {};

TEST_P(EachFailureLine, IsPrintedAndNothingIsDrawn) {
  const FailureCase &c = GetParam();
  std::vector<std::string> args = c.args;
  args.insert(args.end(), {"--secure-boot", "0"});
  const ToolRun run = RunNoticeSim(args, c.name);
  ASSERT_EQ(run.exit_code, 0) << run.standard_error;
  const json s = run.Summary();
  const json &n = s["notifications"][0];
  EXPECT_EQ(n["notice_mode"], 5);
  EXPECT_EQ(n["console"], json(c.console));
  EXPECT_EQ(n["blt"], nullptr);
  EXPECT_EQ(n["picture"], c.picture_read ? json(kPictureGuids[5]) : json(nullptr));
  // The hold and the end marker follow whatever failed.
  EXPECT_EQ(n["stall_us"], 4000000);
  EXPECT_EQ(n["cmos_0x30"], 0xAA);
  const uint32_t width = s["screen"]["width"], height = s["screen"]["height"];
  ExpectBlackScreen(run.Screen(), width, height);
  EXPECT_NE(run.standard_output.find("Nothing was drawn"), std::string::npos) << run.standard_output;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, EachFailureLine,
    testing::Values(
        FailureCase{"no_gop", {"--no-gop"}, {"Locate gop protocol failure...\r\n"}, false},
        FailureCase{"missing_picture",
                    {"--no-picture", "5"},
                    {"GetBitMapFromFV failure...\r\n", "ConvertBmpToGopBltofTarvex failure...\r\n"},
                    false},
        // Pool allocations 1 and 2 are the trace records at start-up; the third is the decoded picture.
        FailureCase{
            "decode_allocation_fails", {"--fail-alloc", "3"}, {"ConvertBmpToGopBltofTarvex failure...\r\n"}, true},
        // Fits the width but not the height: the service refuses the request.
        FailureCase{
            "picture_taller_than_screen", {"--screen", "800x150"}, {"GraphicsOutput->Blt failure...\r\n"}, true}),
    [](const testing::TestParamInfo<FailureCase> &info) { return std::string(info.param.name); });

TEST(NoticeSim, NoticeLeavesNoPoolBehind) {
  const ToolRun quiet = RunNoticeSim({}, "pool_quiet");
  const ToolRun shown = RunNoticeSim({"--secure-boot", "0", "--triggers", "3"}, "pool_shown");
  ASSERT_EQ(quiet.exit_code, 0);
  ASSERT_EQ(shown.exit_code, 0);
  // Only what start-up keeps for good (the trace records) is still allocated.
  EXPECT_EQ(shown.Summary()["pool_in_use_bytes"], quiet.Summary()["pool_in_use_bytes"]);
  EXPECT_GT(shown.Summary()["pool_peak_bytes"].get<uint64_t>(), quiet.Summary()["pool_peak_bytes"].get<uint64_t>());
}

TEST(NoticeSim, TriggerBeforeEndOfDxeShowsNoStorageAndTheNoticeRepeats) {
  const ToolRun run = RunNoticeSim({"--trigger-before-end-of-dxe"}, "early_trigger");
  ASSERT_EQ(run.exit_code, 0) << run.standard_error;
  const json s = run.Summary();
  ASSERT_EQ(s["notifications"].size(), 2u);
  EXPECT_EQ(s["notifications"][0]["before_end_of_dxe"], true);
  EXPECT_EQ(s["notifications"][0]["notice_mode"], 4);
  EXPECT_EQ(s["notifications"][0]["rule"], "storage_absent");
  // Storage is found afterwards, but nothing else applies: notice 4 stays.
  EXPECT_EQ(s["connected"], json({"nvme0"}));
  EXPECT_EQ(s["notifications"][1]["notice_mode"], 4);
  EXPECT_EQ(s["notifications"][1]["rule"], "previous_notice");
  EXPECT_EQ(s["notifications"][1]["get_variable_calls"], 0);
}

TEST(NoticeSim, PowerOffEndsTheBoot) {
  const ToolRun run = RunNoticeSim({"--ec", "0x80=2", "--ec", "0x93=5", "--triggers", "3"}, "power_off");
  ASSERT_EQ(run.exit_code, 0) << run.standard_error;
  const json s = run.Summary();
  EXPECT_EQ(s["notifications"].size(), 1u);
  EXPECT_EQ(s["triggers_skipped"], 2);
  EXPECT_EQ(s["notifications"][0]["shutdown"], true);
  EXPECT_EQ(s["faults"], json::array());
  EXPECT_NE(run.standard_output.find("powered the machine off"), std::string::npos);
}

TEST(NoticeSim, NvmeIsPreferredOverSata) {
  const ToolRun both = RunNoticeSim({"--pci", "sata0=01.06.01", "--pci", "nvme0=01.08.02"}, "nvme_first");
  EXPECT_EQ(both.Summary()["connected"], json({"nvme0"}));
  const ToolRun sata = RunNoticeSim({"--pci", "sata0=01.06.01", "--pci", "sata1=01.06.00"}, "sata_only");
  EXPECT_EQ(sata.Summary()["connected"], json({"sata0", "sata1"}));
  EXPECT_EQ(sata.Summary()["storage_absent"], 0);
}

TEST(NoticeSim, OwnPictureIsDrawnAndTraceBaseIsTaken) {
  demo::Canvas canvas(4, 3, demo::Rgb{10, 20, 30});
  canvas.Set(0, 0, demo::Rgb{255, 0, 0});
  canvas.Set(3, 2, demo::Rgb{0, 0, 255});
  const auto bmp = demo::EncodeBmp(canvas, 24);
  ASSERT_TRUE(bmp.has_value());
  const std::string file = FreshDir("own_picture_file") + "/tiny.bmp";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char *>(bmp->data()), bmp->size());

  const ToolRun run =
      RunNoticeSim({"--secure-boot", "0", "--picture", "5=" + file, "--trace-hub-base", "0xFE000000"}, "own_picture");
  ASSERT_EQ(run.exit_code, 0) << run.standard_error;
  const json s = run.Summary();
  EXPECT_EQ(s["trace_hub_base"], 0xFE000000u);
  EXPECT_EQ(s["notifications"][0]["blt"], json({{"x", 628}, {"y", 398}, {"width", 4}, {"height", 3}}));
  std::vector<demo::Rgb> pixels;
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) pixels.push_back(canvas.At(x, y));
  }
  ExpectScreenShows(run.Screen(), {628, 398, 4, 3}, pixels);
}

// A 4x3 picture of one colour, written to a file of its own.
std::string WriteSolidPicture(const std::string &name, demo::Rgb colour) {
  const auto bmp = demo::EncodeBmp(demo::Canvas(4, 3, colour), 24);
  EXPECT_TRUE(bmp.has_value());
  const std::string file = FreshDir(name) + "/solid.bmp";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char *>(bmp->data()), bmp->size());
  return file;
}

TEST(NoticeSim, SecondVolumeServesWhatTheFirstLacksAndTheFirstWins) {
  const demo::Rgb first{10, 20, 30};
  const demo::Rgb second{200, 100, 50};
  const std::string first_file = WriteSolidPicture("volume1_picture", first);
  const std::string second_file = WriteSolidPicture("volume2_picture", second);
  struct Case {
    const char *name;
    std::vector<std::string> pictures;
    demo::Rgb shown;
  };
  const Case cases[] = {
      {"only_in_second", {"--no-picture", "5", "--second-volume", "5=" + second_file}, second},
      {"in_both", {"--picture", "5=" + first_file, "--second-volume", "5=" + second_file}, first},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--secure-boot", "0"};
    args.insert(args.end(), c.pictures.begin(), c.pictures.end());
    const ToolRun run = RunNoticeSim(args, std::string("second_volume_") + c.name);
    ASSERT_EQ(run.exit_code, 0) << run.standard_error;
    const json n = run.Summary()["notifications"][0];
    EXPECT_EQ(n["blt"], json({{"x", 628}, {"y", 398}, {"width", 4}, {"height", 3}}));
    EXPECT_EQ(n["console"], json::array());
    ExpectScreenShows(run.Screen(), {628, 398, 4, 3}, std::vector<demo::Rgb>(12, c.shown));
  }
}

TEST(NoticeSim, TimelineIsOrderedAndCarriesTheCmosMarkers) {
  const ToolRun run = RunNoticeSim({"--secure-boot", "0"}, "timeline");
  ASSERT_EQ(run.exit_code, 0);
  const auto events = run.Events();
  ASSERT_FALSE(events.empty());
  uint64_t last = 0;
  std::vector<std::string> cmos_data;
  size_t blts = 0, ec_ports = 0;
  for (const json &e : events) {
    ASSERT_FALSE(e.is_discarded());
    const uint64_t t = e["t_us"];
    EXPECT_GE(t, last);
    last = t;
    if (e["kind"] == "port_write" && e["port"] == "0x73") cmos_data.push_back(e["value"]);
    if (e["kind"] == "call" && e["name"] == "Blt") {
      ++blts;
      EXPECT_EQ(e["status"], "EFI_SUCCESS");
    }
    if (e.value("device", "") == "ec") ++ec_ports;
  }
  EXPECT_EQ(cmos_data, (std::vector<std::string>{"0x0", "0xAA"}));
  EXPECT_EQ(blts, 1u);
  EXPECT_GE(ec_ports, 3u * 6u);  // three register reads of six port accesses each, at least
  EXPECT_EQ(last, run.Summary()["virtual_time_us"]);
}

struct BadRun {
  const char *name;
  std::vector<std::string> args;
  int exit_code;
  const char *message;
};

class BadInvocation : public testing::TestWithParam<BadRun> {};

TEST_P(BadInvocation, FailsWithAClearMessageAndWritesNothing) {
  const BadRun &c = GetParam();
  const ToolRun run = RunNoticeSim(c.args, c.name);
  EXPECT_EQ(run.exit_code, c.exit_code);
  EXPECT_EQ(run.standard_error.rfind("notice-sim: ", 0), 0u) << run.standard_error;
  EXPECT_NE(run.standard_error.find(c.message), std::string::npos) << run.standard_error;
  EXPECT_FALSE(run.HasFile("summary.json"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInvocation,
    testing::Values(BadRun{"unknown", {"--colour"}, 2, "unknown option '--colour'"},
                    BadRun{"bad_screen", {"--screen", "wide"}, 2, "--screen wants WIDTHxHEIGHT"},
                    BadRun{"bad_secure_boot", {"--secure-boot", "0x100"}, 2, "--secure-boot wants a byte"},
                    BadRun{"missing_value", {"--triggers"}, 2, "--triggers needs a value"},
                    BadRun{"missing_picture",
                           {"--picture", "2=/nonexistent/notice2.bmp"},
                           1,
                           "--picture 2=/nonexistent/notice2.bmp: does not exist"},
                    BadRun{
                        "picture_is_a_folder", {"--picture", "5=/tmp"}, 1, "--picture 5=/tmp: is a folder, not a file"},
                    BadRun{"picture_is_a_device",
                           {"--picture", "5=/dev/zero"},
                           1,
                           "--picture 5=/dev/zero: is a character device, not a file"},
                    BadRun{"bad_second_volume", {"--second-volume", "7=x.bmp"}, 2, "--second-volume wants MODE=FILE"},
                    BadRun{"unreadable_second_volume",
                           {"--second-volume", "5=/nonexistent/n5.bmp"},
                           1,
                           "--second-volume 5=/nonexistent/n5.bmp: does not exist"}),
    [](const testing::TestParamInfo<BadRun> &info) { return std::string(info.param.name); });

TEST(NoticeSim, AFailedWriteLeavesEveryOutputAsItWas) {
  const std::string dir = FreshDir("write-failure");
  const std::vector<std::string> outputs = {"out/screen.png", "out/summary.json", "out/events.jsonl", "sheet.png"};
  std::filesystem::create_directories(dir + "/out");
  for (const std::string &name : outputs) tool_test::WriteBytes(dir + "/" + name, {'o', 'l', 'd'});
  const std::vector<std::string> args = {"--secure-boot",   "0", "--out", dir + "/out", "--contact-sheet",
                                         dir + "/sheet.png"};
  // Every output but summary.json is larger than 4 KiB.
  const ToolRun failed = RunNoticeSimRaw(args, "write-failure-run", "ulimit -f 4;");
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_EQ(tool_test::LineCount(failed.standard_error), 1u) << failed.standard_error;
  EXPECT_NE(failed.standard_error.find("the file size limit was reached (ulimit -f); it was left as it was"),
            std::string::npos)
      << failed.standard_error;
  EXPECT_EQ(failed.standard_output, "");
  for (const std::string &name : outputs) {
    EXPECT_EQ(tool_test::ReadBytes(dir + "/" + name), (std::vector<uint8_t>{'o', 'l', 'd'})) << name;
  }
  size_t files = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::recursive_directory_iterator(dir)) ++files;
  EXPECT_EQ(files, outputs.size() + 1);  // no temporary file left, beside the out folder itself

  const ToolRun written = RunNoticeSimRaw(args, "write-failure-run");
  EXPECT_EQ(written.exit_code, 0) << written.standard_error;
  for (const std::string &name : outputs) EXPECT_GT(tool_test::ReadBytes(dir + "/" + name).size(), 100u) << name;
}

TEST(NoticeSim, APictureWithMorePixelsThanAnySimulatedScreenIsRefusedUndecoded) {
  const std::string dir = FreshDir("huge-picture");
  bmptest::Picture picture;
  picture.width = 8193;
  picture.height = 8192;
  picture.bits_per_pixel = 1;
  picture.colour_map = {0, 0xFFFFFF};
  picture.pixels.assign(size_t{8193} * 8192, 1);
  tool_test::WriteBytes(dir + "/huge.bmp", bmptest::Encode(picture));
  const ToolRun run = RunNoticeSimRaw({"--picture", "5=" + dir + "/huge.bmp", "--out", dir + "/out"}, "huge-run");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.standard_error, "notice-sim: --picture 5=" + dir +
                                    "/huge.bmp: a picture of 8,193 x 8,192 pixels holds more pixels than 8192x8192, "
                                    "the largest screen notice-sim simulates: no screen shows it; make it at most "
                                    "that size\n");
  EXPECT_FALSE(std::filesystem::exists(dir + "/out"));
}

// Pictures no screen shows but whose pixels are few are simulated as the
// driver handles them: one wider than any screen is not drawn, one of no width
// but 0x7FFFFFFF rows reaches GraphicsOutput->Blt, which refuses it.
TEST(NoticeSim, APictureNoScreenShowsButWithFewPixelsIsSimulated) {
  const std::string dir = FreshDir("few-pixels");
  bmptest::Picture wide;
  wide.width = 8193;
  wide.height = 2;
  wide.bits_per_pixel = 1;
  wide.colour_map = {0, 0xFFFFFF};
  wide.pixels.assign(8193 * 2, 1);
  tool_test::WriteBytes(dir + "/wide.bmp", bmptest::Encode(wide));
  const ToolRun sheet =
      RunNoticeSimRaw({"--picture", "5=" + dir + "/wide.bmp", "--contact-sheet", dir + "/s.png"}, "wide-run");
  EXPECT_EQ(sheet.exit_code, 0) << sheet.standard_error;
  EXPECT_NE(sheet.standard_output.find("notice 5: not drawn: 8,193 pixels wide"), std::string::npos)
      << sheet.standard_output;

  bmptest::Picture empty;
  empty.width = 1;
  empty.height = 1;
  empty.bits_per_pixel = 24;
  empty.pixels.assign(1, 0);
  std::vector<uint8_t> tall = bmptest::Encode(empty);
  tall.resize(54);  // headers only: rows of no width hold no bytes
  const uint32_t file_size = 54, no_width = 0, rows = 0x7FFFFFFF, no_pixel_bytes = 0;
  std::memcpy(&tall[2], &file_size, 4);
  std::memcpy(&tall[18], &no_width, 4);
  std::memcpy(&tall[22], &rows, 4);
  std::memcpy(&tall[34], &no_pixel_bytes, 4);
  tool_test::WriteBytes(dir + "/tall.bmp", tall);
  const ToolRun run =
      RunNoticeSimRaw({"--secure-boot", "0", "--picture", "5=" + dir + "/tall.bmp", "--out", dir + "/out"}, "tall-run");
  EXPECT_EQ(run.exit_code, 0) << run.standard_error;
  EXPECT_NE(run.standard_output.find("GraphicsOutput->Blt failure..."), std::string::npos) << run.standard_output;
}

TEST(NoticeSim, AnOutputFolderThatCannotBeMadeIsRefused) {
  const std::string dir = FreshDir("bad-out");
  tool_test::WriteBytes(dir + "/file", {1});
  const ToolRun run = RunNoticeSimRaw({"--out", dir + "/file"}, "bad-out-run");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.standard_error, "notice-sim: cannot make the folder " + dir + "/file: it is a file\n");
  const ToolRun nested =
      RunNoticeSimRaw({"--out", dir + "/new/out", "--contact-sheet", dir + "/none/s.png"}, "bad-out-run");
  EXPECT_EQ(nested.exit_code, 1);
  EXPECT_NE(nested.standard_error.find("the folder " + dir + "/none does not exist"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir + "/new"));
}

TEST(NoticeSim, HelpAndMissingOut) {
  const ToolRun help = RunNoticeSimRaw({"--help"}, "help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.standard_output.find("usage: notice-sim"), std::string::npos);
  const ToolRun no_out = RunNoticeSimRaw({}, "no_out");
  EXPECT_EQ(no_out.exit_code, 2);
  EXPECT_NE(no_out.standard_error.find("--out DIR is required"), std::string::npos);
}

}  // namespace
}  // namespace preview_test
