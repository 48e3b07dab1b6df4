// EFI_SYSTEM_TABLE and its configuration table.
#pragma once

#include "efi/efi_boot_services.h"
#include "efi/efi_console.h"
#include "efi/efi_runtime_services.h"
#include "efi/efi_types.h"

struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL;

struct EFI_CONFIGURATION_TABLE {
  EFI_GUID VendorGuid;
  void *VendorTable;
};
static_assert(sizeof(EFI_CONFIGURATION_TABLE) == 24, "configuration table entry size");
static_assert(offsetof(EFI_CONFIGURATION_TABLE, VendorTable) == 16, "configuration table entry layout");

struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *FirmwareVendor;
  UINT32 FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL *ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *StdErr;
  EFI_RUNTIME_SERVICES *RuntimeServices;
  EFI_BOOT_SERVICES *BootServices;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *ConfigurationTable;
};
static_assert(offsetof(EFI_SYSTEM_TABLE, FirmwareVendor) == 24, "system table layout");
static_assert(offsetof(EFI_SYSTEM_TABLE, FirmwareRevision) == 32, "system table layout");
static_assert(offsetof(EFI_SYSTEM_TABLE, ConsoleInHandle) == 40, "system table layout");
static_assert(offsetof(EFI_SYSTEM_TABLE, ConOut) == 64, "system table layout");
static_assert(offsetof(EFI_SYSTEM_TABLE, StdErr) == 80, "system table layout");
static_assert(offsetof(EFI_SYSTEM_TABLE, RuntimeServices) == 88, "system table layout");
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96, "system table layout");
static_assert(offsetof(EFI_SYSTEM_TABLE, NumberOfTableEntries) == 104, "system table layout");
static_assert(offsetof(EFI_SYSTEM_TABLE, ConfigurationTable) == 112, "system table layout");
static_assert(sizeof(EFI_SYSTEM_TABLE) == 120, "system table size");

constexpr UINT64 EFI_SYSTEM_TABLE_SIGNATURE = 0x5453595320494249ULL;      // "IBI SYST"
constexpr UINT64 EFI_BOOT_SERVICES_SIGNATURE = 0x56524553544f4f42ULL;     // "BOOTSERV"
constexpr UINT64 EFI_RUNTIME_SERVICES_SIGNATURE = 0x56524553544e5552ULL;  // "RUNTSERV"
