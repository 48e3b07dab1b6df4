#include "hw/embedded_controller.h"

#include "hw/hw_access.h"
#include "hw/tsc.h"

namespace {

// Polls the status port until (status & Mask) == Wanted, sleeping a
// millisecond after every poll, including the one that ends the wait.
EFI_STATUS EcWaitStatus(UINT8 Mask, UINT8 Wanted) {
  for (UINTN polls = 1;; ++polls) {
    const UINT8 status = IoRead8(EcCommandPort);
    TscDelay();
    if (polls >= EcPollLimit) return EFI_TIMEOUT;
    if ((status & Mask) == Wanted) return EFI_SUCCESS;
  }
}

}  // namespace

EFI_STATUS EcWaitInputEmpty() { return EcWaitStatus(EcStatusInputFull, 0); }

EFI_STATUS EcWaitOutputFull() { return EcWaitStatus(EcStatusOutputFull, EcStatusOutputFull); }

EFI_STATUS EcRead(UINT8 Register, UINT8 *Value) {
  EcWaitInputEmpty();
  IoWrite8(EcCommandPort, EcReadCommand);
  EcWaitInputEmpty();
  IoWrite8(EcDataPort, Register);
  EcWaitOutputFull();
  *Value = IoRead8(EcDataPort);
  return EFI_SUCCESS;
}
