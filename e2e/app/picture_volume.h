// A firmware volume served by the test application: it holds the six notice
// pictures, each as a FREEFORM file with one RAW section, and answers the
// firmware-volume protocol the way a platform's volume does.
#pragma once

#include "efi/efi.h"

constexpr UINTN kNoticePictureCount = 6;

// The file name of notice picture Index (0-5) in the volume.
const EFI_GUID &NoticePictureGuid(UINTN Index);

// Hands the volume the bytes of picture Index (the volume keeps the buffer).
void SetNoticePicture(UINTN Index, const void *Data, UINTN Size);

// The bytes of picture Index and their size; empty when it has none.
const void *NoticePictureData(UINTN Index, UINTN *Size);

// Installs the volume's protocol on a new handle.
EFI_STATUS InstallPictureVolume();

// The volume's protocol interface (filled in by InstallPictureVolume).
const EFI_FIRMWARE_VOLUME2_PROTOCOL *PictureVolume();

// The handle carrying it, empty before InstallPictureVolume succeeded.
EFI_HANDLE PictureVolumeHandle();
