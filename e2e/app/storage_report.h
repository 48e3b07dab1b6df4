// What the firmware has bound to the machine's storage when the application
// runs: how many handles carry the NVM Express pass-through protocol (one per
// NVMe controller a driver has been connected to) and the block I/O protocol.
#pragma once

#include "efi/efi.h"

// Writes "E2E NvmePassThruHandles 0x<n>" and "E2E BlockIoHandles 0x<n>".
void ReportStorageBindings();
