#include "core/hob_walk.h"

#include "core/driver_guids.h"
#include "core/firmware/efi_hob.h"
#include "core/memory.h"

UINT32 FindTraceHubBase(const void *HobList) {
  if (HobList == nullptr) return 0;

  const UINT8 *hob = static_cast<const UINT8 *>(HobList);
  const UINTN start = reinterpret_cast<UINTN>(HobList);
  EFI_HOB_GENERIC_HEADER header;
  CopyBytes(&header, hob, sizeof(header));
  // Bytes of the list ahead of the walk: up to the end the hand-off HOB
  // records, or without one up to the top of the address space.
  UINTN left = ~start;
  if (header.HobType == EFI_HOB_TYPE_HANDOFF && header.HobLength >= sizeof(EFI_HOB_HANDOFF_INFO_TABLE)) {
    EFI_PHYSICAL_ADDRESS end;
    CopyBytes(&end, hob + offsetof(EFI_HOB_HANDOFF_INFO_TABLE, EfiEndOfHobList), sizeof(end));
    left = end < start ? 0 : end - start;
  }
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
        UINT32 base;
        CopyBytes(&base, hob + kTraceHubBaseOffset, sizeof(base));
        return base;
      }
    }
    hob += header.HobLength;
    left -= header.HobLength;
  }
}
