#pragma once
// Pair matrices: the population matrix report turned into one N x N matrix per
// pair statistic, as Mantel tests and MLPE regressions take them. They are
// built from the finished report file, so a resumed or threaded run needs
// nothing special.
//
// File PROJECT-COLUMN-matrix.csv, comma-separated, CR LF lines:
//   "",0,1,...,N-1        header: an empty quoted corner, then the PopIDs
//   0,,1.5,NA,...         one line per point: its PopID, then N values
// The diagonal is an empty field; a pair without a value is NA: skipped (by
// the distance threshold or the Delaunay restriction), no least-cost path,
// or a statistic without a valid cell. Values are written in the shortest
// form that reads back as the same double as the report's field.
#include "base/Reporter.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stravex {

struct tPairMatrixOptions {
  // N, the number of sample points of the run (points without any pair too).
  int32_t Points = 0;
  // Ordered pairs (direction-constrained runs): row (i, j) fills [i][j] only;
  // otherwise it fills [j][i] as well.
  bool Ordered = false;
  // Least-cost runs: _Length and _Cost are the paths' values, and a cost of
  // -1 means no path. In strip runs both are placeholders and get no matrix.
  bool PathColumns = false;
  // Resistance distance runs: the map columns are Resistance (-1: the points
  // are not connected, NA) and one MAP_CurrentMean per map.
  bool ResistanceColumns = false;
};

// How one report column becomes a matrix.
struct tPairColumn {
  std::string Name;
  std::size_t Field = 0;
  // The pair has no value when this field (the map's _Cost) is -1 ...
  std::ptrdiff_t NoPathField = -1;
  // ... or this field (the map's _Area) is 0 ...
  std::ptrdiff_t AreaField = -1;
  // ... or its own value is the topography sentinel.
  bool TopographySentinel = false;
};

// The columns of a report header that get a matrix: GenDist, GeoDist and
// every map statistic. EInOutError when the header is not that of a
// population matrix report. A column name met twice (two maps of one name)
// is kept once and reported in `duplicates`.
std::vector<tPairColumn> PairMatrixColumns(const std::string& header,
                                           const tPairMatrixOptions& options,
                                           std::vector<std::string>* duplicates = nullptr);

// The matrix file of a column: the report's path (".../PROJECT-MatrixAnalysis.txt")
// with "MatrixAnalysis.txt" replaced by COLUMN + "-matrix.csv".
std::string PairMatrixPath(const std::string& reportPath, const std::string& column);

// The files PairMatrixColumns' columns will be written to, in column order.
std::vector<std::string> PairMatrixPaths(const std::string& reportPath,
                                         const std::vector<tPairColumn>& columns);

// Reads the finished report and writes the matrix of every column beside it,
// each file replaced atomically. Returns the paths written, in column order.
// EInOutError for a report whose rows do not fit its header or the points.
// Logs how many files were written; a duplicate column is a warning.
std::vector<std::string> WritePairMatrices(const std::string& reportPath,
                                           const tPairMatrixOptions& options, tReporter& log);

} // namespace stravex
