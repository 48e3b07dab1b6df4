#include "e2e/app/serial_report.h"

#include "e2e/app/app_state.h"
#include "hw/hw_access.h"

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
// notifications, and its terminal driver polls the same receiver: at the
// highest priority neither can run, so a line is never split and a byte from
// the host is never taken first.
class HighestPriority {
 public:
  HighestPriority() : old_tpl_(gApp.BootServices->RaiseTPL(TPL_HIGH_LEVEL)) {}
  ~HighestPriority() { gApp.BootServices->RestoreTPL(old_tpl_); }
  HighestPriority(const HighestPriority &) = delete;
  HighestPriority &operator=(const HighestPriority &) = delete;

 private:
  EFI_TPL old_tpl_;
};

void PutLine(const char *Step, const EFI_STATUS *Status) {
  PutText("\r\nE2E ");
  PutText(Step);
  if (Status != nullptr) {
    PutByte(' ');
    PutHex(*Status);
  }
  PutText("\r\n");
}

}  // namespace

void ReportStatus(const char *Step, EFI_STATUS Status) {
  HighestPriority priority;
  PutLine(Step, &Status);
}

void ReportStep(const char *Step) {
  HighestPriority priority;
  PutLine(Step, nullptr);
}

EFI_STATUS AskHostAndWait(const char *Step, UINTN TimeoutMs, UINT8 *Byte) {
  HighestPriority priority;
  // Bytes that came before the question are not the answer.
  for (UINTN i = 0; i < kTransmitPolls && (IoRead8(kCom1LineStatus) & kLineStatusDataReady) != 0; ++i) {
    IoRead8(kCom1Data);
  }
  PutLine(Step, nullptr);
  for (UINTN waited = 0; waited < TimeoutMs; ++waited) {
    if ((IoRead8(kCom1LineStatus) & kLineStatusDataReady) != 0) {
      *Byte = IoRead8(kCom1Data);
      return EFI_SUCCESS;
    }
    gApp.BootServices->Stall(1000);
  }
  return EFI_TIMEOUT;
}
