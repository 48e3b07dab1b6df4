// Texts of firmware status values, as fixed-width rows.
#pragma once

#include "core/firmware/efi_types.h"

constexpr UINTN STATUS_WARNING_ROWS = 6;
constexpr UINTN STATUS_WARNING_ROW_SIZE = 25;
constexpr UINTN STATUS_ERROR_ROWS = 33;
constexpr UINTN STATUS_ERROR_ROW_SIZE = 21;

// Indexed by the status value 0 to 5.
extern const CHAR8 StatusWarningText[STATUS_WARNING_ROWS][STATUS_WARNING_ROW_SIZE];
// Indexed by the status value with its top bit cleared, minus one (1 to 33).
extern const CHAR8 StatusErrorText[STATUS_ERROR_ROWS][STATUS_ERROR_ROW_SIZE];

// The row for Status, or nullptr when neither table lists it.
const CHAR8 *FindStatusText(EFI_STATUS Status);
