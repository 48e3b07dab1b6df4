#include "sim/pool_only_firmware.h"

#include <cstdio>
#include <cstdlib>

#include "sim/driver_reload.h"

namespace sim {

namespace {

PoolOnlyFirmware *g_active = nullptr;

PoolOnlyFirmware &Active() {
  if (g_active == nullptr) {
    std::fprintf(stderr, "sim::PoolOnlyFirmware: a boot service was called with none active\n");
    std::abort();
  }
  return *g_active;
}

EFI_STATUS EFIAPI AllocatePoolThunk(EFI_MEMORY_TYPE type, UINTN size, void **buffer) {
  return Active().Allocate(type, size, buffer);
}

EFI_STATUS EFIAPI FreePoolThunk(void *buffer) { return Active().Free(buffer); }

}  // namespace

PoolOnlyFirmware::PoolOnlyFirmware() {
  if (g_active != nullptr) {
    std::fprintf(stderr, "sim::PoolOnlyFirmware: one is already active\n");
    std::abort();
  }
  g_active = this;
  boot_services_.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
  boot_services_.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);
  boot_services_.AllocatePool = AllocatePoolThunk;
  boot_services_.FreePool = FreePoolThunk;
  system_table_.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
  system_table_.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  system_table_.BootServices = &boot_services_;
}

PoolOnlyFirmware::~PoolOnlyFirmware() {
  for (auto &[buffer, size] : blocks_) std::free(buffer);
  g_active = nullptr;
}

void PoolOnlyFirmware::BindDriver() { BindDriverTables(nullptr, &system_table_); }

EFI_STATUS PoolOnlyFirmware::Allocate(EFI_MEMORY_TYPE type, UINTN size, void **buffer) {
  if (buffer == nullptr) {
    faults_.push_back("AllocatePool with a null Buffer slot");
    return EFI_INVALID_PARAMETER;
  }
  if (type != EfiBootServicesData) {
    faults_.push_back("AllocatePool of pool type " + std::to_string(static_cast<int>(type)) +
                      " (only boot-services data here)");
    return EFI_INVALID_PARAMETER;
  }
  if (size > allocation_limit_) {
    faults_.push_back("AllocatePool of " + std::to_string(size) + " bytes, above the limit of " +
                      std::to_string(allocation_limit_));
    return EFI_OUT_OF_RESOURCES;
  }
  void *memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) return EFI_OUT_OF_RESOURCES;
  blocks_[memory] = size;
  *buffer = memory;
  return EFI_SUCCESS;
}

EFI_STATUS PoolOnlyFirmware::Free(void *buffer) {
  auto it = blocks_.find(buffer);
  if (it == blocks_.end()) {
    faults_.push_back("FreePool of a block not handed out");
    return EFI_INVALID_PARAMETER;
  }
  std::free(buffer);
  blocks_.erase(it);
  return EFI_SUCCESS;
}

}  // namespace sim
