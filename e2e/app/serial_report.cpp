#include "e2e/app/serial_report.h"

#include "hw/hw_access.h"
#include "e2e/app/app_state.h"

namespace {

constexpr UINT16 kCom1Data = 0x3F8;
constexpr UINT16 kCom1LineStatus = 0x3FD;
constexpr UINT8 kLineStatusDataReady = 0x01;
constexpr UINT8 kLineStatusTransmitEmpty = 0x20;
// A transmitter that never drains must not hang the run: give up on the byte.
constexpr UINTN kTransmitPolls = 100000;

void PutByte(UINT8 Byte) {
  for (UINTN i = 0; i < kTransmitPolls; ++i) {
    if ((IoRead8(kCom1LineStatus) & kLineStatusTransmitEmpty) != 0) break;
  }
  IoWrite8(kCom1Data, Byte);
}

void PutText(const char *Text) {
  for (; *Text != '\0'; ++Text) PutByte(static_cast<UINT8>(*Text));
}

void PutHex(UINT64 Value) {
  char digits[16];
  int count = 0;
  do {
    digits[count++] = "0123456789ABCDEF"[Value & 0xF];
    Value >>= 4;
  } while (Value != 0);
  PutText("0x");
  while (count > 0) PutByte(static_cast<UINT8>(digits[--count]));
}

// The firmware's console mirror writes to the same port from timer
// notifications; a line written at the highest priority is never split.
class WholeLine {
 public:
  WholeLine() : old_tpl_(gApp.BootServices->RaiseTPL(TPL_HIGH_LEVEL)) { PutText("\r\nE2E "); }
  ~WholeLine() {
    PutText("\r\n");
    gApp.BootServices->RestoreTPL(old_tpl_);
  }
  WholeLine(const WholeLine &) = delete;
  WholeLine &operator=(const WholeLine &) = delete;

 private:
  EFI_TPL old_tpl_;
};

}  // namespace

void ReportStatus(const char *Step, EFI_STATUS Status) {
  WholeLine line;
  PutText(Step);
  PutByte(' ');
  PutHex(Status);
}

void ReportStep(const char *Step) {
  WholeLine line;
  PutText(Step);
}

EFI_STATUS WaitForHostByte(UINTN TimeoutMs, UINT8 *Byte) {
  // The firmware's terminal driver polls the same receiver from a timer; at
  // the highest priority it cannot take the byte first.
  EFI_TPL old_tpl = gApp.BootServices->RaiseTPL(TPL_HIGH_LEVEL);
  EFI_STATUS status = EFI_TIMEOUT;
  for (UINTN waited = 0; waited < TimeoutMs; ++waited) {
    if ((IoRead8(kCom1LineStatus) & kLineStatusDataReady) != 0) {
      *Byte = IoRead8(kCom1Data);
      status = EFI_SUCCESS;
      break;
    }
    gApp.BootServices->Stall(1000);
  }
  gApp.BootServices->RestoreTPL(old_tpl);
  return status;
}
