// Everything the driver declares of the firmware, in one include.
#pragma once

#include "core/firmware/efi_boot_services.h"
#include "core/firmware/efi_console.h"
#include "core/firmware/efi_firmware_volume.h"
#include "core/firmware/efi_graphics_output.h"
#include "core/firmware/efi_guids.h"
#include "core/firmware/efi_hob.h"
#include "core/firmware/efi_pci_io.h"
#include "core/firmware/efi_runtime_services.h"
#include "core/firmware/efi_system_table.h"
#include "core/firmware/efi_types.h"
