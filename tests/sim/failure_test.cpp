// Injected failures: which calls a failure picks, which of several answers,
// what it leaves in the caller's slots and logs, and the mistakes in a
// failure that stop the run.
#include "sim/failure.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/platform.h"

namespace {

constexpr EFI_GUID kFile = {0x2F1FF10D, 0xA01F, 0x48D8, {0xAE, 0xFA, 0xA5, 0xDF, 0x02, 0x7B, 0xFB, 0xF6}};
constexpr EFI_GUID kOtherFile = {0xD667348E, 0x1827, 0x4DF0, {0x8D, 0x56, 0x84, 0x72, 0x11, 0x25, 0x7F, 0x85}};

// --- which calls -------------------------------------------------------------------

int g_object = 0;
int g_other_object = 0;

struct PickCase {
  const char *name;
  sim::Failure failure;
  unsigned call_number;
  sim::CallSubject subject;
  bool picked;
};

void PrintTo(const PickCase &c, std::ostream *out) { *out << c.name; }

class FailurePicks : public ::testing::TestWithParam<PickCase> {};

TEST_P(FailurePicks, ByNumberObjectAndGuid) {
  const PickCase &c = GetParam();
  EXPECT_EQ(c.failure.Picks(c.call_number, c.subject), c.picked);
}

sim::Failure Any() { return sim::Failure("ReadSection"); }

const PickCase kPickCases[] = {
    {"EveryCallByDefault", Any(), 1, {}, true},
    {"EveryCallLater", Any(), 40, {}, true},
    {"OneNumberPicksIt", Any().Call(2), 2, {}, true},
    {"OneNumberNotTheOneBefore", Any().Call(2), 1, {}, false},
    {"OneNumberNotTheOneAfter", Any().Call(2), 3, {}, false},
    {"FromANumberOn", Any().CallsFrom(3), 9, {}, true},
    {"FromANumberNotBefore", Any().CallsFrom(3), 2, {}, false},
    {"OnTheInstanceCalled", Any().On(&g_object), 1, {&g_object, nullptr, {}}, true},
    {"OnTheHandleGiven", Any().On(&g_object), 1, {nullptr, &g_object, {}}, true},
    {"OnAnotherObject", Any().On(&g_object), 1, {&g_other_object, &g_other_object, {}}, false},
    {"OnAnObjectTheCallHasNone", Any().On(&g_object), 1, {}, false},
    {"OnNothingPicksNothing", Any().On(nullptr), 1, {}, false},
    {"ForTheGuid", Any().For(kFile), 1, {nullptr, nullptr, kFile}, true},
    {"ForAnotherGuid", Any().For(kFile), 1, {nullptr, nullptr, kOtherFile}, false},
    {"ForAGuidTheCallHasNone", Any().For(kFile), 1, {}, false},
    {"EveryConditionMet", Any().Call(2).On(&g_object).For(kFile), 2, {&g_object, nullptr, kFile}, true},
    {"OneConditionMissed", Any().Call(2).On(&g_object).For(kFile), 3, {&g_object, nullptr, kFile}, false},
};

INSTANTIATE_TEST_SUITE_P(Calls, FailurePicks, ::testing::ValuesIn(kPickCases),
                         [](const ::testing::TestParamInfo<PickCase> &info) { return info.param.name; });

TEST(FailureBuilder, OnADeviceMeansItsHandleOrItsProtocol) {
  sim::Platform platform;
  sim::PciDevice &device = platform.AddPciDevice("nvme0", 1, 8);
  const sim::Failure failure = sim::Failure("HandleProtocol").On(device);
  EXPECT_TRUE(failure.Picks(1, {nullptr, device.handle(), {}}));
  EXPECT_TRUE(failure.Picks(1, {device.protocol(), nullptr, {}}));
  EXPECT_FALSE(failure.Picks(1, {platform.gop(), platform.gop_handle(), {}}));
}

TEST(FailureBuilder, ASlotNamedAgainTakesTheLaterLeftover) {
  const sim::Failure failure = sim::Failure("ReadSection").Leaving("BufferSize", 1).Leaving("BufferSize", 7);
  ASSERT_EQ(failure.leftovers().size(), 1u);
  EXPECT_EQ(failure.leftovers()[0].number, 7u);
  EXPECT_FALSE(failure.answer().has_value());
}

// --- on the platform --------------------------------------------------------------

class Injected : public ::testing::Test {
 protected:
  std::vector<EFI_STATUS> Stalls(unsigned count) {
    std::vector<EFI_STATUS> statuses;
    for (unsigned i = 0; i < count; ++i) statuses.push_back(bs_->Stall(1));
    return statuses;
  }

  sim::Platform platform_;
  EFI_BOOT_SERVICES *bs_ = platform_.boot_services();
};

TEST_F(Injected, NumbersCountEveryCallOfTheServiceSoFar) {
  Stalls(2);
  platform_.Inject(sim::Failure("Stall").Call(3).Answers(EFI_DEVICE_ERROR));
  EXPECT_EQ(Stalls(2), (std::vector<EFI_STATUS>{EFI_DEVICE_ERROR, EFI_SUCCESS}));
  EXPECT_EQ(platform_.total_stall_us(), 3u) << "the failed Stall let no time pass";
}

TEST_F(Injected, TheFailureInjectedLastAnswers) {
  platform_.Inject(sim::Failure("Stall").Answers(EFI_DEVICE_ERROR));
  platform_.Inject(sim::Failure("Stall").Call(2).Answers(EFI_TIMEOUT));
  EXPECT_EQ(Stalls(3), (std::vector<EFI_STATUS>{EFI_DEVICE_ERROR, EFI_TIMEOUT, EFI_DEVICE_ERROR}));
}

TEST_F(Injected, ClearingOneServiceLeavesTheOthers) {
  platform_.Inject(sim::Failure("Stall").Answers(EFI_DEVICE_ERROR));
  platform_.Inject(sim::Failure("AllocatePool").Answers(EFI_OUT_OF_RESOURCES));
  platform_.ClearFailures("Stall");
  EXPECT_EQ(bs_->Stall(1), EFI_SUCCESS);
  void *buffer = nullptr;
  EXPECT_EQ(bs_->AllocatePool(EfiBootServicesData, 8, &buffer), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(buffer, nullptr);
}

TEST_F(Injected, AnotherServiceIsNotPicked) {
  platform_.Inject(sim::Failure("FreePool").Answers(EFI_DEVICE_ERROR));
  EXPECT_EQ(Stalls(1), std::vector<EFI_STATUS>{EFI_SUCCESS});
}

// A read that fails yet leaves a block and a size: the block is fresh pool of
// the caller's, holding the bytes, the size slot what was said, both logged as
// the service's results; the section-type argument it has no leftover for is untouched.
TEST_F(Injected, LeftoversReachTheirSlotsAndTheLog) {
  sim::FirmwareVolume &volume = platform_.AddFirmwareVolume("fv0");
  volume.AddRawFile(kFile, {9, 9, 9});
  platform_.Inject(sim::Failure("ReadSection")
                       .On(volume)
                       .For(kFile)
                       .Answers(EFI_WARN_BUFFER_TOO_SMALL)
                       .Leaving("Buffer", sim::PoolHolding{{4, 5}})
                       .Leaving("BufferSize", 1234));
  void *buffer = nullptr;
  UINTN size = 0;
  UINT32 authentication = 0x5A;
  EFI_FIRMWARE_VOLUME2_PROTOCOL *fv = volume.protocol();
  EXPECT_EQ(fv->ReadSection(fv, &kFile, EFI_SECTION_RAW, 0, &buffer, &size, &authentication),
            EFI_WARN_BUFFER_TOO_SMALL);
  ASSERT_TRUE(platform_.IsPoolBlock(buffer));
  const sim::PoolBlock &block = platform_.live_pool().at(buffer);
  EXPECT_EQ(block.size, 2u);
  EXPECT_EQ(block.type, EfiBootServicesData);
  EXPECT_EQ(block.origin, "ReadSection");
  EXPECT_EQ(static_cast<uint8_t *>(buffer)[1], 5);
  EXPECT_EQ(size, 1234u);
  EXPECT_EQ(authentication, 0x5Au);
  EXPECT_EQ(platform_.log().back().Field("BufferSizeOut"), "1234");
  EXPECT_EQ(volume.read_section_calls(), 0u);
  bs_->FreePool(buffer);
}

TEST_F(Injected, AnUnloggedSlotCanBeLeftAndANullSlotIsLeftAlone) {
  sim::PciDevice &device = platform_.AddPciDevice("nvme0", 1, 8);
  platform_.Inject(
      sim::Failure("HandleProtocol").On(device).Answers(EFI_DEVICE_ERROR).Leaving("Interface", &g_other_object));
  void *interface = &g_object;
  EXPECT_EQ(bs_->HandleProtocol(device.handle(), &EFI_PCI_IO_PROTOCOL_GUID, &interface), EFI_DEVICE_ERROR);
  EXPECT_EQ(interface, &g_other_object);
  EXPECT_EQ(bs_->HandleProtocol(device.handle(), &EFI_PCI_IO_PROTOCOL_GUID, nullptr), EFI_DEVICE_ERROR);
  EXPECT_TRUE(platform_.faults().empty()) << "the failure answered before the service could see the null slot";
}

// --- mistakes in a failure stop the run -------------------------------------------

using InjectedDeathTest = Injected;

TEST_F(InjectedDeathTest, AFailureWithoutAnAnswer) {
  EXPECT_DEATH(platform_.Inject(sim::Failure("Stall")), "failure of Stall says nothing it answers");
}

TEST_F(InjectedDeathTest, ALeftoverForNoParameter) {
  platform_.Inject(sim::Failure("Stall").Answers(EFI_DEVICE_ERROR).Leaving("Buffer", nullptr));
  EXPECT_DEATH(bs_->Stall(1), "Stall: the leftover for \"Buffer\" names no parameter");
}

TEST_F(InjectedDeathTest, ALeftoverForAParameterThatIsNoSlot) {
  platform_.Inject(sim::Failure("AllocatePool").Answers(EFI_SUCCESS).Leaving("Size", 3));
  void *buffer = nullptr;
  EXPECT_DEATH(bs_->AllocatePool(EfiBootServicesData, 8, &buffer), "\"Size\" names a parameter that is no out-slot");
}

TEST_F(InjectedDeathTest, ALeftoverOfTheWrongKind) {
  platform_.Inject(sim::Failure("LocateHandleBuffer").Answers(EFI_SUCCESS).Leaving("NoHandles", nullptr));
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  EXPECT_DEATH(bs_->LocateHandleBuffer(ByProtocol, &EFI_PCI_IO_PROTOCOL_GUID, nullptr, &count, &handles),
               "\"NoHandles\" must be a number");
  platform_.ClearFailures("LocateHandleBuffer");
  platform_.Inject(sim::Failure("LocateHandleBuffer").Answers(EFI_SUCCESS).Leaving("Buffer", 8));
  EXPECT_DEATH(bs_->LocateHandleBuffer(ByProtocol, &EFI_PCI_IO_PROTOCOL_GUID, nullptr, &count, &handles),
               "\"Buffer\" must be a pointer or a block");
}

}  // namespace
