#include "print/console_print.h"

#include "print/format_text.h"

namespace {

// One line: kConsoleLineCharacters 16-bit characters and the terminator.
constexpr UINTN kLineBufferCharacters = kConsoleLineCharacters + 1;
constexpr UINTN kLineBufferBytes = kLineBufferCharacters * sizeof(CHAR16);

}  // namespace

UINTN ConsolePrintList(const CHAR8 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, FormatArgs Args) {
  EFI_BOOT_SERVICES *bs = gDriver.BootServices;
  void *line = nullptr;
  // Without a line buffer there is nothing to hand to the console or to release.
  if (EFI_ERROR(bs->AllocatePool(EfiBootServicesData, kLineBufferBytes, &line)) || line == nullptr) return 0;

  // Terminated first: a format the engine refuses writes nothing, and the
  // console is then handed an empty line rather than unwritten pool.
  *static_cast<CHAR16 *>(line) = 0;
  UINTN printed = FormatTextList(line, kLineBufferCharacters, FMT_OUT_WIDE, Format, Args);
  if (Console != nullptr && EFI_ERROR(Console->OutputString(Console, static_cast<const CHAR16 *>(line)))) {
    printed = 0;
  }
  bs->FreePool(line);
  return printed;
}
