// Where a decoded notice picture lands on the screen: centred, then shifted
// 10 pixels to the left, and drawn only when the screen is at least 20 pixels
// wider than the picture. Pure arithmetic, shared by the drawing code and the
// host tools that explain it.
#pragma once

#include "efi/efi_types.h"

// The shift left of the centre; the screen must be twice this wider than the picture.
inline constexpr UINT64 kNoticeLeftShift = 10;

struct NoticePlacement {
  bool Fits;  // false: not drawn, and no line is printed
  UINTN X;
  UINTN Y;
};

// There is no vertical fit test: for a picture taller than the screen Y wraps
// far below it and the graphics output refuses the request.
constexpr NoticePlacement PlaceNotice(UINT32 ScreenWidth, UINT32 ScreenHeight, UINT32 Width, UINT32 Height) {
  // Widths in 64 bits so that the sum cannot wrap.
  if (static_cast<UINT64>(ScreenWidth) < static_cast<UINT64>(Width) + 2 * kNoticeLeftShift) return {false, 0, 0};
  return {true, (ScreenWidth - Width) / 2 - kNoticeLeftShift, static_cast<UINT32>(ScreenHeight - Height) / 2};
}
