// Console print on the simulated platform: what reaches ConOut, the result,
// and the line buffer's pool life.
#include <gtest/gtest.h>

#include <string>

#include "base/driver_state.h"
#include "print/console_print.h"
#include "print/format_text.h"
#include "sim/platform.h"

namespace {

class ConsolePrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The tables the driver keeps at its entry point.
    platform.BindDriver();
  }

  // Exactly one line buffer was taken, of 642 bytes of boot-services data,
  // and it was released again.
  void ExpectOneLineBufferReleased() {
    const auto allocations = platform.LogOf("AllocatePool");
    ASSERT_EQ(allocations.size(), 1u);
    EXPECT_EQ(allocations[0].Field("PoolType"), "4");
    EXPECT_EQ(allocations[0].Field("Size"), "642");
    EXPECT_EQ(platform.CallCount("FreePool"), 1u);
    EXPECT_EQ(platform.LeakReport(), "");
    EXPECT_TRUE(platform.faults().empty());
  }

  sim::Platform platform;
};

TEST_F(ConsolePrintTest, FailureLineEndsInCarriageReturnLineFeed) {
  EXPECT_EQ(ConsolePrint("Locate gop protocol failure...\n"), 32u);
  EXPECT_EQ(platform.console_strings(), std::vector<std::u16string>{u"Locate gop protocol failure...\r\n"});
  ExpectOneLineBufferReleased();
}

TEST_F(ConsolePrintTest, ArgumentsAreFormatted) {
  EXPECT_EQ(ConsolePrint("%a %d %r\n", "Blt", -7, EFI_DEVICE_ERROR), 21u);
  EXPECT_EQ(platform.console_text(), u"Blt -7 Device Error\r\n");
}

TEST_F(ConsolePrintTest, LongTextIsCutAfter320Characters) {
  const std::string message(400, 'm');
  EXPECT_EQ(ConsolePrint(message.c_str()), 320u);
  EXPECT_EQ(platform.console_text(), std::u16string(320, u'm'));
  ExpectOneLineBufferReleased();
}

TEST_F(ConsolePrintTest, CutFallsBetweenCarriageReturnAndLineFeed) {
  const std::string message = std::string(319, 'k') + "\n";
  EXPECT_EQ(ConsolePrint(message.c_str()), 320u);
  EXPECT_EQ(platform.console_text(), std::u16string(319, u'k') + u"\r");
}

TEST_F(ConsolePrintTest, EmptyTextIsStillHandedOver) {
  EXPECT_EQ(ConsolePrint(""), 0u);
  EXPECT_EQ(platform.console_strings(), std::vector<std::u16string>{u""});
  ExpectOneLineBufferReleased();
}

// Formatting refuses an absent format and one longer than its limit and
// writes nothing; the console must still get a terminated (empty) line, not
// the unwritten pool buffer.
TEST_F(ConsolePrintTest, RefusedFormatHandsOverAnEmptyLine) {
  const std::string too_long(kFormatTextLimit + 1, 'x');
  const CHAR8 *const refused[] = {nullptr, too_long.c_str()};
  for (const CHAR8 *format : refused) {
    EXPECT_EQ(ConsolePrintList(format, platform.console(), FormatArgs{nullptr, 0}), 0u);
  }
  EXPECT_EQ(platform.console_strings(), (std::vector<std::u16string>{u"", u""}));
  EXPECT_EQ(platform.CallCount("FreePool"), 2u);
  EXPECT_EQ(platform.LeakReport(), "");
}

TEST_F(ConsolePrintTest, RefusedTextGivesZeroAndReleasesTheBuffer) {
  platform.Inject(sim::Failure("OutputString").Answers(EFI_DEVICE_ERROR));
  EXPECT_EQ(ConsolePrint("Blt failure...\n"), 0u);
  EXPECT_EQ(platform.CallCount("OutputString"), 1u);
  ExpectOneLineBufferReleased();
}

TEST_F(ConsolePrintTest, WarningStatusFromTheConsoleIsNoFailure) {
  platform.Inject(sim::Failure("OutputString").Answers(1));  // a warning: top bit clear
  EXPECT_EQ(ConsolePrint("abc"), 3u);
}

TEST_F(ConsolePrintTest, WithoutConsoleTheTextIsFormattedAndDropped) {
  platform.RemoveConsole();
  EXPECT_EQ(ConsolePrint("abc\n"), 5u);
  EXPECT_EQ(platform.CallCount("OutputString"), 0u);
  ExpectOneLineBufferReleased();
}

TEST_F(ConsolePrintTest, PoolFailureHandsNothingOn) {
  platform.Inject(sim::Failure("AllocatePool").Call(1).Answers(EFI_OUT_OF_RESOURCES));
  EXPECT_EQ(ConsolePrint("Locate gop protocol failure...\n"), 0u);
  EXPECT_EQ(platform.CallCount("OutputString"), 0u);
  EXPECT_EQ(platform.CallCount("FreePool"), 0u);
  EXPECT_TRUE(platform.faults().empty());
}

TEST_F(ConsolePrintTest, ListFormUsesTheConsoleItIsGiven) {
  const UINT64 slots[] = {FormatSlot(12)};
  EXPECT_EQ(ConsolePrintList("%d\n", platform.console(), FormatArgs{slots, 1}), 4u);
  EXPECT_EQ(platform.console_text(), u"12\r\n");
  EXPECT_EQ(ConsolePrintList("%d\n", nullptr, FormatArgs{slots, 1}), 4u);
  EXPECT_EQ(platform.CallCount("OutputString"), 1u);
}

TEST_F(ConsolePrintTest, EveryCallTakesAFreshBuffer) {
  ConsolePrint("one\n");
  ConsolePrint("two\n");
  EXPECT_EQ(platform.CallCount("AllocatePool"), 2u);
  EXPECT_EQ(platform.CallCount("FreePool"), 2u);
  EXPECT_EQ(platform.console_strings(), (std::vector<std::u16string>{u"one\r\n", u"two\r\n"}));
  EXPECT_EQ(platform.LeakReport(), "");
}

}  // namespace
