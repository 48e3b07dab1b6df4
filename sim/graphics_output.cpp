// The simulated graphics output: one mode, a BGR framebuffer of width x height
// pixels with PixelsPerScanLine = width, and Blt with the range checks real
// firmware makes. The slots are bound to DoBlt (sim/thunk.h makes the thunks).
#include <algorithm>
#include <cstring>

#include "sim/thunk.h"

namespace sim {

namespace {

// A rectangle of width x height at (x, y) lies inside a screen of screen_w x screen_h.
// Written so that no sum can wrap.
bool FitsScreen(UINTN x, UINTN y, UINTN width, UINTN height, UINTN screen_w, UINTN screen_h) {
  return x <= screen_w && width <= screen_w - x && y <= screen_h && height <= screen_h - y;
}

}  // namespace

void Platform::FillGop() {
  Bind<"Blt", &Platform::DoBlt, This<&Platform::gop, "the graphics output">, Arg<"BltBuffer", Ptr>,
       Arg<"BltOperation", DecText>, Arg<"SourceX", DecText>, Arg<"SourceY", DecText>, Arg<"DestinationX", DecText>,
       Arg<"DestinationY", DecText>, Arg<"Width", DecText>, Arg<"Height", DecText>, Arg<"Delta", DecText>>(gop_.Blt);
  BindUnexpected<"GraphicsOutput.QueryMode">(gop_.QueryMode);
  BindUnexpected<"GraphicsOutput.SetMode">(gop_.SetMode);
  gop_.Mode = &gop_mode_;
  gop_mode_.MaxMode = 1;
  gop_mode_.Mode = 0;
  gop_mode_.Info = &gop_info_;
  gop_mode_.SizeOfInfo = sizeof(gop_info_);
  const bool default_screen = gop_info_.HorizontalResolution == kDefaultWidth &&
                              gop_info_.VerticalResolution == kDefaultHeight &&
                              framebuffer_.size() == static_cast<size_t>(kDefaultWidth) * kDefaultHeight;
  gop_info_ = EFI_GRAPHICS_OUTPUT_MODE_INFORMATION{};
  gop_info_.Version = 0;
  gop_info_.PixelFormat = PixelBlueGreenRedReserved8BitPerColor;
  // A reset platform keeps its framebuffer and clears only the rows drawn on.
  if (!default_screen) {
    SetScreenSize(kDefaultWidth, kDefaultHeight);
  } else {
    gop_info_.HorizontalResolution = kDefaultWidth;
    gop_info_.VerticalResolution = kDefaultHeight;
    gop_info_.PixelsPerScanLine = kDefaultWidth;
    std::fill(framebuffer_.begin() + static_cast<std::ptrdiff_t>(written_rows_first_ * kDefaultWidth),
              framebuffer_.begin() + static_cast<std::ptrdiff_t>(written_rows_end_ * kDefaultWidth),
              EFI_GRAPHICS_OUTPUT_BLT_PIXEL{0, 0, 0, 0});
    written_rows_first_ = written_rows_end_ = 0;
  }
  gop_handle_ = InstallProtocol(EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, &gop_, nullptr, "gop");
}

void Platform::SetScreenSize(UINT32 width, UINT32 height) {
  gop_info_.HorizontalResolution = width;
  gop_info_.VerticalResolution = height;
  gop_info_.PixelsPerScanLine = width;
  framebuffer_.assign(static_cast<size_t>(width) * height, EFI_GRAPHICS_OUTPUT_BLT_PIXEL{0, 0, 0, 0});
  written_rows_first_ = written_rows_end_ = 0;
  gop_mode_.FrameBufferBase = reinterpret_cast<uintptr_t>(framebuffer_.data());
  gop_mode_.FrameBufferSize = framebuffer_.size() * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL);
}

void Platform::RemoveGop() {
  if (gop_handle_ == nullptr) return;
  UninstallProtocol(gop_handle_, EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID);
  gop_handle_ = nullptr;
}

EFI_GRAPHICS_OUTPUT_BLT_PIXEL Platform::Pixel(UINT32 x, UINT32 y) const {
  return framebuffer_.at(static_cast<size_t>(y) * gop_info_.PixelsPerScanLine + x);
}

EFI_STATUS Platform::DoBlt(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer, EFI_GRAPHICS_OUTPUT_BLT_OPERATION operation,
                           UINTN source_x, UINTN source_y, UINTN destination_x, UINTN destination_y, UINTN width,
                           UINTN height, UINTN delta) {
  BltCall record{buffer,        operation, source_x, source_y, destination_x,
                 destination_y, width,     height,   delta,    EFI_SUCCESS};
  auto finish = [&](EFI_STATUS status) {
    record.status = status;
    blt_calls_.push_back(record);
    return status;
  };
  const UINTN screen_w = gop_info_.HorizontalResolution;
  const UINTN screen_h = gop_info_.VerticalResolution;
  const UINTN stride = gop_info_.PixelsPerScanLine;
  constexpr UINTN kPixel = sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL);

  if (operation >= EfiGraphicsOutputBltOperationMax) return finish(EFI_INVALID_PARAMETER);
  if (width == 0 || height == 0) return finish(EFI_INVALID_PARAMETER);
  if (operation != EfiBltVideoToVideo && buffer == nullptr) return finish(EFI_INVALID_PARAMETER);
  // A zero Delta means rows of exactly Width pixels in the caller's buffer.
  if (delta == 0) delta = width * kPixel;

  const bool reads_video = operation == EfiBltVideoToBltBuffer || operation == EfiBltVideoToVideo;
  const bool writes_video = operation != EfiBltVideoToBltBuffer;
  if (reads_video && !FitsScreen(source_x, source_y, width, height, screen_w, screen_h)) {
    return finish(EFI_INVALID_PARAMETER);
  }
  if (writes_video && !FitsScreen(destination_x, destination_y, width, height, screen_w, screen_h)) {
    return finish(EFI_INVALID_PARAMETER);
  }

  auto caller_row = [&](UINTN x, UINTN y) {
    return reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *>(reinterpret_cast<uint8_t *>(buffer) + y * delta) + x;
  };
  auto video_row = [&](UINTN x, UINTN y) { return framebuffer_.data() + y * stride + x; };

  if (writes_video) {
    // The rectangle fits the screen (checked above), so its rows are in range.
    if (written_rows_first_ == written_rows_end_) written_rows_first_ = destination_y;
    written_rows_first_ = std::min<size_t>(written_rows_first_, destination_y);
    written_rows_end_ = std::max<size_t>(written_rows_end_, destination_y + height);
  }
  switch (operation) {
    case EfiBltVideoFill:
      for (UINTN row = 0; row < height; ++row) {
        EFI_GRAPHICS_OUTPUT_BLT_PIXEL *out = video_row(destination_x, destination_y + row);
        for (UINTN col = 0; col < width; ++col) out[col] = *buffer;
      }
      break;
    case EfiBltBufferToVideo:
      for (UINTN row = 0; row < height; ++row) {
        std::memcpy(video_row(destination_x, destination_y + row), caller_row(source_x, source_y + row),
                    width * kPixel);
      }
      break;
    case EfiBltVideoToBltBuffer:
      for (UINTN row = 0; row < height; ++row) {
        std::memcpy(caller_row(destination_x, destination_y + row), video_row(source_x, source_y + row),
                    width * kPixel);
      }
      break;
    case EfiBltVideoToVideo: {
      std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> copy(width * height);
      for (UINTN row = 0; row < height; ++row) {
        std::memcpy(&copy[row * width], video_row(source_x, source_y + row), width * kPixel);
      }
      for (UINTN row = 0; row < height; ++row) {
        std::memcpy(video_row(destination_x, destination_y + row), &copy[row * width], width * kPixel);
      }
      break;
    }
    default:
      return finish(EFI_INVALID_PARAMETER);
  }
  return finish(EFI_SUCCESS);
}

}  // namespace sim
