// The engine's two helpers: filling with one character and measuring 16-bit text.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "print/format_text.h"

namespace {

TEST(FillCharacters, WritesCountCharactersOfEitherSize) {
  std::vector<uint8_t> buffer(8, 0xCC);
  UINT8 *end = buffer.data() + 8;

  EXPECT_EQ(FillCharacters(buffer.data(), end, 3, '*', 1), buffer.data() + 3);
  EXPECT_EQ(buffer, (std::vector<uint8_t>{'*', '*', '*', 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}));

  EXPECT_EQ(FillCharacters(buffer.data(), end, 2, 0x263A, 2), buffer.data() + 4);
  EXPECT_EQ(buffer, (std::vector<uint8_t>{0x3A, 0x26, 0x3A, 0x26, 0xCC, 0xCC, 0xCC, 0xCC}));
}

TEST(FillCharacters, NothingForACountOfZeroOrLess) {
  std::vector<uint8_t> buffer(4, 0xCC);
  EXPECT_EQ(FillCharacters(buffer.data(), buffer.data() + 4, 0, 'x', 1), buffer.data());
  EXPECT_EQ(FillCharacters(buffer.data(), buffer.data() + 4, -1, 'x', 2), buffer.data());
  EXPECT_EQ(FillCharacters(buffer.data(), buffer.data() + 4, INT64_MIN, 'x', 1), buffer.data());
  EXPECT_EQ(buffer, std::vector<uint8_t>(4, 0xCC));
}

TEST(FillCharacters, StopsAtTheEnd) {
  std::vector<uint8_t> buffer(6, 0xCC);
  EXPECT_EQ(FillCharacters(buffer.data(), buffer.data() + 4, INT64_MAX, 'x', 1), buffer.data() + 4);
  EXPECT_EQ(buffer, (std::vector<uint8_t>{'x', 'x', 'x', 'x', 0xCC, 0xCC}));

  std::vector<uint8_t> wide(6, 0xCC);
  EXPECT_EQ(FillCharacters(wide.data(), wide.data() + 4, INT64_MAX, 'y', 2), wide.data() + 4);
  EXPECT_EQ(wide, (std::vector<uint8_t>{'y', 0, 'y', 0, 0xCC, 0xCC}));

  EXPECT_EQ(FillCharacters(wide.data() + 4, wide.data() + 4, 5, 'z', 2), wide.data() + 4);
  EXPECT_EQ(wide[4], 0xCC);
}

TEST(WideStringLength, CountsUpToTheLimit) {
  EXPECT_EQ(WideStringLength(nullptr), 0u);
  EXPECT_EQ(WideStringLength(u""), 0u);
  EXPECT_EQ(WideStringLength(u"abc"), 3u);
  // A unit with a zero low byte is not a terminator.
  EXPECT_EQ(WideStringLength(u"\u2600\u0100"), 2u);

  std::vector<char16_t> atLimit(1000000, u'x');
  atLimit.push_back(0);
  EXPECT_EQ(WideStringLength(atLimit.data()), 1000000u);

  // No terminator at all: counting stops past the limit without reading further.
  const std::vector<char16_t> overLimit(1000001, u'x');
  EXPECT_EQ(WideStringLength(overLimit.data()), 1000001u);
}

}  // namespace
