#include "preview_run.h"

#include <memory>
#include <stdexcept>

#include "base/driver_state.h"
#include "core/driver_guids.h"
#include "display/notice_image_lookup.h"
#include "ec_read_tracker.h"
#include "hw/cmos.h"
#include "hw/tsc.h"
#include "picture_reason.h"
#include "sim/cmos.h"
#include "sim/embedded_controller.h"
#include "sim/hob_list_builder.h"
#include "sim/machine/hardware.h"
#include "sim/platform.h"
#include "timeline.h"

namespace preview {

namespace {

// A processor that reports its timestamp-counter leaf: 24 MHz crystal x 176 / 2
// = 2.112 GHz, so the EC polling delays take their real time.
constexpr CpuidLeaf15 kDefaultLeaf15{2, 176, 0};
constexpr uint32_t kDefaultMaxLeaf = 0x16;

// Variable attributes: boot-service and runtime access.
constexpr UINT32 kBootServiceAccess = 0x2;
constexpr UINT32 kRuntimeAccess = 0x4;

void SetUpProcessor(const Options &options) {
  sim::Hardware &hw = sim::CurrentHardware();
  const CpuidLeaf15 leaf = options.cpuid_15.value_or(kDefaultLeaf15);
  hw.SetCpuidLeaf(0x15, CpuidResult{leaf.eax, leaf.ebx, leaf.ecx, 0});
  hw.SetMaxBasicLeaf(options.cpuid_max_leaf.value_or(kDefaultMaxLeaf));
  // The counter runs at the rate the leaf reports (by the driver's own
  // formula), when it reports one.
  if (uint64_t hz = TscFrequencyFromLeaf(leaf.eax, leaf.ebx, leaf.ecx); hz != 0) hw.set_tsc_hz(hz);
}

void SetUpSecureBoot(const Options &options, sim::Platform &platform) {
  switch (options.secure_boot) {
    case SecureBootVariable::kByte:
      platform.SetSecureBoot(options.secure_boot_byte);
      return;
    case SecureBootVariable::kMissing:
      return;
    case SecureBootVariable::kBig:
      // Its first byte says "enabled", so only a driver that takes the
      // refused read for what it is shows notice 5.
      platform.SetVariable(u"SecureBoot", EFI_GLOBAL_VARIABLE, kBootServiceAccess | kRuntimeAccess, {1, 0});
      return;
  }
}

BltRect RectOf(const sim::BltCall &call) { return {call.destination_x, call.destination_y, call.width, call.height}; }

// Counters of the platform's records, taken before and after a notification.
struct Marks {
  size_t calls;
  size_t console;
  size_t blts;
  uint64_t stall_us;
  size_t get_variables;
  size_t ec_reads;
  size_t cmos_writes;
  size_t resets;
  unsigned trigger_notifies;
};

class BootRun {
 public:
  BootRun(const Options &options, const PictureFiles &pictures, const PictureFiles &second_volume)
      : options_(options), pictures_(pictures) {
    platform_.SetScreenSize(options.screen_width, options.screen_height);
    if (options.no_gop) platform_.RemoveGop();
    if (options.no_console) platform_.RemoveConsole();
    for (const PciFunction &f : options.pci) {
      platform_.AddPciDevice(f.name, f.base_class, f.subclass, f.programming_interface);
    }
    sim::FirmwareVolume &volume = platform_.AddFirmwareVolume("fv0");
    for (const auto &[mode, bytes] : pictures) {
      volume.AddRawFile(NoticeImageGuid(static_cast<UINT8>(mode)), bytes);
    }
    if (!second_volume.empty()) {
      sim::FirmwareVolume &second = platform_.AddFirmwareVolume("fv1");
      for (const auto &[mode, bytes] : second_volume)
        second.AddRawFile(NoticeImageGuid(static_cast<UINT8>(mode)), bytes);
    }
    SetUpSecureBoot(options, platform_);
    ec_ = std::make_unique<sim::EmbeddedController>(options.ec_kind);
    for (const auto &[reg, values] : options.ec_registers) ec_->SetRegisterSequence(reg, values);
    ec_->Attach();
    cmos_ = std::make_unique<sim::ExtendedCmos>();
    cmos_->Attach();
    SetUpProcessor(options);
    // Real firmware always publishes a HOB list; the trace HOB is there only when asked for.
    sim::HobListBuilder hobs;
    if (options.trace_hub_base) hobs.TraceHub(*options.trace_hub_base);
    platform_.InstallHobList(hobs.End().bytes());
    if (options.fail_alloc)
      platform_.Inject(
          sim::Failure("AllocatePool").Call(static_cast<unsigned>(*options.fail_alloc)).Answers(EFI_OUT_OF_RESOURCES));

    sim::Hardware &hw = sim::CurrentHardware();
    hw.on_port = [this](const sim::PortAccess &access) {
      tracker_.Observe(access);
      timeline_.AddPort(access, platform_.log().size());
    };
    hw.on_mmio = [this](const sim::MmioStore &store) {
      timeline_.AddMmio(store, sim::CurrentHardware().now_ns(), platform_.log().size());
    };
  }

  ~BootRun() {
    sim::Hardware &hw = sim::CurrentHardware();
    hw.on_port = nullptr;
    hw.on_mmio = nullptr;
  }

  RunResult Run() {
    RunResult result;
    HostStep("DriverEntry");
    result.entry_status = platform_.RunDriverEntry();
    if (options_.trigger_before_end_of_dxe) result.notifications.push_back(Trigger(0, true));
    HostStep("SignalEndOfDxe");
    platform_.SignalEndOfDxe();
    for (unsigned i = 0; i < options_.triggers; ++i) {
      if (platform_.is_off()) {
        result.triggers_skipped = options_.triggers - i;
        break;
      }
      result.notifications.push_back(Trigger(static_cast<unsigned>(result.notifications.size()), false));
    }
    HostStep("End");

    result.screen_width = platform_.screen_width();
    result.screen_height = platform_.screen_height();
    result.storage_absent = gDriver.StorageAbsent;
    result.secure_boot_state = gDriver.SecureBootState;
    result.trace_hub_base = gDriver.TraceHubBase;
    result.connected = platform_.connected_names();
    result.pool_in_use_bytes = platform_.pool_usage().bytes;
    result.pool_peak_bytes = platform_.peak_pool_bytes();
    result.machine_off = platform_.is_off();
    result.end_us = platform_.now_ns() / 1000;
    result.unexpected_calls = platform_.unexpected_calls();
    result.faults = platform_.faults();
    result.framebuffer = platform_.framebuffer();
    result.events = timeline_.Merge(platform_.log());
    return result;
  }

 private:
  void HostStep(std::string step, nlohmann::ordered_json details = {}) {
    timeline_.AddHostStep(std::move(step), platform_.now_ns(), platform_.log().size(), std::move(details));
  }

  unsigned TriggerNotifies() const {
    const sim::SimEvent *event = platform_.FindEvent(gDriver.TriggerEvent);
    return event == nullptr ? 0 : event->notify_count;
  }

  Marks Mark() const {
    return {platform_.log().size(),     platform_.console_calls().size(),      platform_.blt_calls().size(),
            platform_.total_stall_us(), platform_.get_variable_calls().size(), tracker_.reads().size(),
            cmos_->writes().size(),     platform_.reset_calls().size(),        TriggerNotifies()};
  }

  Notification Trigger(unsigned index, bool before_end_of_dxe) {
    Notification n;
    n.index = index;
    n.before_end_of_dxe = before_end_of_dxe;
    n.mode_before = gDriver.NoticeMode;
    n.storage_absent = gDriver.StorageAbsent;
    n.start_us = platform_.now_ns() / 1000;
    const Marks before = Mark();
    HostStep("InstallTrigger", {{"trigger", index}});
    platform_.InstallTrigger();
    const Marks after = Mark();

    n.notified = after.trigger_notifies > before.trigger_notifies;
    n.notice_mode = gDriver.NoticeMode;
    n.secure_boot_state = gDriver.SecureBootState;
    n.end_us = platform_.now_ns() / 1000;
    n.stall_us = after.stall_us - before.stall_us;
    n.get_variable_calls = static_cast<unsigned>(after.get_variables - before.get_variables);
    n.shutdown = after.resets > before.resets;
    for (size_t i = before.console; i < after.console; ++i) {
      const sim::ConsoleCall &call = platform_.console_calls()[i];
      if (call.kind == sim::ConsoleCall::OutputString) n.console.push_back(sim::Utf8Text(call.text));
    }
    for (size_t i = before.blts; i < after.blts; ++i) {
      const sim::BltCall &call = platform_.blt_calls()[i];
      if (EFI_ERROR(call.status)) {
        n.refused_blts.push_back(RectOf(call));
      } else {
        n.blt = RectOf(call);
      }
    }
    for (size_t i = before.ec_reads; i < after.ec_reads; ++i) n.ec_reads.push_back(tracker_.reads()[i]);
    for (size_t i = before.cmos_writes; i < after.cmos_writes; ++i) {
      const sim::CmosWrite &w = cmos_->writes()[i];
      if (w.index == kCmosNoticeMarkerIndex) n.cmos_0x30 = w.value;
    }
    FindPictureRead(before.calls, after.calls, n);
    n.reason = NotShownReason(options_, pictures_, platform_.screen_width(), platform_.screen_height(), n);
    return n;
  }

  // The picture file asked for, from the ReadSection calls of the notification.
  void FindPictureRead(size_t first_call, size_t end_call, Notification &n) const {
    for (size_t i = first_call; i < end_call; ++i) {
      const sim::CallRecord &call = platform_.log()[i];
      if (call.name != "ReadSection") continue;
      for (unsigned mode = 1; mode <= 6; ++mode) {
        const EFI_GUID &guid = NoticeImageGuid(static_cast<UINT8>(mode));
        if (call.Field("NameGuid") == sim::GuidText(guid)) n.picture_requested = guid;
      }
      if (call.has_status && !EFI_ERROR(call.status)) n.picture_read = true;
    }
  }

  const Options &options_;
  const PictureFiles &pictures_;
  sim::Platform platform_;
  std::unique_ptr<sim::EmbeddedController> ec_;
  std::unique_ptr<sim::ExtendedCmos> cmos_;
  EcReadTracker tracker_;
  Timeline timeline_;
};

}  // namespace

RunResult RunPreview(const Options &options, const PictureFiles &pictures, const PictureFiles &second_volume) {
  BootRun run(options, pictures, second_volume);
  return run.Run();
}

}  // namespace preview
