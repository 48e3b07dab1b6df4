#include "e2e/probes/image_pages.h"

#include "e2e/app/app_state.h"
#include "e2e/app/efi_file_protocols.h"
#include "e2e/app/serial_report.h"
#include "e2e/probes/page_attributes.h"
#include "e2e/probes/step_name.h"

namespace {

constexpr UINTN kPeOffsetField = 0x3C;
constexpr UINTN kCoffHeaderSize = 20;
constexpr UINTN kSectionHeaderSize = 40;
constexpr UINTN kSectionNameSize = 8;
constexpr UINTN kSectionAddressField = 12;
constexpr UINTN kSectionFlagsField = 36;
constexpr UINT32 kPeSignature = 0x00004550;
// The images built here have a handful of sections; more means the headers are not what they seem.
constexpr UINT16 kMostSections = 16;

UINT32 Read32(const UINT8 *At) {
  UINT32 value;
  __builtin_memcpy(&value, At, sizeof(value));
  return value;
}

UINT16 Read16(const UINT8 *At) {
  UINT16 value;
  __builtin_memcpy(&value, At, sizeof(value));
  return value;
}

// "<Who><name>" from an eight-byte section name (".text": "Probe.text").
const char *SectionStep(StepBuffer &Out, const char *Who, const UINT8 *Name) {
  char name[kSectionNameSize + 1] = {};
  __builtin_memcpy(name, Name, kSectionNameSize);
  Out[0] = '\0';
  AppendStep(Out, Who);
  return AppendStep(Out, name);
}

}  // namespace

void ReportImagePages(const char *Who, const void *ImageBase) {
  const UINT8 *base = static_cast<const UINT8 *>(ImageBase);
  StepBuffer base_step = {};
  AppendStep(base_step, Who);
  ReportValue(AppendStep(base_step, ".ImageBase"), reinterpret_cast<UINTN>(base));
  const UINT8 *pe = base + Read32(base + kPeOffsetField);
  const UINT16 count = Read16(pe + 6);
  const UINT16 optional_size = Read16(pe + 4 + 16);
  if (Read32(pe) != kPeSignature || count > kMostSections) {
    ReportStep("ImageHeadersUnreadable");
    return;
  }
  const UINT8 *section = pe + 4 + kCoffHeaderSize + optional_size;
  for (UINT16 i = 0; i < count; ++i, section += kSectionHeaderSize) {
    StepBuffer step;
    StepBuffer flags_step;
    SectionStep(step, Who, section);
    SectionStep(flags_step, Who, section);
    ReportValue(AppendStep(flags_step, ".Flags"), Read32(section + kSectionFlagsField));
    ReportPage(step, reinterpret_cast<UINTN>(base) + Read32(section + kSectionAddressField));
  }
}

const void *LoadedImageBase(EFI_HANDLE ImageHandle) {
  EFI_LOADED_IMAGE_PROTOCOL *loaded = nullptr;
  if (EFI_ERROR(gApp.BootServices->HandleProtocol(ImageHandle, &EFI_LOADED_IMAGE_PROTOCOL_GUID,
                                                  reinterpret_cast<void **>(&loaded))) ||
      loaded == nullptr) {
    return nullptr;
  }
  return loaded->ImageBase;
}
