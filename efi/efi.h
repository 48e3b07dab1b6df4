// Everything the driver declares of the firmware, in one include.
#pragma once

#include "efi/efi_boot_services.h"
#include "efi/efi_console.h"
#include "efi/efi_firmware_volume.h"
#include "efi/efi_graphics_output.h"
#include "efi/efi_guids.h"
#include "efi/efi_hob.h"
#include "efi/efi_pci_io.h"
#include "efi/efi_runtime_services.h"
#include "efi/efi_system_table.h"
#include "efi/efi_types.h"
