// Report step names put together from parts ("Section" "text" ".Pages").
#pragma once

#include "efi/efi_types.h"

using StepBuffer = char[64];

// Appends Part to the name in Out (cut at 63 characters); returns Out.
inline const char *AppendStep(StepBuffer &Out, const char *Part) {
  UINTN at = 0;
  while (Out[at] != '\0') ++at;
  for (; *Part != '\0' && at + 1 < sizeof(Out); ++Part) Out[at++] = *Part;
  Out[at] = '\0';
  return Out;
}
