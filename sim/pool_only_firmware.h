// The least firmware a routine that only allocates needs: a system table
// whose boot services answer AllocatePool and FreePool from the C heap with
// exactly sized blocks (so the sanitizers see any read past one), and leave
// every other slot empty. No runtime services, no console, no image handle.
//
// Why not sim::Platform: its pool fills every fresh block with a marker byte
// and logs every call. For the decoder benchmark (bench/bmp_decode.cpp) that
// filling is a second pass over an 8 MB output and would be measured as the
// decoder's; for the decoder fuzzer (fuzz/bmp_decode.cpp) a whole platform
// per input would cut the inputs run a second. Both use this instead.
//
// Misuse is answered as firmware answers it and listed in faults(): a pool
// type other than boot-services data (the one a boot-service driver's own
// buffers use) or a null buffer slot (EFI_INVALID_PARAMETER), a request above
// the allocation limit (EFI_OUT_OF_RESOURCES), freeing a block it did not
// hand out (EFI_INVALID_PARAMETER).
//
// One is active at a time (the table's functions reach it); destroying it
// releases every block still live.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "efi/efi.h"

namespace sim {

class PoolOnlyFirmware {
 public:
  PoolOnlyFirmware();
  ~PoolOnlyFirmware();
  PoolOnlyFirmware(const PoolOnlyFirmware &) = delete;
  PoolOnlyFirmware &operator=(const PoolOnlyFirmware &) = delete;

  // Gives the driver's globals this system table and its boot services, as
  // DriverEntry's first lines do.
  void BindDriver();

  EFI_SYSTEM_TABLE *system_table() { return &system_table_; }
  EFI_BOOT_SERVICES *boot_services() { return &boot_services_; }

  // Requests above this many bytes fail (none by default).
  void set_allocation_limit(size_t bytes) { allocation_limit_ = bytes; }
  // Every block handed out and not yet freed, with its size.
  const std::map<void *, size_t> &blocks() const { return blocks_; }
  const std::vector<std::string> &faults() const { return faults_; }

  // What the table's functions forward to.
  EFI_STATUS Allocate(EFI_MEMORY_TYPE type, UINTN size, void **buffer);
  EFI_STATUS Free(void *buffer);

 private:
  EFI_SYSTEM_TABLE system_table_{};
  EFI_BOOT_SERVICES boot_services_{};
  size_t allocation_limit_ = static_cast<size_t>(-1);
  std::map<void *, size_t> blocks_;
  std::vector<std::string> faults_;
};

}  // namespace sim
