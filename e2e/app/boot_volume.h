// Reading whole files from the volume the application was loaded from.
#pragma once

#include "e2e/app/efi_file_protocols.h"
#include "efi/efi.h"

// Opens the root directory of the application's own boot volume.
EFI_STATUS OpenBootVolume(EFI_FILE_PROTOCOL **Root);

// Reads the file at Path (below Root) into a new boot-services pool buffer,
// which the caller owns. Leaves *Buffer empty on failure.
EFI_STATUS ReadWholeFile(EFI_FILE_PROTOCOL *Root, const CHAR16 *Path, void **Buffer, UINTN *Size);
