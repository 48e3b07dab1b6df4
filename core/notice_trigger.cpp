// The notice decision, run at each installation of the trigger protocol:
// read the machine's state, choose the notice, show and hold it, mark CMOS,
// and power off on a critical level.
#include "core/driver.h"
#include "core/driver_state.h"
#include "core/firmware/efi_guids.h"
#include "display/notice_display.h"
#include "hw/cmos.h"
#include "hw/embedded_controller.h"

namespace {

// Embedded-controller registers the controller's firmware gives meaning to.
constexpr UINT8 EcStateRegister = 0x80;  // bits 0-1: state code
constexpr UINT8 EcLevelRegister = 0x93;  // 5 or less is critical
constexpr UINT8 EcFlagRegister = 0x0D;   // bit 1 selects notice 2

constexpr UINT8 EcStateCodeMask = 0x03;
constexpr UINT8 EcStateNotice1 = 1;
constexpr UINT8 EcStateCheckLevel = 2;
constexpr UINT8 EcCriticalLevel = 5;
constexpr UINT8 EcFlagNotice2 = 0x02;

constexpr UINT8 NoticeNone = 0;
constexpr UINT8 NoticeEcState = 1;
constexpr UINT8 NoticeEcFlag = 2;
constexpr UINT8 NoticeCriticalLevel = 3;
constexpr UINT8 NoticeNoStorage = 4;
constexpr UINT8 NoticeSecureBootOff = 5;

constexpr UINT8 SecureBootUnread = 0xFF;
constexpr UINT8 SecureBootEnabled = 1;

constexpr UINTN OneSecond = 1000000;
constexpr unsigned HoldSeconds = 4;

UINT8 EcReadByte(UINT8 Register) {
  UINT8 value = 0;
  EcRead(Register, &value);
  return value;
}

// Applies the embedded controller's conditions to NoticeMode: critical
// level (3) or state code 1, then register 0x0D bit 1 (2) over both.
void DecideFromEmbeddedController() {
  const UINT8 code = EcReadByte(EcStateRegister) & EcStateCodeMask;
  const UINT8 level = EcReadByte(EcLevelRegister);

  if (code == EcStateCheckLevel && level <= EcCriticalLevel) {
    // A critical level must still hold a second later.
    gDriver.BootServices->Stall(OneSecond);
    if (EcReadByte(EcLevelRegister) <= EcCriticalLevel) gDriver.NoticeMode = NoticeCriticalLevel;
  } else if (code == EcStateNotice1) {
    gDriver.NoticeMode = NoticeEcState;
  }

  if ((EcReadByte(EcFlagRegister) & EcFlagNotice2) != 0) gDriver.NoticeMode = NoticeEcFlag;
}

// Reads the SecureBoot byte while it is still unread; a failed or oversized
// read, or one that succeeds without delivering its byte, counts as Secure
// Boot not enabled for the rest of the boot.
void ReadSecureBootState() {
  if (gDriver.SecureBootState != SecureBootUnread) return;
  UINTN size = sizeof(gDriver.SecureBootState);
  const EFI_STATUS status = gDriver.RuntimeServices->GetVariable(u"SecureBoot", &EFI_GLOBAL_VARIABLE, nullptr,
                                                                 &size, &gDriver.SecureBootState);
  if (EFI_ERROR(status) || size != sizeof(gDriver.SecureBootState)) gDriver.SecureBootState = 0;
}

}  // namespace

void EFIAPI OnNoticeTrigger(EFI_EVENT, void *) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *console = gDriver.SystemTable->ConOut;
  if (console != nullptr) {
    console->EnableCursor(console, false);
    console->ClearScreen(console);
  }
  WriteCmosNoticeMarker(CmosNoticeStarted);

  DecideFromEmbeddedController();
  ReadSecureBootState();
  if (gDriver.SecureBootState != SecureBootEnabled) gDriver.NoticeMode = NoticeSecureBootOff;
  if (gDriver.StorageAbsent != 0) gDriver.NoticeMode = NoticeNoStorage;
  if (gDriver.NoticeMode == NoticeNone) return;

  ShowNotice();
  // Set only now, so ShowNotice's failure lines keep the console's earlier attribute.
  if (console != nullptr) {
    console->SetAttribute(console, EFI_RED | EFI_BLACK);
    console->SetCursorPosition(console, 0, 0);
  }

  for (unsigned second = 0; second < HoldSeconds; ++second) gDriver.BootServices->Stall(OneSecond);

  if (gDriver.NoticeImageBuffer != nullptr) {
    gDriver.BootServices->FreePool(gDriver.NoticeImageBuffer);
    gDriver.NoticeImageBuffer = nullptr;
  }
  WriteCmosNoticeMarker(CmosNoticeFinished);

  if (gDriver.NoticeMode == NoticeCriticalLevel) {
    gDriver.RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  }
}
