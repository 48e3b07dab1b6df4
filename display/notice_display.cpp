// Locate the graphics output, read and decode the picture, copy it to the screen.
#include "display/notice_display.h"

#include "core/driver_state.h"
#include "display/bmp_decode.h"
#include "display/notice_image_lookup.h"
#include "print/console_print.h"

namespace {

// The picture is drawn this many pixels left of the centre, and only when the
// screen is at least twice that wider than the picture.
constexpr UINT64 kLeftShift = 10;

void DrawCentred(EFI_GRAPHICS_OUTPUT_PROTOCOL *GraphicsOutput, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixels, UINT32 Width,
                 UINT32 Height) {
  // A graphics output without its mode information gives nothing to draw on.
  const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *mode = GraphicsOutput->Mode;
  if (mode == nullptr || mode->Info == nullptr) return;
  const EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *screen = mode->Info;
  const UINT32 screenWidth = screen->HorizontalResolution;
  const UINT32 screenHeight = screen->VerticalResolution;
  // Widths in 64 bits so that the sum cannot wrap. Nothing is printed when it does not fit.
  if (static_cast<UINT64>(screenWidth) < static_cast<UINT64>(Width) + 2 * kLeftShift) return;

  const UINTN destinationX = (screenWidth - Width) / 2 - kLeftShift;
  // No vertical fit test: a picture taller than the screen wraps far below it
  // and the graphics output refuses the request.
  const UINTN destinationY = static_cast<UINT32>(screenHeight - Height) / 2;
  const UINTN rowDelta = static_cast<UINTN>(Width) * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL);
  const EFI_STATUS status = GraphicsOutput->Blt(GraphicsOutput, Pixels, EfiBltBufferToVideo, 0, 0, destinationX,
                                                destinationY, Width, Height, rowDelta);
  if (EFI_ERROR(status)) ConsolePrint("GraphicsOutput->Blt failure...\n");
}

}  // namespace

EFI_STATUS ShowNotice() {
  void *interface = nullptr;
  if (EFI_ERROR(gDriver.BootServices->LocateProtocol(&EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, nullptr, &interface)) ||
      interface == nullptr) {
    ConsolePrint("Locate gop protocol failure...\n");
    return EFI_UNSUPPORTED;
  }
  EFI_GRAPHICS_OUTPUT_PROTOCOL *graphicsOutput = static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL *>(interface);

  // The raw picture belongs to NoticeImageBuffer from here on; the caller
  // releases it after the hold, whether or not it could be decoded.
  gDriver.NoticeImageBuffer = nullptr;
  UINTN pictureSize = 0;
  if (EFI_ERROR(GetBitMapFromFV(&NoticeImageGuid(gDriver.NoticeMode), &gDriver.NoticeImageBuffer, &pictureSize))) {
    ConsolePrint("GetBitMapFromFV failure...\n");
    // The slots hold whatever the volume left there: with a size of 0 the
    // decoder reads none of it and fails, as for a missing picture.
    pictureSize = 0;
  }

  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *pixels = nullptr;
  UINT32 width = 0;
  UINT32 height = 0;
  if (EFI_ERROR(ConvertBmpToGopBltofTarvex(gDriver.NoticeImageBuffer, pictureSize, &pixels, &width, &height))) {
    ConsolePrint("ConvertBmpToGopBltofTarvex failure...\n");
  }

  if (pixels != nullptr) {
    DrawCentred(graphicsOutput, pixels, width, height);
    gDriver.BootServices->FreePool(pixels);
  }
  return EFI_SUCCESS;
}
