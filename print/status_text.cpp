#include "print/status_text.h"

// alignas(1): left to itself the compiler starts each table on a 16-byte
// boundary, which only pads the image.
alignas(1) const CHAR8 StatusWarningText[kStatusWarningTextBytes] =
    "Success\0"                   //  0
    "Warning Unknown Glyph\0"     //  1
    "Warning Delete Failure\0"    //  2
    "Warning Write Failure\0"     //  3
    "Warning Buffer Too Small\0"  //  4
    "Warning Stale Data";         //  5 (the literal's own zero byte ends it)

alignas(1) const CHAR8 StatusErrorText[kStatusErrorTextBytes] =
    "Load Error\0"            //  1
    "Invalid Parameter\0"     //  2
    "Unsupported\0"           //  3
    "Bad Buffer Size\0"       //  4
    "Buffer Too Small\0"      //  5
    "Not Ready\0"             //  6
    "Device Error\0"          //  7
    "Write Protected\0"       //  8
    "Out of Resources\0"      //  9
    "Volume Corrupt\0"        // 10
    "Volume Full\0"           // 11
    "No Media\0"              // 12
    "Media changed\0"         // 13
    "Not Found\0"             // 14
    "Access Denied\0"         // 15
    "No Response\0"           // 16
    "No mapping\0"            // 17
    "Time out\0"              // 18
    "Not started\0"           // 19
    "Already started\0"       // 20
    "Aborted\0"               // 21
    "ICMP Error\0"            // 22
    "TFTP Error\0"            // 23
    "Protocol Error\0"        // 24
    "Incompatible Version\0"  // 25
    "Security Violation\0"    // 26
    "CRC Error\0"             // 27
    "End of Media\0"          // 28
    "Reserved (29)\0"         // 29
    "Reserved (30)\0"         // 30
    "End of File\0"           // 31
    "Invalid Language\0"      // 32
    "Compromised Data";       // 33

namespace {

// The Index-th text (from 0) of a table of texts back to back.
const CHAR8 *NthText(const CHAR8 *Table, UINT64 Index) {
  for (; Index != 0; --Index) {
    while (*Table++ != 0) {
    }
  }
  return Table;
}

}  // namespace

// Out of line: inlined into the 'r' conversion, the image is larger.
__attribute__((noinline)) const CHAR8 *FindStatusText(EFI_STATUS Status) {
  if (EFI_ERROR(Status)) {
    const UINT64 code = Status & ~kEfiErrorBit;
    if (code >= 1 && code <= kStatusErrorTexts) return NthText(StatusErrorText, code - 1);
    return nullptr;
  }
  if (Status < kStatusWarningTexts) return NthText(StatusWarningText, Status);
  return nullptr;
}
