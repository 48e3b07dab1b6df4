// Locate the graphics output, read and decode the picture, copy it to the screen.
#include "display/notice_display.h"

#include "base/driver_state.h"
#include "display/bmp_decode.h"
#include "display/notice_image_lookup.h"
#include "display/notice_placement.h"
#include "print/console_print.h"

namespace {

void DrawCentred(EFI_GRAPHICS_OUTPUT_PROTOCOL *GraphicsOutput, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixels, UINT32 Width,
                 UINT32 Height) {
  // A graphics output without its mode information gives nothing to draw on.
  const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *mode = GraphicsOutput->Mode;
  if (mode == nullptr || mode->Info == nullptr) return;
  const NoticePlacement place =
      PlaceNotice(mode->Info->HorizontalResolution, mode->Info->VerticalResolution, Width, Height);
  if (!place.Fits) return;

  const UINTN row_delta = static_cast<UINTN>(Width) * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL);
  const EFI_STATUS status = GraphicsOutput->Blt(GraphicsOutput, Pixels, EfiBltBufferToVideo, 0, 0, place.X, place.Y,
                                                Width, Height, row_delta);
  if (EFI_ERROR(status)) ConsolePrint("GraphicsOutput->Blt failure...\n");
}

}  // namespace

NOTICE_INTERNAL_CALL EFI_STATUS ShowNotice() {
  void *interface = nullptr;
  if (EFI_ERROR(gDriver.BootServices->LocateProtocol(&EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, nullptr, &interface)) ||
      interface == nullptr) {
    ConsolePrint("Locate gop protocol failure...\n");
    return EFI_UNSUPPORTED;
  }
  EFI_GRAPHICS_OUTPUT_PROTOCOL *graphics_output = static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL *>(interface);

  // The raw picture belongs to NoticeImageBuffer from here on; the caller
  // releases it after the hold, whether or not it could be decoded.
  gDriver.NoticeImageBuffer = nullptr;
  UINTN picture_size = 0;
  if (EFI_ERROR(GetBitMapFromFV(&NoticeImageGuid(gDriver.NoticeMode), &gDriver.NoticeImageBuffer, &picture_size))) {
    ConsolePrint("GetBitMapFromFV failure...\n");
    // The slots hold whatever the volume left there: with a size of 0 the
    // decoder reads none of it and fails, as for a missing picture.
    picture_size = 0;
  }

  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *pixels = nullptr;
  UINT32 width = 0;
  UINT32 height = 0;
  if (EFI_ERROR(ConvertBmpToGopBltofTarvex(gDriver.NoticeImageBuffer, picture_size, &pixels, &width, &height))) {
    ConsolePrint("ConvertBmpToGopBltofTarvex failure...\n");
  }

  if (pixels != nullptr) {
    DrawCentred(graphics_output, pixels, width, height);
    gDriver.BootServices->FreePool(pixels);
  }
  return EFI_SUCCESS;
}
