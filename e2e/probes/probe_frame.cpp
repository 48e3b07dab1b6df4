#include "e2e/probes/probe_frame.h"

#include "e2e/app/app_state.h"
#include "e2e/app/serial_report.h"
#include "e2e/probes/image_pages.h"
#include "e2e/probes/page_attributes.h"
#include "e2e/probes/probe_select.h"
#include "hw/hw_access.h"

#ifndef PROBE_NUMBER
#error "build each probe with -DPROBE_NUMBER=<its number>"
#endif

AppState gApp;

namespace {

constexpr UINT8 kReturnInstruction = 0xC3;

void ReportTarget(const volatile void *Target) {
  const UINTN address = reinterpret_cast<UINTN>(Target);
  ReportPage("Target", address);
  ReportValue("Breaking", address);
}

}  // namespace

void WriteByteAt(const void *Target) {
  volatile UINT8 *byte = const_cast<volatile UINT8 *>(static_cast<const volatile UINT8 *>(Target));
  ReportTarget(byte);
  *byte = *byte;
}

void CallCodeAt(const void *Code) {
  ReportTarget(Code);
  // The compiler must neither drop an earlier store nor assume what the call does.
  __asm__ __volatile__("" ::: "memory");
  reinterpret_cast<void (*)()>(const_cast<void *>(Code))();
}

void CallReturnAt(volatile UINT8 *Buffer) {
  Buffer[0] = kReturnInstruction;
  CallCodeAt(const_cast<const UINT8 *>(Buffer));
}

extern "C" EFI_STATUS EFIAPI ProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  SetAppState(ImageHandle, SystemTable);

  // A firmware volume carries every probe; only the one the host names acts.
  if (IoRead8(kProbeSelectPort) != PROBE_NUMBER) return EFI_UNSUPPORTED;
  ReportStep("ProbeBegin");
  ReportPagingState();
  if (const void *base = LoadedImageBase(ImageHandle)) ReportImagePages("Probe", base);
  BreakRule();
  ReportStep("Survived");
  // The verdict is in: no need to boot any further.
  gApp.RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_SUCCESS;
}
