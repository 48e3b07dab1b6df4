// The probe loader, booted as \EFI\BOOT\BOOTX64.EFI. With \PROBE.EFI on its
// boot volume it loads that file through its device path (as a boot option or
// the shell's "load" would), reports what LoadImage said and how the loaded
// image's sections are protected, and starts it. Without the file it looks
// for the notice driver the firmware dispatched from its own volume and
// reports that image's sections. Then it powers the machine off.
//
//   E2E LoaderBegin, E2E ProbeSelected 0x<the selector port's byte>,
//   the paging state, the loader's own sections
//   E2E LoadImage 0x<status>, the loaded image's sections,
//   E2E MemoryAttributeProtocolAfterLoad 0x<status>, E2E StartImage 0x<status>
// or
//   E2E DriverInFirmware and its sections, or E2E NotInFirmware
#include "e2e/app/app_state.h"
#include "e2e/app/boot_volume.h"
#include "e2e/app/serial_report.h"
#include "e2e/probes/efi_memory_attribute.h"
#include "e2e/probes/image_pages.h"
#include "e2e/probes/page_attributes.h"
#include "e2e/probes/probe_select.h"
#include "hw/hw_access.h"

AppState gApp;

namespace {

constexpr const CHAR16 kProbePath[] = u"\\PROBE.EFI";

// The FFS file name notice-pack gives the driver (the probes carried in a
// firmware volume are packed under it too).
constexpr EFI_GUID kDriverFileGuid = {0x1E16495C, 0x074B, 0x42D0, {0x88, 0x4C, 0x57, 0x29, 0x22, 0x9B, 0x3E, 0xEB}};

constexpr UINT8 kMediaDevicePath = 0x04;
constexpr UINT8 kFilePathSubType = 0x04;
constexpr UINT8 kFirmwareFileSubType = 0x06;
constexpr UINT8 kEndDevicePath = 0x7F;
constexpr UINT8 kEndEntireSubType = 0xFF;
constexpr UINTN kNodeHeaderSize = 4;

UINTN NodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node) { return Node->Length[0] | (Node->Length[1] << 8); }

bool IsEnd(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return Node->Type == kEndDevicePath && Node->SubType == kEndEntireSubType;
}

void SetNode(UINT8 *At, UINT8 Type, UINT8 SubType, UINTN Length) {
  At[0] = Type;
  At[1] = SubType;
  At[2] = static_cast<UINT8>(Length);
  At[3] = static_cast<UINT8>(Length >> 8);
}

// The device's path with a file-path node for Path appended, in a new pool
// buffer the caller frees.
EFI_STATUS FileDevicePath(EFI_HANDLE Device, const CHAR16 *Path, UINTN PathChars, EFI_DEVICE_PATH_PROTOCOL **FilePath) {
  EFI_BOOT_SERVICES *bs = gApp.BootServices;
  EFI_DEVICE_PATH_PROTOCOL *device_path = nullptr;
  EFI_STATUS status =
      bs->HandleProtocol(Device, &EFI_DEVICE_PATH_PROTOCOL_GUID, reinterpret_cast<void **>(&device_path));
  if (EFI_ERROR(status)) return status;
  UINTN device_bytes = 0;
  for (const UINT8 *node = reinterpret_cast<const UINT8 *>(device_path);
       !IsEnd(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(node));) {
    const UINTN length = NodeLength(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(node));
    if (length < kNodeHeaderSize) return EFI_INVALID_PARAMETER;
    device_bytes += length;
    node += length;
  }
  const UINTN file_node_bytes = kNodeHeaderSize + sizeof(CHAR16) * (PathChars + 1);
  UINT8 *buffer = nullptr;
  status = bs->AllocatePool(EfiBootServicesData, device_bytes + file_node_bytes + kNodeHeaderSize,
                            reinterpret_cast<void **>(&buffer));
  if (EFI_ERROR(status)) return status;
  __builtin_memcpy(buffer, device_path, device_bytes);
  UINT8 *file_node = buffer + device_bytes;
  SetNode(file_node, kMediaDevicePath, kFilePathSubType, file_node_bytes);
  __builtin_memcpy(file_node + kNodeHeaderSize, Path, sizeof(CHAR16) * (PathChars + 1));
  SetNode(file_node + file_node_bytes, kEndDevicePath, kEndEntireSubType, kNodeHeaderSize);
  *FilePath = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(buffer);
  return EFI_SUCCESS;
}

bool ProbeOnDisk() {
  EFI_FILE_PROTOCOL *root = nullptr;
  if (EFI_ERROR(OpenBootVolume(&root))) return false;
  EFI_FILE_PROTOCOL *file = nullptr;
  const bool found = !EFI_ERROR(root->Open(root, &file, kProbePath, EFI_FILE_MODE_READ, 0));
  if (found) file->Close(file);
  root->Close(root);
  return found;
}

void LoadAndStartProbe() {
  EFI_BOOT_SERVICES *bs = gApp.BootServices;
  EFI_LOADED_IMAGE_PROTOCOL *self = nullptr;
  EFI_STATUS status =
      bs->HandleProtocol(gApp.ImageHandle, &EFI_LOADED_IMAGE_PROTOCOL_GUID, reinterpret_cast<void **>(&self));
  if (EFI_ERROR(status)) {
    ReportStatus("LoaderImage", status);
    return;
  }
  EFI_DEVICE_PATH_PROTOCOL *path = nullptr;
  status = FileDevicePath(self->DeviceHandle, kProbePath, sizeof(kProbePath) / sizeof(CHAR16) - 1, &path);
  ReportStatus("ProbeDevicePath", status);
  if (EFI_ERROR(status)) return;
  EFI_HANDLE probe = nullptr;
  status = bs->LoadImage(false, gApp.ImageHandle, path, nullptr, 0, &probe);
  bs->FreePool(path);
  ReportStatus("LoadImage", status);
  if (EFI_ERROR(status)) return;
  if (const void *base = LoadedImageBase(probe)) ReportImagePages("Loaded", base);
  void *protocol = nullptr;
  ReportStatus("MemoryAttributeProtocolAfterLoad",
               bs->LocateProtocol(&EFI_MEMORY_ATTRIBUTE_PROTOCOL_GUID, nullptr, &protocol));
  ReportStatus("StartImage", bs->StartImage(probe, nullptr, nullptr));
}

bool IsDriverFileNode(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  if (Node == nullptr || Node->Type != kMediaDevicePath || Node->SubType != kFirmwareFileSubType ||
      NodeLength(Node) < kNodeHeaderSize + sizeof(EFI_GUID)) {
    return false;
  }
  EFI_GUID name;
  __builtin_memcpy(&name, reinterpret_cast<const UINT8 *>(Node) + kNodeHeaderSize, sizeof(name));
  return GuidEquals(name, kDriverFileGuid);
}

void ReportDriverInFirmware() {
  EFI_BOOT_SERVICES *bs = gApp.BootServices;
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  EFI_STATUS status = bs->LocateHandleBuffer(ByProtocol, &EFI_LOADED_IMAGE_PROTOCOL_GUID, nullptr, &count, &handles);
  if (EFI_ERROR(status) || handles == nullptr) {
    ReportStatus("LoadedImageHandles", status);
    return;
  }
  const void *driver_base = nullptr;
  for (UINTN i = 0; i < count && driver_base == nullptr; ++i) {
    EFI_LOADED_IMAGE_PROTOCOL *loaded = nullptr;
    if (EFI_ERROR(
            bs->HandleProtocol(handles[i], &EFI_LOADED_IMAGE_PROTOCOL_GUID, reinterpret_cast<void **>(&loaded))) ||
        loaded == nullptr) {
      continue;
    }
    if (IsDriverFileNode(loaded->FilePath)) driver_base = loaded->ImageBase;
  }
  bs->FreePool(handles);
  if (driver_base == nullptr) {
    ReportStep("NotInFirmware");
    return;
  }
  ReportStep("DriverInFirmware");
  ReportImagePages("Driver", driver_base);
}

}  // namespace

extern "C" EFI_STATUS EFIAPI LoaderMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  SetAppState(ImageHandle, SystemTable);

  ReportStep("LoaderBegin");
  ReportStatus("SetWatchdogTimer", gApp.BootServices->SetWatchdogTimer(0, 0, 0, nullptr));
  ReportValue("ProbeSelected", IoRead8(kProbeSelectPort));
  ReportPagingState();
  if (const void *base = LoadedImageBase(ImageHandle)) ReportImagePages("Loader", base);
  if (ProbeOnDisk()) {
    LoadAndStartProbe();
  } else {
    ReportDriverInFirmware();
  }
  ReportStep("ResetSystem");
  gApp.RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_SUCCESS;
}
