#include "core/hob_walk.h"

#include "core/driver_guids.h"
#include "core/firmware/efi_hob.h"
#include "core/memory.h"

UINT32 FindTraceHubBase(const void *HobList) {
  if (HobList == nullptr) return 0;

  const UINT8 *hob = static_cast<const UINT8 *>(HobList);
  for (;;) {
    EFI_HOB_GENERIC_HEADER header;
    CopyBytes(&header, hob, sizeof(header));
    if (header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST) return 0;
    if (header.HobLength < sizeof(EFI_HOB_GENERIC_HEADER)) return 0;

    if (header.HobType == EFI_HOB_TYPE_GUID_EXTENSION && header.HobLength >= kTraceHubBaseOffset + sizeof(UINT32)) {
      EFI_GUID name;
      CopyBytes(&name, hob + sizeof(EFI_HOB_GENERIC_HEADER), sizeof(name));
      if (GuidEquals(name, TraceHubInfoHobGuid)) {
        UINT32 base;
        CopyBytes(&base, hob + kTraceHubBaseOffset, sizeof(base));
        return base;
      }
    }
    hob += header.HobLength;
  }
}
