#include "hw/cmos.h"

#include "hw/hw_access.h"

void WriteCmosNoticeMarker(UINT8 Value) {
  IoWrite8(kCmosExtendedIndexPort, kCmosNoticeMarkerIndex);
  IoWrite8(kCmosExtendedDataPort, Value);
}
