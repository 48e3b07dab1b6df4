// Texts of firmware status values, each table its texts back to back, each
// text ending in a zero byte (no fixed-width rows: no padding in the image).
#pragma once

#include "core/firmware/efi_types.h"

constexpr UINTN STATUS_WARNING_TEXTS = 6;
constexpr UINTN STATUS_WARNING_TEXT_BYTES = 119;
constexpr UINTN STATUS_ERROR_TEXTS = 33;
constexpr UINTN STATUS_ERROR_TEXT_BYTES = 446;

// The texts of the status values 0 to 5, in that order.
extern const CHAR8 StatusWarningText[STATUS_WARNING_TEXT_BYTES];
// The texts of the status values with the top bit set and 1 to 33 below it, in that order.
extern const CHAR8 StatusErrorText[STATUS_ERROR_TEXT_BYTES];

// The text for Status, or nullptr when neither table lists it.
const CHAR8 *FindStatusText(EFI_STATUS Status);
