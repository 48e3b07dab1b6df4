// A whole boot of the driver on the simulated platform with fuzzed machine
// state: DriverEntry over a fuzzed HOB list, end of DXE over fuzzed PCI class
// codes, then one to three triggers with fuzzed embedded-controller register
// sequences, SecureBoot answer, processor frequency and picture bytes, and
// a fuzzed allocation that fails (alone or from there on).
//
// After the boot: no finding, the platform saw no misuse and no unexpected
// call, and only the trace records are left in pool.
//
// One platform serves the whole run (Platform::Reset before every input), so
// an input costs a boot, not the building of a machine with a 3 MiB screen.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/driver_state.h"
#include "core/notice_decision.h"
#include "display/notice_image_lookup.h"
#include "efi/efi_hob.h"
#include "hw/tsc.h"
#include "sim/cmos.h"
#include "sim/embedded_controller.h"
#include "sim/hob_list_builder.h"
#include "sim/machine/hardware.h"
#include "sim/platform.h"

namespace {

const EFI_GUID *const kPictures[] = {&NoticeImage1Guid, &NoticeImage2Guid, &NoticeImage3Guid,
                                     &NoticeImage4Guid, &NoticeImage5Guid, &NoticeImage6Guid};
constexpr uint8_t kEcRegisters[] = {kEcStateRegister, kEcLevelRegister, kEcFlagRegister};

void Fail(const char *what, const std::string &detail) {
  std::fprintf(stderr, "whole_boot: %s: %s\n", what, detail.c_str());
  std::abort();
}

// The processor: no frequency leaf (Stall fallback), a real one, or fuzzed
// ratio and crystal (absurd ones included). The counter runs at the frequency
// the driver reads from it and each pause lets a millisecond pass, so a
// delay ends after a pause or two whatever the frequency.
void SetProcessor(FuzzedDataProvider &in, bool needs_frequency) {
  sim::Hardware &hw = sim::CurrentHardware();
  hw.set_pause_ns(1'000'000);
  switch (in.ConsumeIntegralInRange<int>(needs_frequency ? 1 : 0, 2)) {
    case 0:
      return;  // highest basic leaf 0xD
    case 1:
      hw.SetMaxBasicLeaf(0x16);
      hw.SetCpuidLeaf(0x15, CpuidResult{2, 176, 0, 0});
      break;
    default:
      hw.SetMaxBasicLeaf(0x16);
      hw.SetCpuidLeaf(0x15, CpuidResult{in.ConsumeIntegral<uint32_t>(), in.ConsumeIntegral<uint32_t>(),
                                        in.ConsumeIntegral<uint32_t>(), 0});
      break;
  }
  const UINT64 frequency = TscFrequency();
  if (frequency != 0 && frequency <= kTscMaxPlausibleHz) hw.set_tsc_hz(frequency);
}

void SetSecureBoot(FuzzedDataProvider &in, sim::Platform &platform) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      break;  // no variable
    case 1:
      platform.SetSecureBoot(in.ConsumeIntegral<uint8_t>());
      break;
    case 2:
      platform.SetVariable(u"SecureBoot", EFI_GLOBAL_VARIABLE, 0x6, {});
      break;
    default:
      platform.SetVariable(u"SecureBoot", EFI_GLOBAL_VARIABLE, 0x6, in.ConsumeBytes<uint8_t>(4));
      break;
  }
}

void AddPciDevices(FuzzedDataProvider &in, sim::Platform &platform) {
  const int count = in.ConsumeIntegralInRange<int>(0, 3);
  for (int i = 0; i < count; ++i) {
    // Mostly mass storage, so the subclass matters.
    const uint8_t base = in.ConsumeBool() ? 0x01 : in.ConsumeIntegral<uint8_t>();
    const uint8_t subclass = in.ConsumeIntegral<uint8_t>();
    platform.AddPciDevice("pci" + std::to_string(i), base, subclass, in.ConsumeIntegral<uint8_t>());
  }
}

// Returns whether the controller is faulty.
bool SetEmbeddedController(FuzzedDataProvider &in, sim::EmbeddedController &ec) {
  // A faulty controller costs 512 polls a wait, so only one input in 80 or so has one.
  const uint8_t kind = in.ConsumeIntegral<uint8_t>();
  ec.set_kind(kind < 0xFD ? sim::EcKind::kIdle : static_cast<sim::EcKind>(kind & 3));
  ec.set_latency_polls(in.ConsumeIntegralInRange<unsigned>(0, 3));
  for (uint8_t reg : kEcRegisters) {
    ec.SetRegisterSequence(reg, in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 3)));
  }
  return ec.kind() != sim::EcKind::kIdle;
}

// A PI list: the hand-off HOB, recording the list's true end, then fuzzed bytes.
void InstallHobList(FuzzedDataProvider &in, sim::Platform &platform) {
  const size_t length = in.ConsumeIntegralInRange<size_t>(0, 96);
  platform.InstallHobList(sim::HobListBuilder().Handoff().Bytes(in.ConsumeBytes<uint8_t>(length)).bytes());
}

void BootOnce(sim::Platform &platform, const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);

  sim::EmbeddedController ec;
  sim::ExtendedCmos cmos;
  ec.Attach();
  cmos.Attach();
  // A faulty controller's thousands of polls run on the counter, not on
  // logged Stall calls, and in one trigger only: its inputs stay quick.
  const bool faulty = SetEmbeddedController(in, ec);
  SetProcessor(in, faulty);
  SetSecureBoot(in, platform);
  AddPciDevices(in, platform);
  InstallHobList(in, platform);

  const bool early_trigger = in.ConsumeBool();
  const int triggers = faulty ? 1 : in.ConsumeIntegralInRange<int>(1, 3);
  if (in.ConsumeBool()) platform.RemoveGop();
  if (in.ConsumeBool()) platform.RemoveConsole();
  if (const unsigned fail_at = in.ConsumeIntegralInRange<unsigned>(0, 12)) {
    if (in.ConsumeBool()) {
      platform.Inject(sim::Failure("AllocatePool").Call(fail_at).Answers(EFI_OUT_OF_RESOURCES));
    } else {
      platform.Inject(sim::Failure("AllocatePool").CallsFrom(fail_at).Answers(EFI_OUT_OF_RESOURCES));
    }
  }

  // The rest is the picture, the same for every notice.
  const std::vector<uint8_t> picture = in.ConsumeRemainingBytes<uint8_t>();
  sim::FirmwareVolume &volume = platform.AddFirmwareVolume("pictures");
  for (const EFI_GUID *file : kPictures) volume.AddRawFile(*file, picture);

  if (platform.RunDriverEntry() != EFI_SUCCESS) Fail("DriverEntry", "did not succeed");
  if (early_trigger) platform.InstallTrigger();
  platform.SignalEndOfDxe();
  for (int i = 0; i < triggers; ++i) platform.InstallTrigger();

  if (!platform.faults().empty()) Fail("fault", platform.faults().front());
  if (!platform.unexpected_calls().empty()) Fail("unexpected call", platform.unexpected_calls().front());
  if (gDriver.NoticeImageBuffer != nullptr) Fail("picture", "not released after the hold");
  if (platform.pool_usage(EfiBootServicesData).blocks != 0) {
    Fail("boot-services pool left", platform.LeakReport(EfiBootServicesData));
  }
  for (const auto &[buffer, block] : platform.live_pool()) {
    if (block.type != EfiRuntimeServicesData) Fail("pool left", platform.LeakReport());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static sim::Platform platform;
  platform.Reset();
  BootOnce(platform, data, size);
  // Reset again (the devices are gone by now): what this input allocated is
  // released within it, so libFuzzer sees no growth to chase as a leak.
  platform.Reset();
  return 0;
}
