// Command-line parsing of notice-sim: accepted forms and the errors for bad ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "number_parse.h"
#include "options.h"

namespace preview {
namespace {

Options ParseOk(std::vector<std::string> args) {
  args.push_back("--out");
  args.push_back("dir");
  ParseResult r = ParseOptions(args);
  EXPECT_TRUE(r.options.has_value()) << r.error;
  return r.options.value_or(Options{});
}

TEST(NumberParse, DecimalHexAndLimits) {
  struct Case {
    const char *text;
    uint64_t max;
    std::optional<uint64_t> expected;
  };
  const Case cases[] = {
      {"0", 255, 0},
      {"255", 255, 255},
      {"256", 255, std::nullopt},
      {"0xFF", 255, 255},
      {"0Xff", 255, 255},
      {"0x100", 255, std::nullopt},
      {"0x", 255, std::nullopt},
      {"", 255, std::nullopt},
      {"-1", 255, std::nullopt},
      {" 1", 255, std::nullopt},
      {"1a", 255, std::nullopt},
      {"12abc", 0xFFFF, std::nullopt},
      {"7", 6, std::nullopt},
      {"9", 6, std::nullopt},
      {"0x10", 15, std::nullopt},
      {"18446744073709551615", UINT64_MAX, UINT64_MAX},
      {"18446744073709551616", UINT64_MAX, std::nullopt},
      {"0xFFFFFFFFFFFFFFFF", UINT64_MAX, UINT64_MAX},
      {"0x10000000000000000", UINT64_MAX, std::nullopt},
  };
  for (const Case &c : cases) EXPECT_EQ(ParseNumber(c.text, c.max), c.expected) << c.text;
  EXPECT_EQ(ParseHex("08", 0xFF), 8u);
  EXPECT_EQ(ParseHex("0x1f", 0xFF), 0x1Fu);
  EXPECT_EQ(ParseHex("1G", 0xFF), std::nullopt);
}

TEST(Options, DefaultsDescribeAHealthyMachine) {
  const Options o = ParseOk({});
  EXPECT_EQ(o.out_dir, "dir");
  EXPECT_EQ(o.screen_width, 1280u);
  EXPECT_EQ(o.screen_height, 800u);
  ASSERT_EQ(o.pci.size(), 1u);
  EXPECT_EQ(o.pci[0].name, "nvme0");
  EXPECT_EQ(o.pci[0].base_class, 0x01);
  EXPECT_EQ(o.pci[0].subclass, 0x08);
  EXPECT_EQ(o.secure_boot, SecureBootVariable::kByte);
  EXPECT_EQ(o.secure_boot_byte, 1);
  EXPECT_EQ(o.ec_kind, sim::EcKind::kIdle);
  EXPECT_EQ(o.triggers, 1u);
  EXPECT_FALSE(o.trace_hub_base.has_value());
}

TEST(Options, AcceptedForms) {
  Options o = ParseOk({"--screen",
                       "0x400x0x300",
                       "--pci",
                       "sata0=01.06.01",
                       "--pci",
                       "nic=2.0.0",
                       "--secure-boot",
                       "0xFF",
                       "--ec",
                       "0x80=2",
                       "--ec",
                       "147=6,5,4",
                       "--ec-kind=stuck-input",
                       "--picture",
                       "3=a.bmp",
                       "--no-picture",
                       "5",
                       "--triggers",
                       "0x3",
                       "--trigger-before-end-of-dxe",
                       "--no-gop",
                       "--no-console",
                       "--trace-hub-base",
                       "0xFE000000",
                       "--fail-alloc",
                       "3",
                       "--cpuid-15",
                       "2,176,0",
                       "--cpuid-max-leaf",
                       "0x15"});
  EXPECT_EQ(o.screen_width, 1024u);
  EXPECT_EQ(o.screen_height, 768u);
  ASSERT_EQ(o.pci.size(), 2u);  // the default controller is replaced, order kept
  EXPECT_EQ(o.pci[0].name, "sata0");
  EXPECT_EQ(o.pci[0].subclass, 0x06);
  EXPECT_EQ(o.pci[1].base_class, 0x02);
  EXPECT_EQ(o.secure_boot_byte, 0xFF);
  EXPECT_EQ(o.ec_registers.at(0x80), std::vector<uint8_t>({2}));
  EXPECT_EQ(o.ec_registers.at(0x93), std::vector<uint8_t>({6, 5, 4}));
  EXPECT_EQ(o.ec_kind, sim::EcKind::kStuckInput);
  EXPECT_EQ(o.picture_files.at(3), "a.bmp");
  EXPECT_EQ(o.no_picture.count(5), 1u);
  EXPECT_EQ(o.triggers, 3u);
  EXPECT_TRUE(o.trigger_before_end_of_dxe && o.no_gop && o.no_console);
  EXPECT_EQ(o.trace_hub_base, 0xFE000000u);
  EXPECT_EQ(o.fail_alloc, 3u);
  ASSERT_TRUE(o.cpuid_15.has_value());
  EXPECT_EQ(o.cpuid_15->ebx, 176u);
  EXPECT_EQ(o.cpuid_max_leaf, 0x15u);

  EXPECT_TRUE(ParseOk({"--pci", "none"}).pci.empty());
  EXPECT_EQ(ParseOk({"--secure-boot", "missing"}).secure_boot, SecureBootVariable::kMissing);
  EXPECT_EQ(ParseOk({"--secure-boot", "big"}).secure_boot, SecureBootVariable::kBig);
}

TEST(Options, BadOptionsSayWhatIsWrong) {
  struct Case {
    std::vector<std::string> args;
    const char *message_part;
  };
  const std::vector<Case> cases = {
      {{}, "--out DIR is required"},
      {{"--out"}, "--out needs a value"},
      {{"--triggers", "--no-gop"}, "--triggers needs a value"},
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--screen", "1280"}, "--screen wants WIDTHxHEIGHT"},
      {{"--screen", "0x800"}, "--screen wants WIDTHxHEIGHT"},
      {{"--screen", "99999x800"}, "--screen wants WIDTHxHEIGHT"},
      {{"--screen", "1x1", "--screen", "2x2"}, "--screen is given more than once"},
      {{"--pci", "nvme0"}, "--pci wants NAME=CC.SS.PI"},
      {{"--pci", "nvme0=01.08"}, "--pci wants NAME=CC.SS.PI"},
      {{"--pci", "nvme0=01.108.02"}, "--pci wants NAME=CC.SS.PI"},
      {{"--pci", "=01.08.02"}, "--pci wants NAME=CC.SS.PI"},
      {{"--pci", "a=01.08.02", "--pci", "a=01.06.01"}, "the name 'a' is used twice"},
      {{"--pci", "none", "--pci", "a=01.08.02"}, "--pci none cannot be combined"},
      {{"--pci", "a=01.08.02", "--pci", "none"}, "--pci none cannot be combined"},
      {{"--secure-boot", "256"}, "--secure-boot wants a byte"},
      {{"--secure-boot", "yes"}, "--secure-boot wants a byte"},
      {{"--ec", "0x80"}, "--ec wants REG=V1"},
      {{"--ec", "0x80=256"}, "--ec wants REG=V1"},
      {{"--ec", "0x80=1,"}, "--ec wants REG=V1"},
      {{"--ec", "0x80=1", "--ec", "128=2"}, "is given twice"},
      {{"--ec-kind", "busy"}, "--ec-kind wants idle, absent, stuck-input or no-output"},
      {{"--picture", "7=a.bmp"}, "--picture wants MODE=FILE.bmp"},
      {{"--picture", "0=a.bmp"}, "--picture wants MODE=FILE.bmp"},
      {{"--picture", "1="}, "--picture wants MODE=FILE.bmp"},
      {{"--picture", "2=a.bmp", "--no-picture", "2"}, "both name mode 2"},
      {{"--no-picture", "9"}, "--no-picture wants a mode from 1 to 6"},
      {{"--triggers", "1001"}, "--triggers wants a count"},
      {{"--trace-hub-base", "0x100000000"}, "--trace-hub-base wants a 32-bit address"},
      {{"--fail-alloc", "0"}, "--fail-alloc wants the number"},
      {{"--cpuid-15", "1,2"}, "--cpuid-15 wants EAX,EBX,ECX"},
      {{"--cpuid-max-leaf", "x"}, "--cpuid-max-leaf wants a 32-bit number"},
      {{"--no-gop=1"}, "--no-gop takes no value"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> args = c.args;
    const bool has_out = std::find(args.begin(), args.end(), "--out") != args.end();
    if (!has_out && !c.args.empty()) {
      args.insert(args.begin(), {"--out", "dir"});
    }
    ParseResult r = ParseOptions(args);
    EXPECT_FALSE(r.options.has_value()) << c.message_part;
    EXPECT_NE(r.error.find(c.message_part), std::string::npos) << "got: " << r.error;
  }
}

TEST(Options, HelpIsNotAnError) {
  ParseResult r = ParseOptions({"--help"});
  EXPECT_TRUE(r.help);
  EXPECT_FALSE(r.options.has_value());
  EXPECT_NE(UsageText().find("--out DIR"), std::string::npos);
}

}  // namespace
}  // namespace preview
