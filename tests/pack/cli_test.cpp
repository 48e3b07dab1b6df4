// The built notice-pack run as a user runs it, on hostile and mistaken input:
// each refusal is one line on standard error naming what was given and what
// was found, with exit status 1 (2 for a command line that cannot be
// understood); no file it was given or told to write changes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/display/bmp_writer.h"
#include "tests/picture_tools/artwork_files.h"
#include "tests/picture_tools/png_writer.h"
#include "tests/support/command_run.h"

namespace {

namespace fs = std::filesystem;
using tool_test::ReadBytes;
using tool_test::WriteBytes;

// NOTICE_PACK_UNDER_TEST runs these tests against another build of the tool.
std::string NoticePack() {
  const char *other = std::getenv("NOTICE_PACK_UNDER_TEST");
  return other != nullptr ? other : NOTICE_PACK_PATH;
}

const std::vector<uint8_t> kKeep = {'k', 'e', 'e', 'p'};

std::vector<uint8_t> Bmp(uint32_t width, uint32_t height) {
  bmptest::Picture picture;
  picture.width = width;
  picture.height = height;
  for (uint32_t i = 0; i < width * height; ++i) picture.pixels.push_back(i * 0x030507);
  return bmptest::Encode(picture);
}

class NoticePackCli : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("notice-pack-cli-" + std::to_string(getpid()) + "-" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "folder");
    mkfifo(Path("fifo").c_str(), 0600);
    WriteBytes(Path("empty"), {});
    WriteBytes(Path("art.png"), artwork_test::WritePng(2, 1, {{255, 0, 0, 255}, {0, 0, 255, 255}}));
    WriteBytes(Path("notice5.bmp"), Bmp(4, 3));
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string &name) const { return (dir_ / name).string(); }

  tool_test::CommandResult Run(std::vector<std::string> args, const std::string &shell_prefix = "") {
    args.insert(args.begin(), NoticePack());
    return tool_test::RunCommand(args, dir_, shell_prefix);
  }

  // Every name in the test folder, to see that nothing was added or left.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(dir_)) {
      names.push_back(fs::relative(entry.path(), dir_).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

// One line on standard error holding `expected`, nothing on standard output.
void ExpectOneLineRefusal(const tool_test::CommandResult &run, int exit_code, const std::string &expected) {
  EXPECT_EQ(run.exit_code, exit_code) << run.standard_error;
  EXPECT_EQ(tool_test::LineCount(run.standard_error), 1u) << run.standard_error;
  EXPECT_NE(run.standard_error.find(expected), std::string::npos) << run.standard_error;
  EXPECT_EQ(run.standard_output, "");
}

struct HostileInput {
  const char *name;
  std::vector<uint8_t> bytes;  // written as the input file, unless `path` names one
  const char *path;
  const char *convert_finding;  // what convert says
  const char *picture_finding;  // what --picture 5= says
};

std::vector<HostileInput> HostileInputs() {
  std::vector<uint8_t> offset_in_header = artwork_test::WriteBmp({}, 2, 2, {0, 0, 0, 0});
  artwork_test::Put(offset_in_header, 10, 5, 4);
  const std::vector<uint8_t> png = artwork_test::WritePng(3, 3, std::vector<picture_tools::Rgba>(9));
  return {
      {"folder", {}, "folder", "folder: is a folder, not a file", "folder: is a folder, not a file"},
      {"fifo", {}, "fifo", "fifo: is a FIFO (named pipe), not a file", "fifo: is a FIFO (named pipe), not a file"},
      {"zero device",
       {},
       "/dev/zero",
       "/dev/zero: is a character device, not a file",
       "/dev/zero: is a character device, not a file"},
      {"null device",
       {},
       "/dev/null",
       "/dev/null: is a character device, not a file",
       "/dev/null: is a character device, not a file"},
      {"missing", {}, "missing.png", "missing.png: does not exist", "missing.png: does not exist"},
      {"empty",
       {},
       "empty",
       "the file is empty (0 bytes): not a picture",
       "the file is empty (0 bytes): not a picture"},
      // Refused from IHDR alone; the refusal must also free libpng's state (the sanitizer build checks).
      {"huge PNG", png_test::Join({png_test::Ihdr(20000, 20000, 1, 0)}), nullptr,
       "a PNG of 20,000 x 20,000 pixels is larger than 3840x2160, the largest screen these tools know",
       "this is a PNG file, not a BMP"},
      {"text chunk claiming 2 GiB",
       png_test::Join({png_test::Ihdr(1, 1), png_test::Chunk("tEXt", std::vector<uint8_t>(20, 'a'), 0x7FFFFFFF)}),
       nullptr, "unreadable PNG: the file ends inside a chunk: it is cut short", "this is a PNG file, not a BMP"},
      {"cut PNG", std::vector<uint8_t>(png.begin(), png.begin() + 40), nullptr,
       "unreadable PNG:", "this is a PNG file, not a BMP"},
      {"pixel offset inside the headers", offset_in_header, nullptr,
       "the BMP's pixel data offset 5 points inside its headers, which end at byte 54",
       "the pixel data from byte 5 to the end holds 65 bytes"},
      {"huge declared BMP", bmptest::HeaderWith(100000, 100000, 24, bmptest::kHeaderSize, 16), nullptr,
       "a BMP of 100,000 x 100,000 pixels is larger than 3840x2160",
       "100,000 x 100,000 pixels at 24-bit need more than 4 GiB of pixel data"},
      {"GIF", {'G', 'I', 'F', '8', '9', 'a', 0, 0}, nullptr, "GIF files are not read", "this is a GIF file"},
  };
}

TEST_F(NoticePackCli, HostileArtworkIsRefusedInOneLineAndNothingIsWritten) {
  for (const HostileInput &input : HostileInputs()) {
    SCOPED_TRACE(input.name);
    const std::string path =
        input.path != nullptr ? (input.path[0] == '/' ? input.path : Path(input.path)) : Path("input.bin");
    if (input.path == nullptr) WriteBytes(path, input.bytes);
    WriteBytes(Path("out.bmp"), kKeep);
    ExpectOneLineRefusal(Run({"convert", path, Path("out.bmp")}), 1, input.convert_finding);
    EXPECT_EQ(ReadBytes(Path("out.bmp")), kKeep);

    WriteBytes(Path("out.fv"), kKeep);
    const tool_test::CommandResult pack = Run({"--picture", "5=" + path, "--fv-out", Path("out.fv")});
    ExpectOneLineRefusal(pack, 1, input.picture_finding);
    if (input.path != nullptr && input.bytes.empty() && std::string(input.name) != "empty") {
      EXPECT_NE(pack.standard_error.find("--picture 5=" + path), std::string::npos);
    }
    EXPECT_EQ(ReadBytes(Path("out.fv")), kKeep);
  }
  EXPECT_EQ(Names(), (std::vector<std::string>{"art.png", "empty", "fifo", "folder", "input.bin", "notice5.bmp",
                                               "out.bmp", "out.fv"}));
}

TEST_F(NoticePackCli, TheDriverOptionNamesWhatItFound) {
  ExpectOneLineRefusal(Run({"--driver", Path("folder"), "--ffs-out", Path("ffs")}), 1,
                       "--driver " + Path("folder") + ": is a folder, not a file");
  ExpectOneLineRefusal(Run({"--driver", "/dev/zero", "--ffs-out", Path("ffs")}), 1,
                       "--driver /dev/zero: is a character device, not a file");
  EXPECT_FALSE(fs::exists(Path("ffs")));
}

TEST_F(NoticePackCli, OutputsThatCannotBeWrittenAreRefusedAndLeftAlone) {
  WriteBytes(Path("out.bmp"), kKeep);
  // A picture kept where --ffs-out would write picture 5's file.
  const std::string named_like_output = Path("folder/C6E37D95-A12F-4321-AB6C-A0EB9708100A.ffs");
  WriteBytes(named_like_output, Bmp(2, 2));
  struct OutputCase {
    std::vector<std::string> args;
    int exit_code;
    std::string expected;
  };
  const std::vector<OutputCase> cases = {
      {{"convert", Path("art.png"), Path("nowhere/out.bmp")}, 1, "the folder " + Path("nowhere") + " does not exist"},
      {{"convert", Path("art.png"), Path("folder")}, 1, "it is a folder, not a file; it was left as it was"},
      {{"convert", Path("art.png"), Path("fifo")}, 1, "it is a FIFO (named pipe), not a file"},
      {{"convert", Path("art.png"), Path("art.png")}, 2, "is the artwork itself; give another name"},
      {{"convert", Path("art.png"), dir_.string() + "/./art.png"}, 2, "is the artwork itself"},
      {{"--picture", "5=" + Path("notice5.bmp"), "--fv-out", Path("notice5.bmp")},
       2,
       "--fv-out " + Path("notice5.bmp") + " is an input (--picture 5=" + Path("notice5.bmp") + ")"},
      {{"--picture", "5=" + named_like_output, "--ffs-out", Path("folder")},
       2,
       "--ffs-out " + Path("folder") + " writes " + named_like_output + ", which is an input"},
      {{"--picture", "5=" + Path("notice5.bmp"), "--ffs-out", Path("out.bmp")},
       1,
       "cannot make the folder " + Path("out.bmp") + ": it is a file"},
  };
  const std::vector<uint8_t> art = ReadBytes(Path("art.png"));
  const std::vector<uint8_t> picture = ReadBytes(Path("notice5.bmp"));
  for (const OutputCase &c : cases) {
    SCOPED_TRACE(c.args.back());
    ExpectOneLineRefusal(Run(c.args), c.exit_code, c.expected);
  }
  EXPECT_EQ(ReadBytes(Path("art.png")), art);
  EXPECT_EQ(ReadBytes(Path("notice5.bmp")), picture);
  EXPECT_EQ(ReadBytes(Path("out.bmp")), kKeep);
  EXPECT_EQ(ReadBytes(named_like_output), Bmp(2, 2));
  EXPECT_TRUE(fs::is_fifo(Path("fifo")));
  EXPECT_EQ(Names(),
            (std::vector<std::string>{"art.png", "empty", "fifo", "folder",
                                      "folder/C6E37D95-A12F-4321-AB6C-A0EB9708100A.ffs", "notice5.bmp", "out.bmp"}));
}

TEST_F(NoticePackCli, AWriteFailingHalfWayLeavesEveryOutputAsItWas) {
  // Under a 4 KiB file-size limit: picture 5's FFS file fits, picture 1's
  // (30 KiB) does not, nor does the volume or the 36 KiB converted picture.
  WriteBytes(Path("notice1.bmp"), Bmp(100, 100));
  std::vector<picture_tools::Rgba> many_colours;
  for (uint32_t i = 0; i < 110 * 110; ++i)
    many_colours.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0, 255});
  WriteBytes(Path("big.png"), artwork_test::WritePng(110, 110, many_colours));
  fs::create_directory(Path("ffs"));
  const std::string old_ffs = Path("ffs/C6E37D95-A12F-4321-AB6C-A0EB9708100A.ffs");
  WriteBytes(old_ffs, kKeep);
  WriteBytes(Path("ffs/stale.ffs"), kKeep);
  const std::vector<uint8_t> old_volume(5000, 0xEE);
  WriteBytes(Path("out.fv"), old_volume);
  WriteBytes(Path("out.bmp"), kKeep);

  const tool_test::CommandResult pack =
      Run({"--picture", "5=" + Path("notice5.bmp"), "--picture", "1=" + Path("notice1.bmp"), "--ffs-out", Path("ffs"),
           "--fv-out", Path("out.fv")},
          "ulimit -f 4;");
  ExpectOneLineRefusal(pack, 1, "the file size limit was reached (ulimit -f); it was left as it was");
  EXPECT_EQ(ReadBytes(old_ffs), kKeep);
  EXPECT_EQ(ReadBytes(Path("ffs/stale.ffs")), kKeep);
  EXPECT_EQ(ReadBytes(Path("out.fv")), old_volume);

  ExpectOneLineRefusal(Run({"convert", Path("big.png"), Path("out.bmp")}, "ulimit -f 4;"), 1,
                       "cannot write " + Path("out.bmp") + ": the file size limit was reached");
  EXPECT_EQ(ReadBytes(Path("out.bmp")), kKeep);
  EXPECT_EQ(Names(), (std::vector<std::string>{"art.png", "big.png", "empty", "ffs",
                                               "ffs/C6E37D95-A12F-4321-AB6C-A0EB9708100A.ffs", "ffs/stale.ffs", "fifo",
                                               "folder", "notice1.bmp", "notice5.bmp", "out.bmp", "out.fv"}));
}

TEST_F(NoticePackCli, SuccessSaysWhatWasWrittenInPlainWords) {
  const tool_test::CommandResult pack = Run({"--picture", "5=" + Path("notice5.bmp"), "--ffs-out", Path("ffs") + "/"});
  ASSERT_EQ(pack.exit_code, 0) << pack.standard_error;
  EXPECT_EQ(pack.standard_error, "");
  EXPECT_NE(pack.standard_output.find("notice-pack: wrote 1 FFS file into " + Path("ffs") + "/, each named GUID.ffs\n"),
            std::string::npos)
      << pack.standard_output;
  // The folder is named once, with one slash, however it was given.
  for (const std::string &folder : {Path("ffs"), Path("ffs") + "//", Path(".") + "/ffs"}) {
    const tool_test::CommandResult again =
        Run({"--picture", "1=" + Path("notice5.bmp"), "--picture", "5=" + Path("notice5.bmp"), "--ffs-out", folder});
    EXPECT_NE(
        again.standard_output.find("notice-pack: wrote 2 FFS files into " + Path("ffs") + "/, each named GUID.ffs\n"),
        std::string::npos)
        << folder << ": " << again.standard_output << again.standard_error;
  }
  EXPECT_NE(pack.standard_output.find("Room in Debian's OVMF 4 MiB images: the files fit"), std::string::npos);
  EXPECT_EQ(ReadBytes(Path("ffs/C6E37D95-A12F-4321-AB6C-A0EB9708100A.ffs")).size(), 24u + 4 + 90);

  WriteBytes(Path("one.png"), artwork_test::WritePng(2, 2, std::vector<picture_tools::Rgba>(4, {7, 7, 7, 255})));
  const tool_test::CommandResult convert = Run({"convert", Path("one.png"), Path("one.bmp")});
  ASSERT_EQ(convert.exit_code, 0) << convert.standard_error;
  EXPECT_EQ(convert.standard_error, "");
  EXPECT_EQ(convert.standard_output, Path("one.png") + " (PNG, 8-bit RGBA, 2x2, 1 colour) -> " + Path("one.bmp") +
                                         ": 1-bit BMP, 70 bytes; the driver's decoder gives back exactly the "
                                         "artwork's pixels\n");
}

TEST_F(NoticePackCli, ConvertSaysEachChangeToThePixelsOnItsOwnLine) {
  WriteBytes(Path("deep.png"), png_test::WritePng({.colour_type = PNG_COLOR_TYPE_RGB_ALPHA, .bit_depth = 16}, 2, 1,
                                                  {0x1234, 0, 0, 0xFFFF, 0, 0, 0, 0x8000}));
  const tool_test::CommandResult run = Run({"convert", Path("deep.png"), Path("deep.bmp")});
  ASSERT_EQ(run.exit_code, 0) << run.standard_error;
  const std::string prefix = "notice-pack convert: warning: " + Path("deep.png") + ": ";
  EXPECT_EQ(run.standard_error,
            prefix +
                "16 bits per channel are rounded to 8: 2 of 2 pixels lose precision (the BMP holds 8 bits per "
                "channel)\n" +
                prefix +
                "1 of 2 pixels are not opaque (0 transparent, 1 partly): each is laid over black, as the "
                "cleared screen shows it\n");
  EXPECT_NE(run.standard_output.find("(PNG, 16-bit RGBA, 2x1, 2 colours)"), std::string::npos) << run.standard_output;
  EXPECT_NE(run.standard_output.find("exactly the converted pixels, changed as the warnings say"), std::string::npos);
  EXPECT_EQ(run.standard_output.find("artwork's pixels"), std::string::npos);
}

TEST_F(NoticePackCli, HelpIsNoError) {
  for (const std::vector<std::string> &args : {std::vector<std::string>{"--help"}, {"convert", "--help"}}) {
    const tool_test::CommandResult run = Run(args);
    EXPECT_EQ(run.exit_code, 0) << args.back();
    EXPECT_EQ(run.standard_error, "");
    EXPECT_NE(run.standard_output.find("usage: notice-pack convert"), std::string::npos);
  }
  ExpectOneLineRefusal(Run({"convert", Path("art.png")}), 2, "give the artwork and the output file");
  ExpectOneLineRefusal(Run({"convert", Path("art.png"), Path("o.bmp"), "--bogus"}), 2, "unknown option '--bogus'");
}

}  // namespace
