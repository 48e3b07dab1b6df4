// The HOB walk over a list and a bound in bytes: nothing at or past the bound
// is read (each list is copied into a buffer exactly the bound long, so the
// address sanitizer build reports any such read), and a hand-off HOB is only
// a HOB like any other (the end it records is not the bound).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/hob_walk.h"
#include "efi/efi_hob.h"
#include "sim/hob_list_builder.h"

namespace {

constexpr size_t kWholeList = ~size_t{0};

struct BoundCase {
  std::string name;
  std::vector<uint8_t> (*build)();
  size_t bound;  // kWholeList: the list's size
  uint32_t expected_base;
};

std::vector<uint8_t> TraceHobAlone() { return sim::HobListBuilder().TraceHub(0xFE100000).bytes(); }

std::vector<uint8_t> TraceHobThenEnd() { return sim::HobListBuilder().TraceHub(0xFE100000).End().bytes(); }

// A 24-byte HOB, then the trace HOB at offset 24.
std::vector<uint8_t> OtherHobThenTraceHob() {
  return sim::HobListBuilder().Generic(0x0003, std::vector<uint8_t>(16, 0)).TraceHub(0xCAFE0000).End().bytes();
}

std::vector<uint8_t> EndThenTraceHob() { return sim::HobListBuilder().End().TraceHub(0x0BAD0000).bytes(); }

// A HOB whose length claims 64 bytes; the bound cuts it.
std::vector<uint8_t> HobClaiming64() {
  return sim::HobListBuilder().Raw(0x0003, 64, std::vector<uint8_t>(56, 0)).TraceHub(0x0BAD0000).bytes();
}

// The hand-off HOB records an end inside itself; the walk over a bound does not look at it.
std::vector<uint8_t> HandoffRecordingAnEarlyEnd() {
  return sim::HobListBuilder().Handoff().TraceHub(0x12345678).HandoffEndAt(8).End().bytes();
}

const BoundCase kBoundCases[] = {
    {"NothingToRead", TraceHobAlone, 0, 0},
    {"BoundBelowAHeader", TraceHobAlone, 7, 0},
    {"BoundCutsTheBaseValue", TraceHobAlone, 47, 0},
    {"BoundRightAfterTheTraceHob", TraceHobAlone, 48, 0xFE100000},
    {"WholeListWithEnd", TraceHobThenEnd, kWholeList, 0xFE100000},
    {"SecondHobOneByteShort", OtherHobThenTraceHob, 24 + 47, 0},
    {"SecondHobExactlyInside", OtherHobThenTraceHob, 24 + 48, 0xCAFE0000},
    {"EndHobStopsTheWalk", EndThenTraceHob, kWholeList, 0},
    {"HobClaimingMoreThanTheBound", HobClaiming64, 63, 0},
    {"HobClaimingExactlyTheBound", HobClaiming64, 64, 0},
    {"HobClaimingLessThanTheBound", HobClaiming64, kWholeList, 0x0BAD0000},
    {"HandoffEndIsNotTheBound", HandoffRecordingAnEarlyEnd, kWholeList, 0x12345678},
};

class HobWalkBound : public ::testing::TestWithParam<BoundCase> {};

TEST_P(HobWalkBound, ReadsOnlyInsideTheBound) {
  const BoundCase &c = GetParam();
  const std::vector<uint8_t> list = c.build();
  const size_t bound = c.bound == kWholeList ? list.size() : c.bound;
  ASSERT_LE(bound, list.size());
  auto exact = std::make_unique<uint8_t[]>(bound);
  if (bound != 0) std::memcpy(exact.get(), list.data(), bound);
  EXPECT_EQ(FindTraceHubBaseIn(exact.get(), bound), c.expected_base);
}

INSTANTIATE_TEST_SUITE_P(Lists, HobWalkBound, ::testing::ValuesIn(kBoundCases),
                         [](const ::testing::TestParamInfo<BoundCase> &info) { return info.param.name; });

TEST(HobWalkBoundEmpty, EmptyListOfNoBytesGivesNoBase) { EXPECT_EQ(FindTraceHubBaseIn(nullptr, 0), 0u); }

}  // namespace
