// Numbers, GUIDs, times and status values as the engine renders them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "efi/efi_guids.h"
#include "tests/print/format_test_support.h"

namespace {

using print_test::Expected;
using print_test::RunFormat;
using print_test::Slot;

struct Case {
  const char *format;
  std::vector<UINT64> args;
  std::string text;
};

void ExpectRenders(const Case &c) {
  SCOPED_TRACE(c.format);
  const auto outcome = RunFormat(0, c.format, c.args, 128);
  EXPECT_EQ(outcome.result, c.text.size());
  EXPECT_EQ(outcome.bytes, Expected(c.text, 1, outcome.bytes.size()));
}

TEST(FormatNumbers, Decimal) {
  const Case cases[] = {
      {"%d", {Slot(0)}, "0"},
      {"%.0d|", {Slot(0)}, "|"},
      {"%+.0d", {Slot(0)}, "+"},
      {"%,.0d", {Slot(0)}, "0"},
      {"%.0d", {Slot(7)}, "7"},
      {"%5d", {Slot(-42)}, "  -42"},
      {"%05d", {Slot(-42)}, "-0042"},
      {"%-5d|", {Slot(-42)}, "-42  |"},
      {"%+08d", {Slot(42)}, "+0000042"},
      {"%08.5d", {Slot(42)}, "   00042"},
      {"%5.3d", {Slot(42)}, "  042"},
      {"%-05d|", {Slot(42)}, "42   |"},
      {"%+d", {Slot(5)}, "+5"},
      {"% d", {Slot(5)}, " 5"},
      {"%+u", {Slot(5)}, "5"},
      {"% u", {Slot(5)}, " 5"},
      {"% +d", {Slot(5)}, "+5"},
      {"%+d", {Slot(-5)}, "-5"},
      {"%u", {Slot(0xFFFFFFFFu)}, "4294967295"},
      {"%d", {Slot(0xFFFFFFFFu)}, "-1"},
      {"%d", {1ULL << 40}, "0"},
      {"%u", {(1ULL << 40) | 9}, "9"},
      {"%ld", {Slot(INT64_MIN)}, "-9223372036854775808"},
      {"%Ld", {Slot(INT64_MAX)}, "9223372036854775807"},
      {"%lu", {~0ULL}, "18446744073709551615"},
      {"%d", {Slot(INT32_MIN)}, "-2147483648"},
      {"%lu", {Slot(-1)}, "18446744073709551615"},
  };
  for (const Case &c : cases) ExpectRenders(c);
}

TEST(FormatNumbers, Hexadecimal) {
  const Case cases[] = {
      {"%x", {Slot(255)}, "FF"},
      {"%X", {Slot(255)}, "FF"},
      {"%8x", {Slot(255)}, "      FF"},
      {"%8X", {Slot(255)}, "000000FF"},
      {"%08x", {Slot(255)}, "000000FF"},
      {"%-8X|", {Slot(255)}, "FF      |"},
      {"%8.3X", {Slot(255)}, "     0FF"},
      {"%+x", {Slot(255)}, "+FF"},
      {"% x", {Slot(255)}, " FF"},
      {"%x", {Slot(-1)}, "FFFFFFFF"},
      {"%lx", {Slot(-1)}, "FFFFFFFFFFFFFFFF"},
      {"%x", {0x123456789ULL}, "23456789"},
      {"%,x", {Slot(0x1234567)}, "1234567"},
      {"%.0x|", {Slot(0)}, "|"},
      {"%p", {Slot(0x1234)}, "1234"},
      {"%16p", {Slot(0x1234)}, "0000000000001234"},
      {"%+p", {Slot(0x1234)}, "1234"},
      {"% p", {Slot(0x1234)}, "1234"},
      {"%p", {0xFEDCBA9876543210ULL}, "FEDCBA9876543210"},
  };
  for (const Case &c : cases) ExpectRenders(c);
}

TEST(FormatNumbers, Grouping) {
  const Case cases[] = {
      {"%,d", {Slot(1234567)}, "1,234,567"},
      {"%,d", {Slot(-1234)}, "-1,234"},
      {"%,d", {Slot(123)}, "123"},
      {"%,d", {Slot(1000)}, "1,000"},
      {"%,d", {Slot(12)}, "12"},
      {"%,010d", {Slot(1234567)}, " 1,234,567"},
      {"%,5.3d", {Slot(1)}, "    1"},
      {"%+,d", {Slot(123456)}, "+123,456"},
      {"%-,8d|", {Slot(12345)}, "12,345  |"},
      {"%,lu", {~0ULL}, "18,446,744,073,709,551,615"},
      {"%,ld", {Slot(INT64_MIN)}, "-9,223,372,036,854,775,808"},
  };
  for (const Case &c : cases) ExpectRenders(c);
}

TEST(FormatNumbers, StarWidthAndPrecision) {
  const Case cases[] = {
      {"%*d", {Slot(6), Slot(42)}, "    42"},  {"%*.*d", {Slot(6), Slot(4), Slot(42)}, "  0042"},
      {"%-*d|", {Slot(4), Slot(42)}, "42  |"}, {"%*d", {Slot(-5), Slot(42)}, "42"},
      {"%0*d", {Slot(5), Slot(42)}, "00042"},
  };
  for (const Case &c : cases) ExpectRenders(c);
}

TEST(FormatGuid, RendersUpperCaseFields) {
  const EFI_GUID guid = EFI_GLOBAL_VARIABLE;
  const Case cases[] = {
      {"%g", {Slot(&guid)}, "8BE4DF61-93CA-11D2-AA0D-00E098032B8C"},
      {"%40g", {Slot(&guid)}, "    8BE4DF61-93CA-11D2-AA0D-00E098032B8C"},
      {"%-38g|", {Slot(&guid)}, "8BE4DF61-93CA-11D2-AA0D-00E098032B8C  |"},
      {"%.8g", {Slot(&guid)}, "8BE4DF61"},
      {"%g", {Slot(nullptr)}, "<null guid>"},
      {"%13g", {Slot(nullptr)}, "  <null guid>"},
  };
  for (const Case &c : cases) ExpectRenders(c);

  const EFI_GUID leadingZeros = {0x1, 0x2, 0x3, {0, 1, 2, 3, 4, 5, 6, 0xA}};
  ExpectRenders({"%g", {Slot(&leadingZeros)}, "00000001-0002-0003-0001-02030405060A"});
}

TEST(FormatTime, RendersDateAndMinute) {
  EFI_TIME time = {};
  time.Year = 2024;
  time.Month = 3;
  time.Day = 5;
  time.Hour = 7;
  time.Minute = 9;
  time.Second = 59;
  const Case cases[] = {
      {"%t", {Slot(&time)}, "03/05/2024  07:09"},
      {"%19t|", {Slot(&time)}, "  03/05/2024  07:09|"},
      {"%.5t", {Slot(&time)}, "03/05"},
      {"%t", {Slot(nullptr)}, "<null time>"},
  };
  for (const Case &c : cases) ExpectRenders(c);

  time.Year = 12345;
  time.Month = 12;
  time.Day = 31;
  time.Hour = 23;
  time.Minute = 59;
  ExpectRenders({"%t", {Slot(&time)}, "12/31/12345  23:59"});
}

TEST(FormatTime, ReadsNothingAfterTheMinute) {
  // Only the first six bytes exist; a read of the seconds would leave them.
  auto bytes = std::make_unique<uint8_t[]>(6);
  const uint8_t head[6] = {0xE8, 0x07, 1, 2, 3, 4};  // 2024-01-02 03:04
  std::copy(head, head + 6, bytes.get());
  ExpectRenders({"%t", {Slot(bytes.get())}, "01/02/2024  03:04"});
}

TEST(FormatStatus, UnlistedValuesAndWidths) {
  const Case cases[] = {
      {"%r", {0}, "Success"},
      {"%r", {5}, "Warning Stale Data"},
      {"%r", {0x8000000000000001ULL}, "Load Error"},
      {"%r", {0x8000000000000021ULL}, "Compromised Data"},
      {"%r", {6}, "00000006"},
      {"%r", {0x8000000000000022ULL}, "00000022"},
      {"%r", {0x8000000000000000ULL}, "00000000"},
      {"%r", {0x123456789ULL}, "23456789"},
      {"%.3r", {0x8000000000000002ULL}, "Inv"},
      {"%12r|", {0x8000000000000003ULL}, " Unsupported|"},
      {"%-10r|", {7}, "00000007  |"},
  };
  for (const Case &c : cases) ExpectRenders(c);
}

}  // namespace
