// What the firmware under test offers the driver, reported on COM1 so the
// host can describe the same machine to notice-sim and explain the notice:
// a HOB list, firmware-volume handles, PCI I/O handles, a graphics output
// and its current mode. Firmware differ here (U-Boot has no HOB list, no
// firmware-volume protocol of its own and no PCI I/O protocol).
#pragma once

#include "efi/efi.h"

// Writes "E2E HobList 0x<0|1>", "E2E FirmwareVolumeHandles 0x<n>",
// "E2E PciIoHandles 0x<n>", "E2E GopModes 0x<n>" (0 without a graphics
// output) and, with one, "E2E GopWidth 0x<w>", "E2E GopHeight 0x<h>".
void ReportPlatform();

// Writes "E2E PictureVolumeIndex 0x<i>": where the handle stands among the
// firmware-volume handles the firmware lists (the order a lookup asks them
// in); 0xFFFF when it is not listed.
void ReportPictureVolumeIndex(EFI_HANDLE Handle);

// Writes "E2E <Prefix>NvmeBound 0x<n>" and "E2E <Prefix>AtaBound 0x<n>":
// controllers a driver has been connected to (NVMe and ATA pass-through).
void ReportBoundControllers(const char *NvmeStep, const char *AtaStep);
