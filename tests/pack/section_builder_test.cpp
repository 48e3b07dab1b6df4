#include <gtest/gtest.h>

#include "tests/pack/pack_test_support.h"
#include "tools/notice-pack/pack_error.h"
#include "tools/notice-pack/section_builder.h"

namespace {

using namespace notice_pack;

TEST(SectionBuilder, HeaderHoldsSizeWithHeaderAndType) {
  const Bytes body = {1, 2, 3, 4, 5};
  const Bytes section = BuildSection(kSectionRaw, body);
  ASSERT_EQ(section.size(), 9u);
  EXPECT_EQ(GetLe(section, 0, 3), 9u);
  EXPECT_EQ(section[3], kSectionRaw);
  EXPECT_EQ(Bytes(section.begin() + 4, section.end()), body);
}

TEST(SectionBuilder, SizeFieldIsLittleEndian24Bit) {
  const Bytes section = BuildSection(kSectionPe32, Bytes(0x12345, 0xAB));
  EXPECT_EQ(section[0], 0x49);
  EXPECT_EQ(section[1], 0x23);
  EXPECT_EQ(section[2], 0x01);
}

TEST(SectionBuilder, LargestBodyFitsAndOneMoreByteIsRefused) {
  const Bytes largest(kMaxSize24 - kSectionHeaderSize);
  EXPECT_EQ(GetLe(BuildSection(kSectionRaw, largest), 0, 3), kMaxSize24);
  const Bytes tooLarge(kMaxSize24 - kSectionHeaderSize + 1);
  EXPECT_THROW(BuildSection(kSectionRaw, tooLarge), PackError);
}

TEST(SectionBuilder, UserInterfaceNameIsUcs2WithTerminator) {
  const Bytes section = BuildUserInterfaceSection("Ab1");
  const Bytes expected = {12, 0, 0, kSectionUserInterface, 'A', 0, 'b', 0, '1', 0, 0, 0};
  EXPECT_EQ(section, expected);
}

TEST(SectionBuilder, UserInterfaceNameMustBePrintableAscii) {
  for (std::string_view name : {std::string_view(""), std::string_view("Tab\there"),
                                std::string_view("\xC3\xA9t\xC3\xA9"), std::string_view("nul\0x", 5)}) {
    EXPECT_THROW(BuildUserInterfaceSection(name), PackError) << name;
  }
}

}  // namespace
