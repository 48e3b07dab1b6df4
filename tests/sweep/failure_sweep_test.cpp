// The failure sweep: for each machine state, a whole boot (entry, end of DXE,
// the triggers) is run once to count the driver's firmware calls; then every
// one of those calls, allocations included, is failed in turn, alone and
// every call of its service from there on; and each call of a service with
// out-slots is failed alone once more, leaving in them what careless firmware
// might. After each boot: no fault, no unexpected call, the picture released,
// nothing left in pool but the trace records, and nothing a failed call left
// behind touched. In the sanitizer build every boot is also watched for any
// out-of-bounds access, use after free or undefined behaviour.
//
// One platform serves every boot (Platform::Reset), so the sweep stays quick
// under the sanitizers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/driver_state.h"
#include "display/notice_image_lookup.h"
#include "sim/cmos.h"
#include "sim/embedded_controller.h"
#include "sim/hob_list_builder.h"
#include "sim/machine/hardware.h"
#include "sim/platform.h"
#include "tests/display/bmp_writer.h"

namespace {

enum class Picture { kGood, kMissing, kMalformed, kOversized };

struct Machine {
  std::string name;
  bool secure_boot = true;
  bool storage = true;
  std::vector<uint8_t> ec_state{0};
  std::vector<uint8_t> ec_level{100};
  uint8_t ec_flag = 0x02;  // notice 2 unless something overrides it
  unsigned triggers = 1;
  bool early_trigger = false;
  Picture picture = Picture::kGood;
  bool graphics_output = true;
  bool console = true;
  bool frequency_leaf = true;  // without it every controller wait is a Stall
  bool controller = true;      // without it both ports read 0xFF
};

template <typename Change>
Machine With(std::string name, Change change) {
  Machine machine;
  machine.name = std::move(name);
  change(machine);
  return machine;
}

const Machine kMachines[] = {
    With("Default", [](Machine &) {}),
    With("SecureBootOff", [](Machine &m) { m.secure_boot = false; }),
    With("NoStorage", [](Machine &m) { m.storage = false; }),
    With("CriticalLevel",
         [](Machine &m) {
           m.ec_state = {2};
           m.ec_level = {4, 3};
           m.ec_flag = 0;
         }),
    With("SeveralTriggers",
         [](Machine &m) {
           m.triggers = 3;
           m.ec_state = {0, 1};
           m.ec_flag = 0;
         }),
    With("EarlyTrigger", [](Machine &m) { m.early_trigger = true; }),
    With("MissingPicture", [](Machine &m) { m.picture = Picture::kMissing; }),
    With("MalformedPicture", [](Machine &m) { m.picture = Picture::kMalformed; }),
    With("OversizedPicture", [](Machine &m) { m.picture = Picture::kOversized; }),
    With("NoGraphicsOutput", [](Machine &m) { m.graphics_output = false; }),
    With("NoConsole", [](Machine &m) { m.console = false; }),
    With("NoFrequencyLeaf", [](Machine &m) { m.frequency_leaf = false; }),
    With("NoEmbeddedController", [](Machine &m) { m.controller = false; }),
};

std::vector<uint8_t> PictureBytes(Picture kind) {
  bmptest::Picture picture;
  picture.width = kind == Picture::kOversized ? sim::Platform::kDefaultWidth + 1 : 12;
  picture.height = 3;
  picture.pixels.assign(static_cast<size_t>(picture.width) * picture.height, 0x2468AC);
  std::vector<uint8_t> bytes = bmptest::Encode(picture);
  if (kind == Picture::kMalformed) bytes.resize(bytes.size() - 5);  // the last row cut short
  return bytes;
}

// A failure to inject: the Nth call of a service, alone, with every later
// one, or alone and leaving something in its out-slots.
struct Injection {
  enum Kind { kAlone, kOnwards, kLeaving };
  std::string service;
  unsigned call = 0;
  Kind kind = kAlone;
};

std::string Describe(const Machine &machine, const Injection &injection) {
  const char *const kinds[] = {" alone", " and on", " leaving its out-slots filled"};
  return machine.name + ": " + injection.service + " call " + std::to_string(injection.call) + kinds[injection.kind];
}

// What a failed call may leave in an out-slot the driver must not believe: a
// pointer to these bytes, which it must neither write nor release.
constexpr uint8_t kGuardByte = 0x5A;
std::array<uint8_t, 64> g_guard;

// The out-slots of each service the driver calls, filled as careless firmware
// might on a failure: pointers to the guard, counts and sizes that promise
// data, and for ReadSection a block of its own in the buffer slot (which the
// driver releases as it does any picture it was handed).
sim::Failure Leaving(sim::Failure failure) {
  const std::string &service = failure.service();
  if (service == "AllocatePool" || service == "CreateEvent" || service == "CreateEventEx") {
    return failure.Leaving(service == "AllocatePool" ? "Buffer" : "Event", g_guard.data());
  }
  if (service == "HandleProtocol" || service == "LocateProtocol") return failure.Leaving("Interface", g_guard.data());
  if (service == "RegisterProtocolNotify") return failure.Leaving("Registration", g_guard.data());
  if (service == "LocateHandleBuffer") return failure.Leaving("NoHandles", 3).Leaving("Buffer", g_guard.data());
  if (service == "GetVariable") return failure.Leaving("DataSize", 1);
  if (service == "ReadSection") {
    return failure.Leaving("Buffer", sim::PoolHolding{std::vector<uint8_t>(16, kGuardByte)}).Leaving("BufferSize", 16);
  }
  return failure;
}

bool HasOutSlots(const std::string &service) { return !Leaving(sim::Failure(service)).leftovers().empty(); }

EFI_STATUS InjectedStatus(const std::string &service) {
  return service == "AllocatePool" ? EFI_OUT_OF_RESOURCES : EFI_DEVICE_ERROR;
}

class FailureSweep : public ::testing::TestWithParam<Machine> {
 protected:
  // One boot of the machine with the failure injected (none for an empty
  // service). Returns the driver's calls per service.
  std::map<std::string, unsigned> Boot(const Injection &injection) {
    const Machine &m = GetParam();
    platform_.Reset();
    sim::Hardware &hw = sim::CurrentHardware();
    if (m.frequency_leaf) {
      hw.SetMaxBasicLeaf(0x16);
      hw.SetCpuidLeaf(0x15, CpuidResult{2, 176, 0, 0});
      hw.set_tsc_hz(2'112'000'000);
    }
    hw.set_pause_ns(1'000'000);  // one pause ends a delay: the controller's polls cost little
    sim::EmbeddedController ec;
    sim::ExtendedCmos cmos;
    if (m.controller) ec.Attach();
    cmos.Attach();
    ec.SetRegisterSequence(0x80, m.ec_state);
    ec.SetRegisterSequence(0x93, m.ec_level);
    ec.SetRegister(0x0D, m.ec_flag);

    if (m.secure_boot) platform_.SetSecureBoot(1);
    if (!m.secure_boot) platform_.SetSecureBoot(0);
    if (m.storage) platform_.AddPciDevice("nvme0", 0x01, 0x08, 0x02);
    platform_.AddPciDevice("net0", 0x02, 0x00);
    sim::FirmwareVolume &volume = platform_.AddFirmwareVolume("pictures");
    if (m.picture != Picture::kMissing) {
      const std::vector<uint8_t> bytes = PictureBytes(m.picture);
      for (const EFI_GUID *file :
           {&NoticeImage1Guid, &NoticeImage2Guid, &NoticeImage3Guid, &NoticeImage4Guid, &NoticeImage5Guid}) {
        volume.AddRawFile(*file, bytes);
      }
    }
    platform_.InstallHobList(sim::HobListBuilder().Handoff().TraceHub(0xFE000000).End().bytes());
    if (!m.graphics_output) platform_.RemoveGop();
    if (!m.console) platform_.RemoveConsole();

    g_guard.fill(kGuardByte);
    if (!injection.service.empty()) {
      sim::Failure failure(injection.service);
      failure.Answers(InjectedStatus(injection.service));
      switch (injection.kind) {
        case Injection::kAlone:
          failure.Call(injection.call);
          break;
        case Injection::kOnwards:
          failure.CallsFrom(injection.call);
          break;
        case Injection::kLeaving:
          failure = Leaving(failure.Call(injection.call));
          break;
      }
      platform_.Inject(std::move(failure));
    }

    EXPECT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
    if (m.early_trigger) platform_.InstallTrigger();
    platform_.SignalEndOfDxe();
    for (unsigned i = 0; i < m.triggers; ++i) platform_.InstallTrigger();

    std::map<std::string, unsigned> calls;
    for (const sim::CallRecord &record : platform_.log()) {
      if (record.name != "Notify") ++calls[record.name];  // the platform's own dispatch, not a driver call
    }
    return calls;
  }

  // What every boot must leave behind, whatever failed.
  void CheckAfterBoot(const Injection &injection) {
    const std::string where = Describe(GetParam(), injection);
    ASSERT_TRUE(platform_.faults().empty()) << where << ": " << platform_.faults().front();
    ASSERT_TRUE(platform_.unexpected_calls().empty()) << where << ": " << platform_.unexpected_calls().front();
    ASSERT_EQ(gDriver.NoticeImageBuffer, nullptr) << where;
    ASSERT_TRUE(std::all_of(g_guard.begin(), g_guard.end(), [](uint8_t b) { return b == kGuardByte; })) << where;
    // A failed FreePool leaves its block by definition; every other failure must not.
    if (injection.service == "FreePool") return;
    ASSERT_EQ(platform_.LeakReport(EfiBootServicesData), "") << where;
    size_t trace_records = 0;
    for (const auto &[buffer, block] : platform_.live_pool()) {
      ASSERT_EQ(block.type, EfiRuntimeServicesData) << where << ": " << platform_.LeakReport();
      ++trace_records;
    }
    ASSERT_LE(trace_records, 2u) << where << ": " << platform_.LeakReport();
  }

  sim::Platform platform_;
};

TEST_P(FailureSweep, EveryCallFailedAloneAndFromThereOn) {
  const std::map<std::string, unsigned> calls = Boot({});
  CheckAfterBoot({});
  ASSERT_FALSE(calls.empty());
  ASSERT_GT(calls.at("AllocatePool"), 0u);

  unsigned boots = 0;
  unsigned sites = 0;  // distinct (service, call number) pairs failed
  for (const auto &[service, count] : calls) {
    for (unsigned call = 1; call <= count; ++call) {
      ++sites;
      for (Injection::Kind kind : {Injection::kAlone, Injection::kOnwards, Injection::kLeaving}) {
        if (kind == Injection::kLeaving && !HasOutSlots(service)) continue;
        const Injection injection{service, call, kind};
        Boot(injection);
        CheckAfterBoot(injection);
        if (HasFatalFailure()) return;
        ++boots;
      }
    }
  }
  RecordProperty("boots", static_cast<int>(boots));
  RecordProperty("sites", static_cast<int>(sites));
}

INSTANTIATE_TEST_SUITE_P(Machines, FailureSweep, ::testing::ValuesIn(kMachines),
                         [](const ::testing::TestParamInfo<Machine> &info) { return info.param.name; });

}  // namespace
