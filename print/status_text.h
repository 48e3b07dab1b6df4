// Texts of firmware status values, each table its texts back to back, each
// text ending in a zero byte (no fixed-width rows: no padding in the image).
#pragma once

#include "efi/efi_types.h"

constexpr UINTN kStatusWarningTexts = 6;
constexpr UINTN kStatusWarningTextBytes = 119;
constexpr UINTN kStatusErrorTexts = 33;
constexpr UINTN kStatusErrorTextBytes = 446;

// The texts of the status values 0 to 5, in that order.
extern const CHAR8 StatusWarningText[kStatusWarningTextBytes];
// The texts of the status values with the top bit set and 1 to 33 below it, in that order.
extern const CHAR8 StatusErrorText[kStatusErrorTextBytes];

// The text for Status, or nullptr when neither table lists it.
const CHAR8 *FindStatusText(EFI_STATUS Status);
