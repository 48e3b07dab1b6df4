#include <gtest/gtest.h>

#include "tools/notice-pack/guid.h"

namespace {

using notice_pack::FormatGuid;
using notice_pack::ParseGuid;

TEST(Guid, StoresFirstThreeFieldsLittleEndian) {
  const auto guid = ParseGuid("2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6");
  ASSERT_TRUE(guid);
  const std::array<uint8_t, 16> expected = {0x0D, 0xF1, 0x1F, 0x2F, 0x1F, 0xA0, 0xD8, 0x48,
                                            0xAE, 0xFA, 0xA5, 0xDF, 0x02, 0x7B, 0xFB, 0xF6};
  EXPECT_EQ(guid->Bytes, expected);
}

TEST(Guid, FormatsWhatItParsedInUpperCase) {
  const auto guid = ParseGuid("748a836a-d16d-43dc-997c-98b3220a096b");
  ASSERT_TRUE(guid);
  EXPECT_EQ(FormatGuid(*guid), "748A836A-D16D-43DC-997C-98B3220A096B");
}

TEST(Guid, RejectsMalformedText) {
  for (const char *text : {"", "2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF", "2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6-",
                           "2F1FF10DA-01F-48D8-AEFA-A5DF027BFBF6", "2F1FF10D-A01F-48D8-AEFA_A5DF027BFBF6",
                           "2F1FF10D-A01F-48D8-AEFA-A5DF027BFBG6", "{F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6"}) {
    EXPECT_FALSE(ParseGuid(text)) << text;
  }
}

}  // namespace
