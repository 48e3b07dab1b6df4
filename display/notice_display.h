// Drawing the notice picture.
#pragma once

#include "base/calling_convention.h"
#include "efi/efi.h"

// Puts the picture chosen by gDriver.NoticeMode on the screen, centred with a
// shift of 10 pixels to the left. The raw picture is left in
// gDriver.NoticeImageBuffer for the caller to release; the decoded pixels are
// released here. Each failure prints its line on the console.
// Returns unsupported when there is no graphics output service, otherwise
// success whatever else failed.
// Kept out of line (inlined into the trigger it makes the image larger).
__attribute__((noinline)) NOTICE_INTERNAL_CALL EFI_STATUS ShowNotice();
