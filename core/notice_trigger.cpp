// The notice decision, run at each installation of the trigger protocol.
#include "core/driver.h"
#include "core/driver_state.h"

void EFIAPI OnNoticeTrigger(EFI_EVENT, void *) {
  // The decision sequence is not built yet; the notification is registered so
  // the firmware's calls are already exercised.
}
