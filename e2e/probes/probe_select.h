// Which probe acts in a boot: the firmware volume carries every probe, and
// only the one whose number the host gives acts. The host gives it as the
// byte a QEMU isa-debugcon stand-in answers on this port (nothing else in
// QEMU's machines uses it; without the stand-in the port reads 0xFF).
#pragma once

#include "efi/efi_types.h"

constexpr UINT16 kProbeSelectPort = 0x440;
