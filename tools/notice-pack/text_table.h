// Plain-text tables with aligned columns for the reports notice-pack prints.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace notice_pack {

// Rows of cells; the first row is the heading. Columns are separated by two
// spaces; those listed in `rightAligned` (numbers) are aligned right.
inline std::string FormatTable(const std::vector<std::vector<std::string>> &rows,
                               const std::vector<size_t> &rightAligned = {}) {
  std::vector<size_t> widths;
  for (const auto &row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string out;
  for (const auto &row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      const std::string pad(widths[c] - row[c].size(), ' ');
      const bool right = std::find(rightAligned.begin(), rightAligned.end(), c) != rightAligned.end();
      line += (c > 0 ? "  " : "") + (right ? pad + row[c] : row[c] + (c + 1 < row.size() ? pad : ""));
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace notice_pack
