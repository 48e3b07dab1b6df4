// The trace-hub HOB walk over well-formed and malformed HOB lists.
//
// Every list is installed through the simulated platform, which keeps an
// exactly sized copy, so a walk that reads past the list's last byte is caught
// by the address sanitizer build.
#include "core/hob_walk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/driver_state.h"
#include "core/driver_guids.h"
#include "efi/efi_hob.h"
#include "sim/hob_list_builder.h"
#include "sim/platform.h"

namespace {

constexpr EFI_GUID kOtherGuid = {0x11111111, 0x2222, 0x3333, {0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB}};
// TraceHubInfoHobGuid with its last byte changed: all 16 bytes must match.
constexpr EFI_GUID kNearlyTraceGuid = {0xF1187E54, 0x995F, 0x49D9, {0xAC, 0xEE, 0xC5, 0x34, 0xF4, 0x5A, 0x18, 0xC8}};

// A trace HOB whose length field claims `length` (at least 24) and which holds
// only the name and zero bytes up to that length.
sim::HobListBuilder &ShortTraceHob(sim::HobListBuilder &b, uint16_t length) {
  std::vector<uint8_t> body(length - sizeof(EFI_HOB_GENERIC_HEADER), 0);
  std::memcpy(body.data(), &TraceHubInfoHobGuid, sizeof(EFI_GUID));
  return b.Raw(EFI_HOB_TYPE_GUID_EXTENSION, length, body);
}

struct WalkCase {
  std::string name;
  std::vector<uint8_t> (*build)();
  uint32_t expected_base;
};

std::vector<uint8_t> OnlyEnd() { return sim::HobListBuilder().End().bytes(); }

std::vector<uint8_t> NoTraceHob() {
  return sim::HobListBuilder()
      .Generic(0x0001, std::vector<uint8_t>(40, 0xEE))
      .Guid(kOtherGuid, {1, 2, 3})
      .End()
      .bytes();
}

std::vector<uint8_t> OneTraceHob() { return sim::HobListBuilder().TraceHub(0xFE100000).End().bytes(); }

std::vector<uint8_t> TwoTraceHobsFirstWins() {
  return sim::HobListBuilder().TraceHub(0xAAAA0000).TraceHub(0xBBBB0000).End().bytes();
}

std::vector<uint8_t> OtherNamedHobSkippedByLength() {
  // Its data holds what would be a base value at byte 44 if it were the trace HOB.
  std::vector<uint8_t> data(64, 0x5A);
  return sim::HobListBuilder().Guid(kOtherGuid, data).Guid(kNearlyTraceGuid, data).TraceHub(0x12345678).End().bytes();
}

std::vector<uint8_t> OtherTypesSkipped() {
  return sim::HobListBuilder()
      .Generic(0x0002, std::vector<uint8_t>(16, 0))
      .Generic(0x0003, std::vector<uint8_t>(40, 0))
      .TraceHub(0xCAFE0000)
      .End()
      .bytes();
}

std::vector<uint8_t> ZeroLengthEndsWalk() {
  sim::HobListBuilder b;
  b.Raw(0x0003, 0, std::vector<uint8_t>(8, 0));
  return b.TraceHub(0xDEAD0000).End().bytes();
}

std::vector<uint8_t> LengthBelowHeaderEndsWalk() {
  sim::HobListBuilder b;
  b.Raw(EFI_HOB_TYPE_GUID_EXTENSION, 7, {});
  return b.TraceHub(0xDEAD0000).End().bytes();
}

// Only the first trace HOB counts: one too short for its base ends the walk,
// and a later one is not used.
std::vector<uint8_t> ShortTraceHobEndsTheWalk() {
  sim::HobListBuilder b;
  ShortTraceHob(b, 40);  // name present, base value (bytes 44-47) missing
  return b.TraceHub(0x0BADF00D).End().bytes();
}

std::vector<uint8_t> TraceHobOneByteShort() {
  sim::HobListBuilder b;
  ShortTraceHob(b, 47);
  return b.End().bytes();
}

std::vector<uint8_t> ShortTraceHobLastBeforeEnd() {
  // Reading the base anyway would run 16 bytes past the end of this list.
  sim::HobListBuilder b;
  ShortTraceHob(b, 24);
  return b.End().bytes();
}

std::vector<uint8_t> TraceHobWithExtraData() {
  std::vector<uint8_t> data(40, 0);
  const uint32_t base = 0x80000000;
  std::memcpy(data.data() + 20, &base, sizeof(base));
  return sim::HobListBuilder().Guid(TraceHubInfoHobGuid, data).End().bytes();
}

const WalkCase kWalkCases[] = {
    {"OnlyEnd", OnlyEnd, 0},
    {"NoTraceHob", NoTraceHob, 0},
    {"OneTraceHob", OneTraceHob, 0xFE100000},
    {"TwoTraceHobsFirstWins", TwoTraceHobsFirstWins, 0xAAAA0000},
    {"OtherNamedHobSkippedByLength", OtherNamedHobSkippedByLength, 0x12345678},
    {"OtherTypesSkipped", OtherTypesSkipped, 0xCAFE0000},
    {"ZeroLengthEndsWalk", ZeroLengthEndsWalk, 0},
    {"LengthBelowHeaderEndsWalk", LengthBelowHeaderEndsWalk, 0},
    {"ShortTraceHobEndsTheWalk", ShortTraceHobEndsTheWalk, 0},
    {"TraceHobOneByteShort", TraceHobOneByteShort, 0},
    {"ShortTraceHobLastBeforeEnd", ShortTraceHobLastBeforeEnd, 0},
    {"TraceHobWithExtraData", TraceHobWithExtraData, 0x80000000},
};

class HobWalk : public ::testing::TestWithParam<WalkCase> {
 protected:
  void TearDown() override { EXPECT_EQ(platform_.LeakReport(EfiBootServicesData), ""); }
  sim::Platform platform_;
};

TEST_P(HobWalk, FindsTheFirstCompleteTraceHob) {
  const void *list = platform_.InstallHobList(GetParam().build());
  EXPECT_EQ(FindTraceHubBase(list), GetParam().expected_base);
}

TEST_P(HobWalk, DriverEntryStoresTheBase) {
  platform_.InstallHobList(GetParam().build());
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(gDriver.TraceHubBase, GetParam().expected_base);
}

INSTANTIATE_TEST_SUITE_P(Lists, HobWalk, ::testing::ValuesIn(kWalkCases),
                         [](const ::testing::TestParamInfo<WalkCase> &info) { return info.param.name; });

// --- lists that start with the hand-off HOB, as PI lists do: the end it
// records bounds the walk. Each list is installed exactly sized, and several
// break the end they record, so any read past that end is a sanitizer report
// (and, where the bytes beyond are a real HOB, a wrong base).

constexpr uint16_t kHandoffSize = sizeof(EFI_HOB_HANDOFF_INFO_TABLE);
constexpr uint16_t kTraceHobSize = 48;

std::vector<uint8_t> HandoffThenTraceHob() {
  return sim::HobListBuilder()
      .Handoff()
      .Generic(0x0003, std::vector<uint8_t>(40, 0))
      .TraceHub(0xFE100000)
      .End()
      .bytes();
}

std::vector<uint8_t> HandoffWithoutTraceHob() {
  return sim::HobListBuilder().Handoff().Guid(kOtherGuid, {1, 2, 3}).End().bytes();
}

std::vector<uint8_t> HandoffTwoTraceHobs() {
  return sim::HobListBuilder().Handoff().TraceHub(0xAAAA0000).TraceHub(0xBBBB0000).End().bytes();
}

std::vector<uint8_t> ThreeBytesAfterHandoff() {
  return sim::HobListBuilder().Handoff().Bytes({0x04, 0x00, 0x30}).bytes();
}

std::vector<uint8_t> TraceHobClaims48With16Present() {
  std::vector<uint8_t> half_name(8);
  std::memcpy(half_name.data(), &TraceHubInfoHobGuid, half_name.size());
  return sim::HobListBuilder().Handoff().Raw(EFI_HOB_TYPE_GUID_EXTENSION, kTraceHobSize, half_name).bytes();
}

std::vector<uint8_t> HobOfLengthFFF8() {
  return sim::HobListBuilder()
      .Handoff()
      .Raw(0x0003, 0xFFF8, std::vector<uint8_t>(8, 0))
      .TraceHub(0x0BAD0000)
      .End()
      .bytes();
}

std::vector<uint8_t> NoEndHob() {
  return sim::HobListBuilder().Handoff().Generic(0x0003, std::vector<uint8_t>(16, 0)).bytes();
}

std::vector<uint8_t> TraceHobExactlyAtTheEnd() {
  return sim::HobListBuilder().Handoff().TraceHub(0x12345678).HandoffEndAt(kHandoffSize + kTraceHobSize).bytes();
}

std::vector<uint8_t> TraceHobOneBytePastTheEnd() {
  // The whole trace HOB is in memory, but the list ends one byte before its base value does.
  return sim::HobListBuilder()
      .Handoff()
      .TraceHub(0x12345678)
      .HandoffEndAt(kHandoffSize + kTraceHobSize - 1)
      .End()
      .bytes();
}

std::vector<uint8_t> TraceHobPastTheRecordedEnd() {
  return sim::HobListBuilder()
      .Handoff()
      .Generic(0x0003, std::vector<uint8_t>(16, 0))
      .TraceHub(0x0BAD0000)
      .HandoffEndAt(kHandoffSize + 24)
      .End()
      .bytes();
}

std::vector<uint8_t> EndBeforeTheHandoffItself() {
  return sim::HobListBuilder().Handoff().TraceHub(0x0BAD0000).HandoffEndAt(8).End().bytes();
}

std::vector<uint8_t> ShortTraceHobAfterHandoff() {
  sim::HobListBuilder b;
  b.Handoff();
  ShortTraceHob(b, 40);
  return b.TraceHub(0x0BADF00D).End().bytes();
}

const WalkCase kBoundedCases[] = {
    {"HandoffThenTraceHob", HandoffThenTraceHob, 0xFE100000},
    {"HandoffWithoutTraceHob", HandoffWithoutTraceHob, 0},
    {"HandoffTwoTraceHobs", HandoffTwoTraceHobs, 0xAAAA0000},
    {"ThreeBytesAfterHandoff", ThreeBytesAfterHandoff, 0},
    {"TraceHobClaims48With16Present", TraceHobClaims48With16Present, 0},
    {"HobOfLengthFFF8", HobOfLengthFFF8, 0},
    {"NoEndHob", NoEndHob, 0},
    {"TraceHobExactlyAtTheEnd", TraceHobExactlyAtTheEnd, 0x12345678},
    {"TraceHobOneBytePastTheEnd", TraceHobOneBytePastTheEnd, 0},
    {"TraceHobPastTheRecordedEnd", TraceHobPastTheRecordedEnd, 0},
    {"EndBeforeTheHandoffItself", EndBeforeTheHandoffItself, 0},
    {"ShortTraceHobAfterHandoff", ShortTraceHobAfterHandoff, 0},
};

INSTANTIATE_TEST_SUITE_P(BoundedLists, HobWalk, ::testing::ValuesIn(kBoundedCases),
                         [](const ::testing::TestParamInfo<WalkCase> &info) { return info.param.name; });

TEST(HobWalkEmpty, EmptyListPointerGivesNoBase) { EXPECT_EQ(FindTraceHubBase(nullptr), 0u); }

}  // namespace
