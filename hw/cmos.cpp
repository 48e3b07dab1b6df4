#include "hw/cmos.h"

#include "hw/hw_access.h"

void WriteCmosNoticeMarker(UINT8 Value) {
  IoWrite8(CmosExtendedIndexPort, CmosNoticeMarkerIndex);
  IoWrite8(CmosExtendedDataPort, Value);
}
