#include "e2e/app/picture_volume.h"

#include "base/memory.h"
#include "e2e/app/app_state.h"

namespace {

constexpr EFI_FV_FILETYPE kFileTypeAll = 0x00;
constexpr EFI_FV_FILETYPE kFileTypeFreeform = 0x02;
constexpr EFI_STATUS kWarnBufferTooSmall = 4;
constexpr EFI_STATUS kWriteProtected = EfiErrorCode(8);
constexpr EFI_FV_ATTRIBUTES kReadEnabled = 0x2 | 0x4;  // read enable capability, read status
constexpr UINTN kSectionHeaderSize = 4;
// A section header's size field has 24 bits.
constexpr UINTN kLargestSection = 0xFFFFFF;

struct PictureFile {
  EFI_GUID Name;
  const void *Data;
  UINTN Size;
};

PictureFile gPictures[kNoticePictureCount] = {
    {{0x2F1FF10D, 0xA01F, 0x48D8, {0xAE, 0xFA, 0xA5, 0xDF, 0x02, 0x7B, 0xFB, 0xF6}}, nullptr, 0},
    {{0xD667348E, 0x1827, 0x4DF0, {0x8D, 0x56, 0x84, 0x72, 0x11, 0x25, 0x7F, 0x85}}, nullptr, 0},
    {{0x8CCA080A, 0x4A46, 0x4E16, {0x9A, 0xA7, 0x57, 0xD6, 0x85, 0x30, 0x71, 0xBB}}, nullptr, 0},
    {{0xE98CCA77, 0x61E4, 0x474C, {0x86, 0x60, 0x5B, 0x10, 0xB8, 0xA0, 0xF1, 0x28}}, nullptr, 0},
    {{0xC6E37D95, 0xA12F, 0x4321, {0xAB, 0x6C, 0xA0, 0xEB, 0x97, 0x08, 0x10, 0x0A}}, nullptr, 0},
    {{0x748A836A, 0xD16D, 0x43DC, {0x99, 0x7C, 0x98, 0xB3, 0x22, 0x0A, 0x09, 0x6B}}, nullptr, 0},
};

EFI_FIRMWARE_VOLUME2_PROTOCOL gVolume = {};
EFI_HANDLE gVolumeHandle = nullptr;

const PictureFile *FindPicture(const EFI_GUID *Name) {
  if (Name == nullptr) return nullptr;
  for (const PictureFile &file : gPictures) {
    if (file.Data != nullptr && GuidEquals(file.Name, *Name)) return &file;
  }
  return nullptr;
}

// Delivers Size bytes the way both read services do: into a new pool buffer
// when *Buffer is empty, else into the caller's buffer, truncated with a
// warning when it is too small. *BufferSize always ends as the full size.
EFI_STATUS Deliver(const void *Header, UINTN HeaderSize, const void *Data, UINTN DataSize, void **Buffer,
                   UINTN *BufferSize) {
  const UINTN full = HeaderSize + DataSize;
  if (*Buffer == nullptr) {
    EFI_STATUS status = gApp.BootServices->AllocatePool(EfiBootServicesData, full, Buffer);
    if (EFI_ERROR(status)) {
      *Buffer = nullptr;
      return EFI_OUT_OF_RESOURCES;
    }
    *BufferSize = full;
  }
  const UINTN room = *BufferSize;
  UINT8 *out = static_cast<UINT8 *>(*Buffer);
  const UINTN header_part = room < HeaderSize ? room : HeaderSize;
  if (header_part != 0) CopyBytes(out, Header, header_part);
  const UINTN data_part = room - header_part < DataSize ? room - header_part : DataSize;
  CopyBytes(out + header_part, Data, data_part);
  *BufferSize = full;
  return room < full ? kWarnBufferTooSmall : EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetVolumeAttributes(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, EFI_FV_ATTRIBUTES *Attributes) {
  if (Attributes == nullptr) return EFI_INVALID_PARAMETER;
  *Attributes = kReadEnabled;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetVolumeAttributes(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, EFI_FV_ATTRIBUTES *) {
  return EFI_UNSUPPORTED;
}

// The file's data is its single RAW section, header included.
EFI_STATUS EFIAPI ReadFile(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, const EFI_GUID *NameGuid, void **Buffer,
                           UINTN *BufferSize, EFI_FV_FILETYPE *FoundType, EFI_FV_FILE_ATTRIBUTES *FileAttributes,
                           UINT32 *AuthenticationStatus) {
  if (BufferSize == nullptr || FoundType == nullptr || FileAttributes == nullptr || AuthenticationStatus == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const PictureFile *file = FindPicture(NameGuid);
  if (file == nullptr) return EFI_NOT_FOUND;
  *FoundType = kFileTypeFreeform;
  *FileAttributes = 0;
  *AuthenticationStatus = 0;
  const UINTN section_size = kSectionHeaderSize + file->Size;
  if (Buffer == nullptr) {
    *BufferSize = section_size;
    return EFI_SUCCESS;
  }
  const UINT8 header[kSectionHeaderSize] = {static_cast<UINT8>(section_size), static_cast<UINT8>(section_size >> 8),
                                            static_cast<UINT8>(section_size >> 16), EFI_SECTION_RAW};
  return Deliver(header, sizeof(header), file->Data, file->Size, Buffer, BufferSize);
}

EFI_STATUS EFIAPI ReadSection(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, const EFI_GUID *NameGuid,
                              EFI_SECTION_TYPE SectionType, UINTN SectionInstance, void **Buffer, UINTN *BufferSize,
                              UINT32 *AuthenticationStatus) {
  if (Buffer == nullptr || BufferSize == nullptr || AuthenticationStatus == nullptr) return EFI_INVALID_PARAMETER;
  const PictureFile *file = FindPicture(NameGuid);
  if (file == nullptr) return EFI_NOT_FOUND;
  // Each file holds exactly one section, a RAW one.
  if (SectionType != EFI_SECTION_RAW || SectionInstance != 0) return EFI_NOT_FOUND;
  *AuthenticationStatus = 0;
  return Deliver(nullptr, 0, file->Data, file->Size, Buffer, BufferSize);
}

EFI_STATUS EFIAPI WriteFile(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, UINT32, UINT32, void *) { return kWriteProtected; }

// The key is the number of files already listed.
EFI_STATUS EFIAPI GetNextFile(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, void *Key, EFI_FV_FILETYPE *FileType,
                              EFI_GUID *NameGuid, EFI_FV_FILE_ATTRIBUTES *Attributes, UINTN *Size) {
  if (Key == nullptr || FileType == nullptr || NameGuid == nullptr || Attributes == nullptr || Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (*FileType != kFileTypeAll && *FileType != kFileTypeFreeform) return EFI_NOT_FOUND;
  UINTN next = 0;
  CopyBytes(&next, Key, sizeof(next));
  for (; next < kNoticePictureCount; ++next) {
    const PictureFile &file = gPictures[next];
    if (file.Data == nullptr) continue;
    ++next;
    CopyBytes(Key, &next, sizeof(next));
    *FileType = kFileTypeFreeform;
    CopyBytes(NameGuid, &file.Name, sizeof(EFI_GUID));
    *Attributes = 0;
    *Size = kSectionHeaderSize + file.Size;
    return EFI_SUCCESS;
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI GetInfo(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, const EFI_GUID *, UINTN *, void *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SetInfo(const EFI_FIRMWARE_VOLUME2_PROTOCOL *, const EFI_GUID *, UINTN, const void *) {
  return EFI_UNSUPPORTED;
}

template <typename Function>
void *Slot(Function *function) {
  return reinterpret_cast<void *>(function);
}

}  // namespace

const EFI_GUID &NoticePictureGuid(UINTN Index) { return gPictures[Index].Name; }

void SetNoticePicture(UINTN Index, const void *Data, UINTN Size) {
  if (Index >= kNoticePictureCount || Size > kLargestSection - kSectionHeaderSize) return;
  gPictures[Index].Data = Data;
  gPictures[Index].Size = Size;
}

const void *NoticePictureData(UINTN Index, UINTN *Size) {
  *Size = gPictures[Index].Size;
  return gPictures[Index].Data;
}

const EFI_FIRMWARE_VOLUME2_PROTOCOL *PictureVolume() { return &gVolume; }

EFI_HANDLE PictureVolumeHandle() { return gVolumeHandle; }

EFI_STATUS InstallPictureVolume() {
  gVolume.GetVolumeAttributes = GetVolumeAttributes;
  gVolume.SetVolumeAttributes = SetVolumeAttributes;
  gVolume.ReadFile = ReadFile;
  gVolume.ReadSection = ReadSection;
  gVolume.WriteFile = Slot(WriteFile);
  gVolume.GetNextFile = Slot(GetNextFile);
  gVolume.KeySize = sizeof(UINTN);
  gVolume.ParentHandle = nullptr;
  gVolume.GetInfo = Slot(GetInfo);
  gVolume.SetInfo = Slot(SetInfo);

  return gApp.BootServices->InstallProtocolInterface(&gVolumeHandle, &EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID,
                                                     EFI_NATIVE_INTERFACE, &gVolume);
}
