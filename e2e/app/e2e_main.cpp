// The firmware test application: loads and starts the notice driver from its
// own boot volume, signals end of DXE, serves the notice pictures from a
// firmware volume of its own, installs the notice trigger, lets the host take
// its picture of the screen, and powers the machine off. Every step's status
// goes to COM1 for the host to check.
#include "core/driver_guids.h"
#include "e2e/app/app_state.h"
#include "e2e/app/boot_volume.h"
#include "e2e/app/picture_volume.h"
#include "e2e/app/platform_report.h"
#include "e2e/app/serial_report.h"
#include "e2e/app/storage_report.h"
#include "e2e/app/volume_self_check.h"
#include "efi/efi.h"

AppState gApp;

namespace {

// Files beside the application on its boot volume.
constexpr const CHAR16 *kDriverPath = u"\\EFI\\BOOT\\notice.efi";
constexpr const CHAR16 *kPicturePaths[kNoticePictureCount] = {
    u"\\E2E\\PICTURE1.BMP", u"\\E2E\\PICTURE2.BMP", u"\\E2E\\PICTURE3.BMP",
    u"\\E2E\\PICTURE4.BMP", u"\\E2E\\PICTURE5.BMP", u"\\E2E\\PICTURE6.BMP",
};
constexpr const char *kPictureSteps[kNoticePictureCount] = {
    "ReadPicture1", "ReadPicture2", "ReadPicture3", "ReadPicture4", "ReadPicture5", "ReadPicture6",
};

// One ASCII digit: how many times to install the trigger (1 without the file).
constexpr const CHAR16 *kTriggerCountPath = u"\\E2E\\TRIGGERS";
constexpr UINTN kMostTriggers = 9;

// How long the host may take to grab the screen before the run goes on.
constexpr UINTN kHostAckTimeoutMs = 20000;

void EFIAPI IgnoreEvent(EFI_EVENT, void *) {}

// Where the firmware put the driver: the host turns a fault address into an
// offset in notice.efi with it.
void ReportImageBase(EFI_HANDLE Driver) {
  EFI_LOADED_IMAGE_PROTOCOL *loaded = nullptr;
  if (EFI_ERROR(gApp.BootServices->HandleProtocol(Driver, &EFI_LOADED_IMAGE_PROTOCOL_GUID,
                                                  reinterpret_cast<void **>(&loaded))) ||
      loaded == nullptr) {
    return;
  }
  ReportValue("DriverImageBase", reinterpret_cast<UINTN>(loaded->ImageBase));
}

// Loads the driver from a buffer and runs its entry point. A boot volume
// without the driver file means the firmware carries the driver itself and
// has dispatched it already: *Loaded then stays false.
EFI_STATUS StartDriver(EFI_FILE_PROTOCOL *Root, bool *Loaded) {
  EFI_BOOT_SERVICES *bs = gApp.BootServices;
  *Loaded = false;
  void *image = nullptr;
  UINTN size = 0;
  EFI_STATUS status = ReadWholeFile(Root, kDriverPath, &image, &size);
  if (status == EFI_NOT_FOUND) {
    ReportStep("DriverInFirmware");
    return EFI_SUCCESS;
  }
  ReportStatus("ReadDriver", status);
  if (EFI_ERROR(status)) return status;
  ReportValue("DriverSize", size);

  EFI_HANDLE driver = nullptr;
  status = bs->LoadImage(false, gApp.ImageHandle, nullptr, image, size, &driver);
  ReportStatus("LoadImage", status);
  bs->FreePool(image);
  if (EFI_ERROR(status)) return status;
  ReportImageBase(driver);

  status = bs->StartImage(driver, nullptr, nullptr);
  ReportStatus("StartImage", status);
  *Loaded = !EFI_ERROR(status);
  return status;
}

// A driver loaded after end of DXE missed the signal: send it again.
void SignalEndOfDxe() {
  EFI_BOOT_SERVICES *bs = gApp.BootServices;
  EFI_EVENT event = nullptr;
  EFI_STATUS status = bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, IgnoreEvent, nullptr,
                                        &EFI_END_OF_DXE_EVENT_GROUP_GUID, &event);
  ReportStatus("CreateEndOfDxe", status);
  if (EFI_ERROR(status)) return;
  ReportStatus("SignalEndOfDxe", bs->SignalEvent(event));
  bs->CloseEvent(event);
}

// Reads each picture present on the boot volume into the picture volume.
void LoadPictures(EFI_FILE_PROTOCOL *Root) {
  for (UINTN i = 0; i < kNoticePictureCount; ++i) {
    void *data = nullptr;
    UINTN size = 0;
    EFI_STATUS status = ReadWholeFile(Root, kPicturePaths[i], &data, &size);
    ReportStatus(kPictureSteps[i], status);
    if (!EFI_ERROR(status)) SetNoticePicture(i, data, size);
  }
}

void InstallTrigger() {
  EFI_HANDLE handle = nullptr;
  // Only the installation matters to the driver, not the interface.
  EFI_STATUS status =
      gApp.BootServices->InstallProtocolInterface(&handle, &NoticeTriggerProtocolGuid, EFI_NATIVE_INTERFACE, nullptr);
  ReportStatus("InstallTrigger", status);
}

// How many trigger installations the host asked for: 1 unless the boot
// volume holds a one-digit count.
UINTN TriggerCount(EFI_FILE_PROTOCOL *Root) {
  void *data = nullptr;
  UINTN size = 0;
  if (EFI_ERROR(ReadWholeFile(Root, kTriggerCountPath, &data, &size))) return 1;
  const UINT8 digit = size > 0 ? *static_cast<const UINT8 *>(data) : 0;
  gApp.BootServices->FreePool(data);
  if (digit < '1' || digit > '0' + kMostTriggers) return 1;
  return digit - '0';
}

// The screen now shows whatever the notice left; the host grabs it and
// answers with one byte.
void LetHostTakePicture() {
  UINT8 answer = 0;
  EFI_STATUS status = AskHostAndWait("TakePicture", kHostAckTimeoutMs, &answer);
  ReportStatus("HostAck", status);
}

void RunSteps() {
  EFI_BOOT_SERVICES *bs = gApp.BootServices;
  ReportStatus("SetWatchdogTimer", bs->SetWatchdogTimer(0, 0, 0, nullptr));

  EFI_FILE_PROTOCOL *root = nullptr;
  EFI_STATUS status = OpenBootVolume(&root);
  ReportStatus("OpenBootVolume", status);
  if (EFI_ERROR(status)) return;

  // Before the trigger: what the boot manager and, at end of DXE, the
  // driver have connected.
  ReportStorageBindings();
  ReportPlatform();
  ReportBoundControllers("NvmeBoundBefore", "AtaBoundBefore");

  bool loaded = false;
  status = StartDriver(root, &loaded);
  if (!EFI_ERROR(status)) {
    // A driver dispatched by the firmware saw end of DXE at its proper time.
    if (loaded) SignalEndOfDxe();
    ReportBoundControllers("NvmeBoundAfter", "AtaBoundAfter");
    LoadPictures(root);
    ReportStatus("InstallPictureVolume", InstallPictureVolume());
    ReportPictureVolumeIndex(PictureVolumeHandle());
    ReportValue("CheckPictureVolume", CheckPictureVolume(PictureVolume()));
    for (UINTN i = TriggerCount(root); i > 0; --i) InstallTrigger();
    LetHostTakePicture();
  }
  root->Close(root);
}

}  // namespace

extern "C" EFI_STATUS EFIAPI E2eMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  SetAppState(ImageHandle, SystemTable);

  ReportStep("Begin");
  RunSteps();
  ReportStep("ResetSystem");
  gApp.RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_SUCCESS;
}
