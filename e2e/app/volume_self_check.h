// Checks, on the real firmware, that the picture volume answers the
// firmware-volume protocol as a platform volume does (pool allocation,
// truncation warning, unknown names and sections, file listing).
#pragma once

#include "efi/efi.h"

// Returns 0 when every check passed, otherwise the number of the first
// check that failed.
UINTN CheckPictureVolume(const EFI_FIRMWARE_VOLUME2_PROTOCOL *Volume);
