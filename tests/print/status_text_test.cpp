// The two status tables, row by row, through the 'r' conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "print/format_text.h"
#include "print/status_text.h"

namespace {

const char *const kWarnings[] = {
    "Success",
    "Warning Unknown Glyph",
    "Warning Delete Failure",
    "Warning Write Failure",
    "Warning Buffer Too Small",
    "Warning Stale Data",
};

const char *const kErrors[] = {
    "Load Error",           "Invalid Parameter",  "Unsupported",
    "Bad Buffer Size",      "Buffer Too Small",   "Not Ready",
    "Device Error",         "Write Protected",    "Out of Resources",
    "Volume Corrupt",       "Volume Full",        "No Media",
    "Media changed",        "Not Found",          "Access Denied",
    "No Response",          "No mapping",         "Time out",
    "Not started",          "Already started",    "Aborted",
    "ICMP Error",           "TFTP Error",         "Protocol Error",
    "Incompatible Version", "Security Violation", "CRC Error",
    "End of Media",         "Reserved (29)",      "Reserved (30)",
    "End of File",          "Invalid Language",   "Compromised Data",
};

std::string RenderStatus(UINT64 status) {
  char buffer[64];
  const UINTN length = FormatText(buffer, sizeof buffer, 0, "%r", status);
  return std::string(buffer, length);
}

// Each table holds exactly its texts back to back, each with its zero byte:
// no padding, nothing before, between or after them.
size_t PackedSize(const char *const *texts, size_t count) {
  size_t size = 0;
  for (size_t i = 0; i < count; ++i) size += std::strlen(texts[i]) + 1;
  return size;
}

TEST(StatusText, TablesHoldTheirTextsBackToBack) {
  EXPECT_EQ(sizeof StatusWarningText, PackedSize(kWarnings, 6));
  EXPECT_EQ(sizeof StatusErrorText, PackedSize(kErrors, 33));
}

TEST(StatusText, WarningRows) {
  for (UINT64 value = 0; value < 6; ++value) {
    SCOPED_TRACE(value);
    EXPECT_EQ(RenderStatus(value), kWarnings[value]);
    EXPECT_STREQ(FindStatusText(value), kWarnings[value]);
  }
}

TEST(StatusText, ErrorRows) {
  for (UINT64 code = 1; code <= 33; ++code) {
    SCOPED_TRACE(code);
    EXPECT_EQ(RenderStatus(kEfiErrorBit | code), kErrors[code - 1]);
    EXPECT_STREQ(FindStatusText(kEfiErrorBit | code), kErrors[code - 1]);
  }
}

TEST(StatusText, ValuesOutsideBothTables) {
  EXPECT_EQ(FindStatusText(6), nullptr);
  EXPECT_EQ(FindStatusText(kEfiErrorBit), nullptr);
  EXPECT_EQ(FindStatusText(kEfiErrorBit | 34), nullptr);
  // An error code that would be a warning row without its top bit stays unlisted.
  EXPECT_EQ(RenderStatus(kEfiErrorBit | 0x100000003ULL), "00000003");
  EXPECT_EQ(RenderStatus(34), "00000022");
}

}  // namespace
