// The hardware seam (hw/hw_access.h) as host builds link it: every access
// goes to the current simulated machine.
#include "hw/hw_access.h"
#include "sim/machine/hardware.h"

UINT8 IoRead8(UINT16 Port) { return sim::CurrentHardware().PortRead(Port); }
void IoWrite8(UINT16 Port, UINT8 Value) { sim::CurrentHardware().PortWrite(Port, Value); }
CpuidResult Cpuid(UINT32 Leaf) { return sim::CurrentHardware().CpuidQuery(Leaf); }
UINT64 ReadTimestampCounter() { return sim::CurrentHardware().ReadTsc(); }
void CpuPause() { sim::CurrentHardware().Pause(); }
void MmioWrite8(UINTN Address, UINT8 Value) { sim::CurrentHardware().RecordMmio(Address, 8, Value); }
void MmioWrite16(UINTN Address, UINT16 Value) { sim::CurrentHardware().RecordMmio(Address, 16, Value); }
void MmioWrite32(UINTN Address, UINT32 Value) { sim::CurrentHardware().RecordMmio(Address, 32, Value); }
void MmioWrite64(UINTN Address, UINT64 Value) { sim::CurrentHardware().RecordMmio(Address, 64, Value); }
