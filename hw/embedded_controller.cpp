#include "hw/embedded_controller.h"

#include "hw/hw_access.h"
#include "hw/tsc.h"

namespace {

// Polls the status port until (status & Mask) == Wanted, sleeping a
// millisecond after every poll, including the one that ends the wait.
EFI_STATUS EcWaitStatus(UINT8 Mask, UINT8 Wanted) {
  for (UINTN polls = 1;; ++polls) {
    const UINT8 status = IoRead8(kEcCommandPort);
    TscDelay();
    if (polls >= kEcPollLimit) return EFI_TIMEOUT;
    if ((status & Mask) == Wanted) return EFI_SUCCESS;
  }
}

}  // namespace

EFI_STATUS EcWaitInputEmpty() { return EcWaitStatus(kEcStatusInputFull, 0); }

EFI_STATUS EcWaitOutputFull() { return EcWaitStatus(kEcStatusOutputFull, kEcStatusOutputFull); }

EFI_STATUS EcRead(UINT8 Register, UINT8 *Value) {
  EcWaitInputEmpty();
  IoWrite8(kEcCommandPort, kEcReadCommand);
  EcWaitInputEmpty();
  IoWrite8(kEcDataPort, Register);
  EcWaitOutputFull();
  *Value = IoRead8(kEcDataPort);
  return EFI_SUCCESS;
}
