#include <gtest/gtest.h>

#include "tools/notice-pack/command_line.h"
#include "tools/notice-pack/notice_files.h"
#include "tools/notice-pack/pack_error.h"

namespace {

using namespace notice_pack;

TEST(CommandLine, PicturesByNumberOrGuid) {
  const PackRequest request = ParseCommandLine({"--driver", "notice.efi", "--picture", "3=crit.bmp", "--picture",
                                                "00112233-4455-6677-8899-AABBCCDDEEFF=x.bmp", "--fv-out", "n.fv"});
  EXPECT_EQ(request.DriverPath, std::filesystem::path("notice.efi"));
  EXPECT_EQ(request.DriverName, "NoticeDxe");
  ASSERT_EQ(request.Pictures.size(), 2u);
  EXPECT_EQ(request.Pictures[0].FileGuid, kNoticePictureGuids[2]);
  EXPECT_EQ(request.Pictures[0].Path, std::filesystem::path("crit.bmp"));
  EXPECT_EQ(FormatGuid(request.Pictures[1].FileGuid), "00112233-4455-6677-8899-AABBCCDDEEFF");
  EXPECT_EQ(request.VolumeOut, std::filesystem::path("n.fv"));
  EXPECT_FALSE(request.FfsOutDir);
}

TEST(CommandLine, RefusesMisuse) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--driver", "a.efi"},
      {"--ffs-out", "dir"},
      {"--driver", "a.efi", "--ffs-out"},
      {"--driver", "a.efi", "--ffs-out", "d", "--bogus", "x"},
      {"--picture", "0=a.bmp", "--ffs-out", "d"},
      {"--picture", "7=a.bmp", "--ffs-out", "d"},
      {"--picture", "1x=a.bmp", "--ffs-out", "d"},
      {"--picture", "1=", "--ffs-out", "d"},
      {"--picture", "a.bmp", "--ffs-out", "d"},
      {"--picture", "2=a.bmp", "--picture", "2=b.bmp", "--ffs-out", "d"},
      {"--driver", "a.efi", "--picture", "1E16495C-074B-42D0-884C-5729229B3EEB=a.bmp", "--ffs-out", "d"},
  };
  for (const auto &args : cases) {
    std::string joined;
    for (const auto &arg : args) joined += arg + " ";
    EXPECT_THROW(ParseCommandLine(args), UsageError) << joined;
  }
}

TEST(CommandLine, NamesTheRealMistake) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus", "x", "--driver", "a.efi", "--ffs-out", "d"}, "unknown option '--bogus'"},
      {{"--driver", "a.efi", "--bogus"}, "unknown option '--bogus'"},
      {{"--driver", "--ffs-out", "d"}, "option '--driver' needs a value"},
      {{"--driver", "a.efi", "--ffs-out"}, "option '--ffs-out' needs a value"},
  };
  for (const auto &[args, message] : cases) {
    try {
      ParseCommandLine(args);
      ADD_FAILURE() << "accepted: " << message;
    } catch (const UsageError &error) {
      EXPECT_EQ(error.what(), message);
    }
  }
}

}  // namespace
