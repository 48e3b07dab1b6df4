#include "print/format_text.h"

UINTN WideStringLength(const CHAR16 *Text) {
  if (Text == nullptr) return 0;

  // Read as bytes: a 16-bit text need not be aligned.
  const UINT8 *bytes = reinterpret_cast<const UINT8 *>(Text);
  for (UINTN length = 0;; ++length) {
    if ((bytes[2 * length] | bytes[2 * length + 1]) == 0) return length;
    if (length == kFormatTextLimit) return kFormatTextLimit + 1;
  }
}
