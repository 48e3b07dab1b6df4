#include "e2e/app/volume_self_check.h"

#include "base/memory.h"
#include "e2e/app/app_state.h"
#include "e2e/app/picture_volume.h"

namespace {

constexpr EFI_STATUS kWarnBufferTooSmall = 4;
constexpr UINTN kShortBuffer = 10;
constexpr EFI_GUID kUnknownFile = {0x0BADF00D, 0x0000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};

typedef EFI_STATUS(EFIAPI *GetNextFileFunction)(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, void *Key,
                                                EFI_FV_FILETYPE *FileType, EFI_GUID *NameGuid,
                                                EFI_FV_FILE_ATTRIBUTES *Attributes, UINTN *Size);

UINTN CountListedFiles(const EFI_FIRMWARE_VOLUME2_PROTOCOL *Volume) {
  auto get_next = reinterpret_cast<GetNextFileFunction>(Volume->GetNextFile);
  UINT8 key[sizeof(UINTN)] = {};
  UINTN count = 0;
  for (UINTN guard = 0; guard <= kNoticePictureCount; ++guard) {
    EFI_FV_FILETYPE type = 0;  // every type
    EFI_GUID name;
    EFI_FV_FILE_ATTRIBUTES attributes = 0;
    UINTN size = 0;
    if (EFI_ERROR(get_next(Volume, key, &type, &name, &attributes, &size))) break;
    ++count;
  }
  return count;
}

}  // namespace

UINTN CheckPictureVolume(const EFI_FIRMWARE_VOLUME2_PROTOCOL *Volume) {
  UINT32 authentication = 0;
  void *buffer = nullptr;
  UINTN size = 0;
  if (Volume->ReadSection(Volume, &kUnknownFile, EFI_SECTION_RAW, 0, &buffer, &size, &authentication) !=
      EFI_NOT_FOUND) {
    return 1;
  }

  UINTN listed = 0;
  for (UINTN i = 0; i < kNoticePictureCount; ++i) {
    const EFI_GUID &name = NoticePictureGuid(i);
    UINTN expected = 0;
    const void *data = NoticePictureData(i, &expected);
    if (data == nullptr) continue;
    ++listed;

    buffer = nullptr;
    size = 0;
    if (Volume->ReadSection(Volume, &name, EFI_SECTION_RAW, 0, &buffer, &size, &authentication) != EFI_SUCCESS) {
      return 2;
    }
    const bool same = size == expected && BytesEqual(buffer, data, size);
    gApp.BootServices->FreePool(buffer);
    if (!same) return 3;

    UINT8 short_buffer[kShortBuffer] = {};
    buffer = short_buffer;
    size = sizeof(short_buffer);
    const EFI_STATUS truncated =
        Volume->ReadSection(Volume, &name, EFI_SECTION_RAW, 0, &buffer, &size, &authentication);
    const UINTN compared = expected < kShortBuffer ? expected : kShortBuffer;
    if (truncated != (expected > kShortBuffer ? kWarnBufferTooSmall : EFI_SUCCESS)) return 4;
    if (size != expected || buffer != short_buffer || !BytesEqual(short_buffer, data, compared)) return 5;

    buffer = nullptr;
    if (Volume->ReadSection(Volume, &name, EFI_SECTION_PE32, 0, &buffer, &size, &authentication) != EFI_NOT_FOUND ||
        Volume->ReadSection(Volume, &name, EFI_SECTION_RAW, 1, &buffer, &size, &authentication) != EFI_NOT_FOUND ||
        buffer != nullptr) {
      return 6;
    }

    EFI_FV_FILETYPE type = 0;
    EFI_FV_FILE_ATTRIBUTES attributes = 0;
    if (Volume->ReadFile(Volume, &name, nullptr, &size, &type, &attributes, &authentication) != EFI_SUCCESS ||
        size != expected + 4 || type != 0x02) {
      return 7;
    }
  }
  if (CountListedFiles(Volume) != listed) return 8;
  return 0;
}
