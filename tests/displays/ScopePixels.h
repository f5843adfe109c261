#pragma once

// Reading the oscilloscope's trace from what it painted.

#include <QImage>

#include "displays/MMOscope.h"

namespace sonarelle::test {

// The trace area of the control as painted, one bit per pixel: lit where it shows `colour`.
inline std::vector<std::vector<bool>> LitTrace(TMMOscope& scope, QRgb colour) {
  const QImage shown = scope.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QRect trace = scope.TraceRect();
  std::vector<std::vector<bool>> lit(static_cast<std::size_t>(trace.height()),
                                     std::vector<bool>(static_cast<std::size_t>(trace.width())));
  for (int y = 0; y < trace.height(); ++y) {
    for (int x = 0; x < trace.width(); ++x) {
      lit[y][x] =
          (shown.pixel(trace.left() + x, trace.top() + y) & 0xFFFFFFU) == (colour & 0xFFFFFFU);
    }
  }
  return lit;
}

// Rows in which every column is lit, and rows in which none is; a row counted in neither is
// partly lit.
struct RowSummary {
  std::vector<int> full;
  std::vector<int> empty;
};

inline RowSummary SummariseRows(const std::vector<std::vector<bool>>& lit) {
  RowSummary summary;
  for (std::size_t y = 0; y < lit.size(); ++y) {
    const auto count = std::count(lit[y].begin(), lit[y].end(), true);
    if (count == static_cast<long>(lit[y].size())) summary.full.push_back(static_cast<int>(y));
    if (count == 0) summary.empty.push_back(static_cast<int>(y));
  }
  return summary;
}

inline std::vector<int> Range(int first, int last) {
  std::vector<int> rows;
  for (int r = first; r <= last; ++r) rows.push_back(r);
  return rows;
}

}  // namespace sonarelle::test
