// The engine's checks, line ends, text conversions, widths, precisions,
// cutting and termination, in 8-bit and 16-bit output and count-only mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/print/format_test_support.h"

namespace {

using print_test::Expected;
using print_test::RunFormat;
using print_test::Slot;
using print_test::Widen;

constexpr char kHello[] = "hello";
const char16_t kWideHi[] = u"hi\u263A";

struct Case {
  const char *name;
  FormatFlags flags;
  const char *format;
  std::vector<UINT64> args;
  UINTN size;
  std::string text;  // what lands in the buffer, as 8-bit text (widened for 16-bit output)
  UINTN result;
};

const Case kCases[] = {
    // Empty formats and the smallest buffer.
    {"empty format", 0, "", {}, 10, "", 0},
    {"size 1 keeps only the terminator", 0, "abc%d", {Slot(5)}, 1, "", 0},
    {"plain text", 0, "abc", {}, 10, "abc", 3},

    // Line ends.
    {"lf", 0, "a\nb", {}, 10, "a\r\nb", 4},
    {"lf cr", 0, "a\n\rb", {}, 10, "a\r\nb", 4},
    {"cr lf", 0, "a\r\nb", {}, 10, "a\r\nb", 4},
    {"lone cr", 0, "a\rb", {}, 10, "a\rb", 3},
    {"two lf", 0, "a\n\nb", {}, 10, "a\r\n\r\nb", 6},
    {"lf cr lf", 0, "\n\r\n", {}, 10, "\r\n\r\n", 4},
    {"width before a line end", 0, "%5\n", {}, 10, "   \r\n", 5},
    {"conversion line end takes its pair", 0, "%\r\nx", {}, 10, "\r\nx", 3},
    {"precision cuts a line end", 0, "%.1\nx", {}, 10, "\rx", 2},

    // Conversion characters that print themselves, and the format's end.
    {"percent", 0, "%%", {}, 10, "%", 1},
    {"unlisted conversion", 0, "%q", {}, 10, "q", 1},
    {"hash is a conversion", 0, "%#x", {}, 10, "#x", 2},
    {"percent at the end", 0, "ab%", {}, 10, "ab", 2},
    {"width at the end", 0, "ab%5", {}, 10, "ab     ", 7},
    {"left width at the end", 0, "ab%-3", {}, 10, "ab   ", 5},
    {"width on a literal", 0, "%3%|", {}, 10, "  %|", 4},

    // Characters.
    {"char", 0, "%c", {Slot('A')}, 10, "A", 1},
    {"char zero is a blank", 0, "%c|", {Slot(0)}, 10, " |", 2},
    {"char precision zero", 0, "%.0c|", {Slot('A')}, 10, "|", 1},
    {"wide char to 8-bit keeps the low byte", 0, "%c", {Slot(0x263A)}, 10, ":", 1},
    {"char uses the low 16 bits", 0, "%c", {0x12340041ULL}, 10, "A", 1},
    {"char width", 0, "%3c|%-3c|", {Slot('x'), Slot('y')}, 20, "  x|y  |", 8},

    // 8-bit texts.
    {"text width", 0, "%8a", {Slot(kHello)}, 20, "   hello", 8},
    {"text left width", 0, "%-8a|", {Slot(kHello)}, 20, "hello   |", 9},
    {"narrow width never cuts", 0, "%3a", {Slot(kHello)}, 20, "hello", 5},
    {"precision cuts", 0, "%.3a", {Slot(kHello)}, 20, "hel", 3},
    {"precision pads", 0, "%.8a", {Slot(kHello)}, 20, "   hello", 8},
    {"empty precision is 1", 0, "%.a", {Slot(kHello)}, 20, "h", 1},
    {"width and precision", 0, "%6.2a|", {Slot(kHello)}, 20, "    he|", 7},
    {"star precision", 0, "%.*a", {Slot(2), Slot(kHello)}, 20, "he", 2},
    {"empty text is no field at all", 0, "%a|%s|", {Slot(""), Slot(u"")}, 20, "||", 2},
    {"absent text", 0, "%a", {Slot(nullptr)}, 20, "<null string>", 13},
    {"absent text cut", 0, "%.4a", {Slot(nullptr)}, 20, "<nul", 4},

    // 16-bit texts.
    {"wide text to 8-bit", 0, "%s", {Slot(kWideHi)}, 20, "hi:", 3},
    {"S is s", 0, "%S", {Slot(kWideHi)}, 20, "hi:", 3},
    {"wide text precision", 0, "%.1s|", {Slot(kWideHi)}, 20, "h|", 2},
    {"absent wide text", 0, "%s", {Slot(nullptr)}, 20, "<null string>", 13},

    // Width and precision from '*' and digits.
    {"later width replaces", 0, "%2*d", {Slot(4), Slot(7)}, 20, "   7", 4},
    {"digits replace star", 0, "%*3d", {Slot(6), Slot(7)}, 20, "  7", 3},
    {"negative star width fills nothing", 0, "%*d", {Slot(-5), Slot(42)}, 20, "42", 2},
    {"flags repeat in any order", 0, "%-+-5d|", {Slot(3)}, 20, "+3   |", 6},

    // Cutting: after buffer size - 1 characters, anywhere.
    {"cut plain text", 0, "abcdef", {}, 4, "abc", 3},
    {"cut between cr and lf", 0, "ab\ncd", {}, 4, "ab\r", 3},
    {"cut inside a number", 0, "%d", {Slot(12345)}, 3, "12", 2},
    {"cut inside padding", 0, "%10d", {Slot(1)}, 5, "    ", 4},
    {"cut inside grouping", 0, "%,d", {Slot(1234567)}, 3, "1,", 2},
    {"cut inside a text", 0, "x%a", {Slot(kHello)}, 4, "xhe", 3},
    {"huge width fills to the end", 0, "%*d", {1ULL << 63, Slot(1)}, 10, "         ", 9},
    {"huge precision fills to the end", 0, "%.*d", {1ULL << 63, Slot(1)}, 6, "00000", 5},

    // Arguments beyond the caller's list read 0 or an absent pointer.
    {"missing arguments read 0", 0, "%d %x %a|%c|", {}, 40, "0 0 <null string>| |", 20},
    {"missing argument after a star reads 0", 0, "%*d", {Slot(3)}, 40, "  0", 3},
    {"missing status reads Success", 0, "%r", {}, 40, "Success", 7},

    // 16-bit output.
    {"wide output", FMT_OUT_WIDE, "a\nb%d", {Slot(7)}, 10, "a\r\nb7", 5},
    {"wide output cut", FMT_OUT_WIDE, "abcdef", {}, 4, "abc", 3},
    {"wide output size 1", FMT_OUT_WIDE, "abc", {}, 1, "", 0},
    {"wide output absent text", FMT_OUT_WIDE, "%s", {Slot(nullptr)}, 20, "<null string>", 13},
    {"wide output huge width", FMT_OUT_WIDE, "%*a", {1ULL << 63, Slot(kHello)}, 4, "   ", 3},
};

TEST(FormatTextTable, EveryCaseWritesExactlyItsBytes) {
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.name);
    const size_t charSize = (c.flags & FMT_OUT_WIDE) ? 2 : 1;
    const auto outcome = RunFormat(c.flags, c.format, c.args, c.size);
    const std::string bytes = charSize == 2 ? Widen(c.text) : c.text;
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.bytes, Expected(bytes, charSize, outcome.bytes.size()));

    // Count-only mode returns what the call writes with room for all of it.
    const auto counted = RunFormat(c.flags | FMT_COUNT_ONLY, c.format, c.args, 0, true);
    const auto roomy = RunFormat(c.flags, c.format, c.args, 4096);
    if (roomy.result < 4095) {
      EXPECT_EQ(counted.result, roomy.result);
    }
  }
}

TEST(FormatTextOutput, WideOutputKeepsHighBytes) {
  const auto outcome = RunFormat(FMT_OUT_WIDE, "%c%s", {Slot(0x263A), Slot(kWideHi)}, 10);
  const std::string bytes("\x3A\x26h\0i\0\x3A\x26", 8);
  EXPECT_EQ(outcome.result, 4u);
  EXPECT_EQ(outcome.bytes, Expected(bytes, 2, outcome.bytes.size()));
}

TEST(FormatTextOutput, WideFormatInEitherOutput) {
  const auto format = print_test::WideText(u"\u263A%d|%5a\n");
  const auto narrow = RunFormat(FMT_IN_WIDE, format.data(), {Slot(-3), Slot(kHello)}, 20);
  EXPECT_EQ(narrow.result, 11u);
  EXPECT_EQ(narrow.bytes, Expected(":-3|hello\r\n", 1, narrow.bytes.size()));

  const auto wide = RunFormat(FMT_IN_WIDE | FMT_OUT_WIDE, format.data(), {Slot(-3), Slot(kHello)}, 20);
  std::string bytes = "\x3A\x26" + Widen("-3|hello\r\n");
  EXPECT_EQ(wide.result, 11u);
  EXPECT_EQ(wide.bytes, Expected(bytes, 2, wide.bytes.size()));
}

TEST(FormatTextOutput, WideFormatMayBeUnaligned) {
  // "%d" and 7 as 16-bit units starting at an odd address.
  alignas(2) const uint8_t storage[] = {0xEE, '%', 0, 'd', 0, 0, 0};
  const auto outcome = RunFormat(FMT_IN_WIDE, storage + 1, {Slot(7)}, 10);
  EXPECT_EQ(outcome.result, 1u);
  EXPECT_EQ(outcome.bytes, Expected("7", 1, outcome.bytes.size()));
}

TEST(FormatTextChecks, RefusedCallsWriteNothing) {
  struct Refusal {
    const char *name;
    FormatFlags flags;
    const char *format;
    UINTN size;
    bool absentBuffer;
  };
  const Refusal refusals[] = {
      {"size 0", 0, "abc", 0, false},
      {"absent buffer", 0, "abc", 10, true},
      {"absent buffer and size 0", 0, "abc", 0, true},
      {"absent format", 0, nullptr, 10, false},
      {"absent format, size 0", 0, nullptr, 0, false},
      {"absent format, count only", FMT_COUNT_ONLY, nullptr, 0, true},
      {"size above the limit", 0, "abc", 1000001, false},
      {"size above the limit, count only", FMT_COUNT_ONLY, "abc", 1000001, true},
      {"wide output size 0", FMT_OUT_WIDE, "abc", 0, false},
  };
  for (const Refusal &r : refusals) {
    SCOPED_TRACE(r.name);
    const auto outcome = RunFormat(r.flags, r.format, {}, r.size, r.absentBuffer);
    EXPECT_EQ(outcome.result, 0u);
    EXPECT_EQ(outcome.bytes, std::vector<uint8_t>(outcome.bytes.size(), print_test::kUntouched));
  }
}

TEST(FormatTextChecks, SizeLimitItselfIsAccepted) {
  std::vector<uint8_t> buffer(1000000, print_test::kUntouched);
  EXPECT_EQ(FormatTextList(buffer.data(), 1000000, 0, "ab", FormatArgs{nullptr, 0}), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer.data()), 3), std::string("ab\0", 3));
}

TEST(FormatTextChecks, FormatLengthLimit) {
  // Exactly at the limit the format is taken; one more character and it is
  // refused without reading past it (no terminator follows here).
  std::vector<char> atLimit(1000000, 'x');
  atLimit.push_back('\0');
  EXPECT_EQ(FormatText(nullptr, 0, FMT_COUNT_ONLY, atLimit.data()), 1000000u);

  const std::vector<char> overLimit(1000001, 'x');
  std::vector<uint8_t> buffer(16, print_test::kUntouched);
  EXPECT_EQ(FormatText(buffer.data(), 16, 0, overLimit.data()), 0u);
  EXPECT_EQ(buffer, std::vector<uint8_t>(16, print_test::kUntouched));

  const std::vector<uint16_t> wideOverLimit(1000001, 'x');
  EXPECT_EQ(FormatText(buffer.data(), 16, FMT_IN_WIDE, wideOverLimit.data()), 0u);
  EXPECT_EQ(buffer, std::vector<uint8_t>(16, print_test::kUntouched));
}

TEST(FormatTextCountOnly, CountsWithoutWriting) {
  struct Count {
    const char *format;
    std::vector<UINT64> args;
    UINTN size;
    UINTN result;
  };
  const Count counts[] = {
      {"%3a|", {Slot(kHello)}, 0, 6},
      {"%3a|", {Slot(kHello)}, 2, 6},
      {"abcdef %d", {Slot(42)}, 0, 9},
      {"abcdef %d", {Slot(42)}, 3, 9},
      {"a\nb", {}, 1, 4},
      {"", {}, 5, 0},
  };
  for (const Count &c : counts) {
    SCOPED_TRACE(c.format);
    const auto outcome = RunFormat(FMT_COUNT_ONLY, c.format, c.args, c.size);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.bytes, std::vector<uint8_t>(outcome.bytes.size(), print_test::kUntouched));
  }
}

TEST(FormatTextCountOnly, HugeWidthsAreCountedNotWalked) {
  // A width of 2^63 fills 2^63 - 1 blanks before the one digit.
  EXPECT_EQ(RunFormat(FMT_COUNT_ONLY, "%*d", {1ULL << 63, Slot(1)}, 0, true).result, 1ULL << 63);
  EXPECT_EQ(RunFormat(FMT_COUNT_ONLY | FMT_OUT_WIDE, "%-*a", {1ULL << 63, Slot(kHello)}, 0, true).result, 1ULL << 63);
  EXPECT_EQ(RunFormat(FMT_COUNT_ONLY, "%.*d", {(1ULL << 62) + 5, Slot(12)}, 0, true).result, (1ULL << 62) + 5);
  // Two of them exceed 64 bits; the count stays at its largest value instead of wrapping.
  EXPECT_EQ(RunFormat(FMT_COUNT_ONLY, "%*d%*d", {1ULL << 63, Slot(1), 1ULL << 63, Slot(1)}, 0, true).result, ~0ULL);
  // A width past 2^63 is a negative fill and adds nothing.
  EXPECT_EQ(RunFormat(FMT_COUNT_ONLY, "%*d", {~0ULL, Slot(1)}, 0, true).result, 1u);
}

}  // namespace
