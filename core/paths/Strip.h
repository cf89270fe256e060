#pragma once
// Straight strips: a band of parallel cell lines along the segment between
// two points, and the statistics the three scanners gather over its cells.
#include "base/CommonDecl.h"
#include "base/Numeric.h"
#include "raster/Raster.h"

#include <cstdint>
#include <vector>

namespace stravex {

// Everything the strip lines depend on, computed once per strip from the
// geometry map (the first map of a list).
struct tStripPlan {
  int32_t c1 = 0, r1 = 0; // first end cell (never scanned itself)
  int32_t c2 = 0, r2 = 0; // second end cell (last step of the centre line)
  int64_t L = 1;          // steps per line: |end cells| truncated, at least 1
  int32_t Lines = 0;      // number of cell lines (0 scans nothing)
  float sc = 0, sr = 0;   // unit step per line, kept at 32-bit precision
};

// Converts the end points to cells of `geometry` and resolves `width`:
// a positive value is the number of lines, a negative one a length:width
// ratio (lines = L / ratio rounded, at least 1), 0 scans nothing.
tStripPlan PlanStrip(const tRaster& geometry, int32_t width, double x1, double y1, double x2,
                     double y2);

// Calls visit(row, col) for every scanned cell of the strip, line after line
// and along each line from the first end to the second. A line's start cell
// is never scanned, a step landing on the line's previous cell is skipped,
// and so is a cell outside the geometry map; a cell reached by two lines is
// visited twice.
//
// Positions are computed in double: the step has 24 significant bits, so
// sCol + t * sc is exact for grids and strips of up to some 10^4 cells across,
// and the half-even rounding matches that of an exact evaluation.
template <class tVisit>
void StripGeometry(const tRaster& geometry, const tStripPlan& plan, tVisit&& visit) {
  const double sc = plan.sc;
  const double sr = plan.sr;
  const int32_t half = plan.Lines / 2;
  for (int32_t j = 0; j < plan.Lines; ++j) {
    const double o = static_cast<double>(j - half);
    const int32_t sCol = RoundToInt32(plan.c1 - o * sr);
    const int32_t sRow = RoundToInt32(plan.r1 + o * sc);
    int32_t prevRow = sRow;
    int32_t prevCol = sCol;
    for (int64_t t = 1; t <= plan.L; ++t) {
      const double td = static_cast<double>(t);
      const int32_t col = RoundToInt32(sCol + td * sc);
      const int32_t row = RoundToInt32(sRow + td * sr);
      if (row == prevRow && col == prevCol) continue;
      if (!geometry.IsInside(row, col)) continue;
      visit(row, col);
      prevRow = row;
      prevCol = col;
    }
  }
}

template <class tVisit>
void StripGeometry(const tRaster& geometry, int32_t width, double x1, double y1, double x2,
                   double y2, tVisit&& visit) {
  StripGeometry(geometry, PlanStrip(geometry, width, x1, y1, x2, y2), visit);
}

// Binary and count maps: Count[m] sums the positive rounded cell values,
// Area[m] counts the non-missing cells. Counters raise EIntOverflow rather
// than wrap.
void ScanStripBinary(const std::vector<tRaster*>& maps, int32_t width, double x1, double y1,
                     double x2, double y2, tVectorOfCardinal& Count, tVectorOfCardinal& Area);

// Quantitative maps: sum, mean and population SD of the non-missing cells;
// -1 for all three when a map has no valid strip cell.
void ScanStripQuantitative(const std::vector<tRaster*>& maps, int32_t width, double x1, double y1,
                           double x2, double y2, tVectorOfDouble& Sum, tVectorOfDouble& Mean,
                           tVectorOfDouble& SD, tVectorOfCardinal& Area);

// Topography map: mean and SD of the strip's elevations, slope between the
// two end cells (per map unit, positive uphill towards the second point) and
// convexity (middle cell of the centre line minus the mean). -9999 marks a
// value that has no valid cell to stand on.
void ScanStripTopography(tRaster& map, int32_t width, double x1, double y1, double x2, double y2,
                         double& Mean, double& SD, double& Slope, double& Convexity,
                         uint32_t& Area);

} // namespace stravex
