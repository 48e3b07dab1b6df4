#include "core/hob_walk.h"

#include "base/driver_state.h"
#include "base/memory.h"
#include "core/driver_guids.h"
#include "efi/efi_guids.h"
#include "efi/efi_hob.h"
#include "efi/efi_system_table.h"

void *FindHobList() {
  if (gDriver.HobList != nullptr) return gDriver.HobList;

  const EFI_SYSTEM_TABLE *st = gDriver.SystemTable;
  for (UINTN i = 0; i < st->NumberOfTableEntries; ++i) {
    const EFI_CONFIGURATION_TABLE &entry = st->ConfigurationTable[i];
    if (GuidEquals(entry.VendorGuid, EFI_HOB_LIST_GUID)) {
      gDriver.HobList = entry.VendorTable;
      return gDriver.HobList;
    }
  }
  return nullptr;
}

UINT32 FindTraceHubBaseIn(const void *List, UINTN Length) {
  const UINT8 *hob = static_cast<const UINT8 *>(List);
  UINTN left = Length;
  EFI_HOB_GENERIC_HEADER header;
  for (;;) {
    if (left < sizeof(header)) return 0;
    CopyBytes(&header, hob, sizeof(header));
    // The end HOB, a HOB that could never advance, or one that claims bytes
    // beyond the list, ends the walk.
    if (header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST || header.HobLength < sizeof(header) ||
        header.HobLength > left) {
      return 0;
    }
    if (header.HobType == EFI_HOB_TYPE_GUID_EXTENSION && header.HobLength >= sizeof(EFI_HOB_GUID_TYPE)) {
      EFI_GUID name;
      CopyBytes(&name, hob + sizeof(EFI_HOB_GENERIC_HEADER), sizeof(name));
      if (GuidEquals(name, TraceHubInfoHobGuid)) {
        // Only the first trace HOB counts, even when it is too short to hold its base.
        if (header.HobLength < kTraceHubBaseOffset + sizeof(UINT32)) return 0;
        return ReadLe32(hob + kTraceHubBaseOffset);
      }
    }
    hob += header.HobLength;
    left -= header.HobLength;
  }
}

UINT32 FindTraceHubBase(const void *HobList) {
  if (HobList == nullptr) return 0;

  const UINT8 *list = static_cast<const UINT8 *>(HobList);
  const UINTN start = reinterpret_cast<UINTN>(HobList);
  EFI_HOB_GENERIC_HEADER header;
  CopyBytes(&header, list, sizeof(header));
  // Bytes of the list: up to the end the hand-off HOB records, or without one
  // up to the top of the address space.
  UINTN length = ~start;
  if (header.HobType == EFI_HOB_TYPE_HANDOFF && header.HobLength >= sizeof(EFI_HOB_HANDOFF_INFO_TABLE)) {
    const EFI_PHYSICAL_ADDRESS end = ReadLe64(list + offsetof(EFI_HOB_HANDOFF_INFO_TABLE, EfiEndOfHobList));
    length = end < start ? 0 : end - start;
  }
  return FindTraceHubBaseIn(HobList, length);
}
