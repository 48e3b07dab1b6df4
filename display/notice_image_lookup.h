// Which firmware file holds each notice picture, and reading it from the
// firmware volumes.
#pragma once

#include "efi/efi.h"

inline constexpr EFI_GUID NoticeImage1Guid = {
    0x2F1FF10D, 0xA01F, 0x48D8, {0xAE, 0xFA, 0xA5, 0xDF, 0x02, 0x7B, 0xFB, 0xF6}};
inline constexpr EFI_GUID NoticeImage2Guid = {
    0xD667348E, 0x1827, 0x4DF0, {0x8D, 0x56, 0x84, 0x72, 0x11, 0x25, 0x7F, 0x85}};
inline constexpr EFI_GUID NoticeImage3Guid = {
    0x8CCA080A, 0x4A46, 0x4E16, {0x9A, 0xA7, 0x57, 0xD6, 0x85, 0x30, 0x71, 0xBB}};
inline constexpr EFI_GUID NoticeImage4Guid = {
    0xE98CCA77, 0x61E4, 0x474C, {0x86, 0x60, 0x5B, 0x10, 0xB8, 0xA0, 0xF1, 0x28}};
inline constexpr EFI_GUID NoticeImage5Guid = {
    0xC6E37D95, 0xA12F, 0x4321, {0xAB, 0x6C, 0xA0, 0xEB, 0x97, 0x08, 0x10, 0x0A}};
inline constexpr EFI_GUID NoticeImage6Guid = {
    0x748A836A, 0xD16D, 0x43DC, {0x99, 0x7C, 0x98, 0xB3, 0x22, 0x0A, 0x09, 0x6B}};

// The picture file for a notice mode: modes 1 to 6 have their own picture,
// every other value (0 included) the first.
const EFI_GUID &NoticeImageGuid(UINT8 NoticeMode);

// Reads the raw section of file FileGuid from the first firmware volume, in
// handle order, that holds it. *Picture must be empty on entry; on success it
// holds a pool buffer of *PictureSize bytes that the caller releases.
// Returns not found when no volume has the file (or no volume can be listed),
// and buffer too small when a volume answers so (the search then stops).
EFI_STATUS GetBitMapFromFV(const EFI_GUID *FileGuid, void **Picture, UINTN *PictureSize);
