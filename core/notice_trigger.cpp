// The notice decision, run at each installation of the trigger protocol:
// read the machine's state, choose the notice, show and hold it, mark CMOS,
// and power off on a critical level.
#include "base/driver_state.h"
#include "core/driver.h"
#include "core/notice_decision.h"
#include "display/notice_display.h"
#include "efi/efi_guids.h"
#include "hw/cmos.h"
#include "hw/embedded_controller.h"

namespace {

constexpr UINTN kOneSecond = 1000000;
constexpr unsigned kHoldSeconds = 4;

UINT8 EcReadByte(UINT8 Register) {
  UINT8 value = 0;
  EcRead(Register, &value);
  return value;
}

// Reads the embedded controller's registers in their fixed order: state code,
// level, the level again a second later when the critical wait is due, flag.
void ReadEmbeddedController(NoticeReadings *Readings) {
  Readings->State = EcReadByte(kEcStateRegister);
  Readings->Level = EcReadByte(kEcLevelRegister);
  Readings->LevelAgain = Readings->Level;
  if (CriticalWaitDue(Readings->State, Readings->Level)) {
    gDriver.BootServices->Stall(kOneSecond);
    Readings->LevelAgain = EcReadByte(kEcLevelRegister);
  }
  Readings->Flag = EcReadByte(kEcFlagRegister);
}

// Reads the SecureBoot byte while it is still unread; a failed or oversized
// read, or one that succeeds without delivering its byte, counts as Secure
// Boot not enabled for the rest of the boot.
void ReadSecureBootState() {
  if (gDriver.SecureBootState != kSecureBootUnread) return;
  UINTN size = sizeof(gDriver.SecureBootState);
  const EFI_STATUS status = gDriver.RuntimeServices->GetVariable(u"SecureBoot", &EFI_GLOBAL_VARIABLE, nullptr, &size,
                                                                 &gDriver.SecureBootState);
  if (EFI_ERROR(status) || size != sizeof(gDriver.SecureBootState)) gDriver.SecureBootState = 0;
}

}  // namespace

void EFIAPI OnNoticeTrigger(EFI_EVENT, void *) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *console = gDriver.SystemTable->ConOut;
  if (console != nullptr) {
    console->EnableCursor(console, false);
    console->ClearScreen(console);
  }
  WriteCmosNoticeMarker(kCmosNoticeStarted);

  NoticeReadings readings;
  ReadEmbeddedController(&readings);
  ReadSecureBootState();
  readings.SecureBootState = gDriver.SecureBootState;
  readings.StorageAbsent = gDriver.StorageAbsent;
  readings.PreviousMode = gDriver.NoticeMode;
  gDriver.NoticeMode = DecideNotice(readings);
  if (gDriver.NoticeMode == kNoticeNone) return;

  ShowNotice();
  // Set only now, so ShowNotice's failure lines keep the console's earlier attribute.
  if (console != nullptr) {
    console->SetAttribute(console, EFI_RED | EFI_BLACK);
    console->SetCursorPosition(console, 0, 0);
  }

  for (unsigned second = 0; second < kHoldSeconds; ++second) gDriver.BootServices->Stall(kOneSecond);

  if (gDriver.NoticeImageBuffer != nullptr) {
    gDriver.BootServices->FreePool(gDriver.NoticeImageBuffer);
    gDriver.NoticeImageBuffer = nullptr;
  }
  WriteCmosNoticeMarker(kCmosNoticeFinished);

  if (gDriver.NoticeMode == kNoticeCriticalLevel) {
    gDriver.RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  }
}
