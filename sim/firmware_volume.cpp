// Simulated firmware volumes: each an EFI_FIRMWARE_VOLUME2_PROTOCOL on its own
// handle, holding files of sections. ReadSection follows the PI rules:
//  - *Buffer null: the firmware allocates the data from boot-services-data pool
//    and stores its size;
//  - *Buffer given and big enough: the data is copied, *BufferSize set to its size;
//  - *Buffer given but too small: the data is cut to *BufferSize, the warning
//    EFI_WARN_BUFFER_TOO_SMALL is returned and *BufferSize set to the full size;
//  - no such file, or no such section in it: EFI_NOT_FOUND.
#include <cstring>

#include "sim/thunk.h"

namespace sim {

FirmwareVolume::File *FirmwareVolume::FindFile(const EFI_GUID &name) {
  for (File &f : files_) {
    if (GuidEquals(f.name, name)) return &f;
  }
  return nullptr;
}

void FirmwareVolume::AddFile(const EFI_GUID &file, std::vector<FvSection> sections) {
  if (File *existing = FindFile(file)) {
    existing->sections = std::move(sections);
    return;
  }
  files_.push_back(File{file, std::move(sections)});
}

void FirmwareVolume::AddRawFile(const EFI_GUID &file, std::vector<uint8_t> data) {
  AddFile(file, {FvSection{EFI_SECTION_RAW, std::move(data)}});
}

FirmwareVolume &Platform::AddFirmwareVolume(std::string name) {
  auto volume = std::make_unique<FirmwareVolume>();
  volume->name_ = name;
  EFI_FIRMWARE_VOLUME2_PROTOCOL &p = volume->protocol_;
  Bind<"ReadSection", &Platform::DoReadSection, Instance, GuidArg<"NameGuid">, Arg<"SectionType", HexText>,
       Arg<"SectionInstance", DecText>, Arg<"Buffer", PtrAtOrNull>, SizeArg<"BufferSize">, Unlogged>(p.ReadSection);
  BindUnexpected<"FirmwareVolume2.VolumeAttributes">(p.GetVolumeAttributes);
  BindUnexpected<"FirmwareVolume2.VolumeAttributes">(p.SetVolumeAttributes);
  BindUnexpected<"FirmwareVolume2.ReadFile">(p.ReadFile);
  // The remaining slots are declared as plain pointers.
  void *other = UnexpectedPlainSlot<"FirmwareVolume2.other">();
  p.WriteFile = p.GetNextFile = p.GetInfo = p.SetInfo = other;
  p.KeySize = 16;
  volume->handle_ = static_cast<SimHandle *>(InstallProtocol(EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID, &p, nullptr, name));
  volumes_.push_back(std::move(volume));
  return *volumes_.back();
}

EFI_STATUS Platform::DoReadSection(const EFI_FIRMWARE_VOLUME2_PROTOCOL *fv, const EFI_GUID *file,
                                   EFI_SECTION_TYPE section_type, UINTN instance, void **buffer, UINTN *buffer_size,
                                   UINT32 *authentication_status) {
  FirmwareVolume *volume = nullptr;
  for (const auto &v : volumes_) {
    if (v->protocol() == fv) volume = v.get();
  }
  if (volume == nullptr) {
    Fault("ReadSection with a This that is no volume's");
    return EFI_INVALID_PARAMETER;
  }
  ++volume->read_section_calls_;
  if (file == nullptr || buffer == nullptr || buffer_size == nullptr) {
    Fault("ReadSection with a null name, buffer slot or size slot");
    return EFI_INVALID_PARAMETER;
  }
  FirmwareVolume::File *entry = volume->FindFile(*file);
  if (entry == nullptr) return EFI_NOT_FOUND;

  const FvSection *section = nullptr;
  UINTN seen = 0;
  for (const FvSection &s : entry->sections) {
    if (s.type != section_type) continue;
    if (seen++ == instance) {
      section = &s;
      break;
    }
  }
  if (section == nullptr) return EFI_NOT_FOUND;
  if (authentication_status != nullptr) *authentication_status = 0;

  const UINTN size = section->data.size();
  if (*buffer == nullptr) {
    void *memory = AllocateInternal(EfiBootServicesData, size, "ReadSection");
    if (memory == nullptr) return EFI_OUT_OF_RESOURCES;
    if (size != 0) std::memcpy(memory, section->data.data(), size);  // an empty section has no data pointer
    *buffer = memory;
    *buffer_size = size;
    return EFI_SUCCESS;
  }
  EFI_STATUS status = EFI_SUCCESS;
  UINTN copied = size;
  if (*buffer_size < size) {
    copied = *buffer_size;
    status = EFI_WARN_BUFFER_TOO_SMALL;
  }
  std::memcpy(*buffer, section->data.data(), copied);
  *buffer_size = size;
  return status;
}

}  // namespace sim
