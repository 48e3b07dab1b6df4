// What protects each section of a loaded image: "E2E <Who>.ImageBase 0x...",
// then for every section its characteristics as "E2E <Who><name>.Flags
// 0x<flags>" and its first page as "E2E <Who><name>.Pages 0x<bits>" (and
// ".Attributes" where the memory attribute protocol answers): for example
// "E2E Probe.text.Pages 0x20000".
#pragma once

#include "efi/efi.h"

// Reports the image loaded at ImageBase, read from the PE headers the loader
// keeps at its start; Who names the image in the report (a few characters).
void ReportImagePages(const char *Who, const void *ImageBase);

// The loaded image behind ImageHandle, or nullptr.
const void *LoadedImageBase(EFI_HANDLE ImageHandle);
