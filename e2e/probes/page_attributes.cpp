#include "e2e/probes/page_attributes.h"

#include "e2e/app/app_state.h"
#include "e2e/app/serial_report.h"
#include "e2e/probes/efi_memory_attribute.h"
#include "e2e/probes/step_name.h"

namespace {

constexpr UINT64 kPresent = 1ULL << 0;
constexpr UINT64 kWritable = 1ULL << 1;
constexpr UINT64 kLargePage = 1ULL << 7;
constexpr UINT64 kNoExecute = 1ULL << 63;
constexpr UINT64 kTableAddressMask = 0x000FFFFFFFFFF000ULL;
constexpr UINT32 kEferMsr = 0xC0000080;
constexpr UINTN kPageSize = 4096;
// PML4, PDPT, page directory, page table: the bit each level's index starts at.
constexpr unsigned kLevelShifts[] = {39, 30, 21, 12};

UINT64 ReadCr0() {
  UINT64 value;
  __asm__ __volatile__("mov %%cr0, %0" : "=r"(value));
  return value;
}

UINT64 ReadCr3() {
  UINT64 value;
  __asm__ __volatile__("mov %%cr3, %0" : "=r"(value));
  return value;
}

UINT64 ReadCr4() {
  UINT64 value;
  __asm__ __volatile__("mov %%cr4, %0" : "=r"(value));
  return value;
}

UINT64 ReadMsr(UINT32 Index) {
  UINT32 low, high;
  __asm__ __volatile__("rdmsr" : "=a"(low), "=d"(high) : "c"(Index));
  return (static_cast<UINT64>(high) << 32) | low;
}

EFI_MEMORY_ATTRIBUTE_PROTOCOL *MemoryAttributeProtocol(EFI_STATUS *Status) {
  void *protocol = nullptr;
  *Status = gApp.BootServices->LocateProtocol(&EFI_MEMORY_ATTRIBUTE_PROTOCOL_GUID, nullptr, &protocol);
  return EFI_ERROR(*Status) ? nullptr : static_cast<EFI_MEMORY_ATTRIBUTE_PROTOCOL *>(protocol);
}

// "<Step><Suffix>".
const char *StepName(StepBuffer &Out, const char *Step, const char *Suffix) {
  Out[0] = '\0';
  AppendStep(Out, Step);
  return AppendStep(Out, Suffix);
}

}  // namespace

UINT64 PageTableAttributes(UINTN Address) {
  // UEFI maps memory one to one, so each table's physical address is where it can be read.
  UINT64 table = ReadCr3() & kTableAddressMask;
  bool writable = true;
  bool executable = true;
  for (unsigned level = 0; level < 4; ++level) {
    const UINT64 entry = reinterpret_cast<const volatile UINT64 *>(table)[(Address >> kLevelShifts[level]) & 511];
    if ((entry & kPresent) == 0) return EFI_MEMORY_RP;
    writable = writable && (entry & kWritable) != 0;
    executable = executable && (entry & kNoExecute) == 0;
    // A 1 GiB or 2 MiB page ends the walk above the page table.
    if (level > 0 && level < 3 && (entry & kLargePage) != 0) break;
    table = entry & kTableAddressMask;
  }
  return (writable ? 0 : EFI_MEMORY_RO) | (executable ? 0 : EFI_MEMORY_XP);
}

void ReportPagingState() {
  ReportValue("Cr0", ReadCr0());
  ReportValue("Cr4", ReadCr4());
  ReportValue("Efer", ReadMsr(kEferMsr));
  EFI_STATUS status = EFI_SUCCESS;
  MemoryAttributeProtocol(&status);
  ReportStatus("MemoryAttributeProtocol", status);
}

void ReportPage(const char *Step, UINTN Address) {
  StepBuffer name;
  ReportValue(StepName(name, Step, ".Pages"), PageTableAttributes(Address));
  EFI_STATUS status = EFI_SUCCESS;
  EFI_MEMORY_ATTRIBUTE_PROTOCOL *protocol = MemoryAttributeProtocol(&status);
  if (protocol == nullptr) return;
  UINT64 attributes = 0;
  status = protocol->GetMemoryAttributes(protocol, Address & ~(kPageSize - 1), kPageSize, &attributes);
  if (EFI_ERROR(status)) {
    ReportStatus(StepName(name, Step, ".AttributesStatus"), status);
    return;
  }
  ReportValue(StepName(name, Step, ".Attributes"), attributes);
}
