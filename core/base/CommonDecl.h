#pragma once
// Shared vector and matrix types. All are resizable 0-based arrays owned by
// their holder; a matrix is a vector of rows, m[row][col].
#include <cstdint>
#include <vector>

namespace stravex {

// How a point (x, y) becomes a cell. crContaining: the cell that contains it
// (column = floor((x - MinX) / cell width), a point on the eastern or southern
// edge in the last column or row), as GIS software reads a map. crRounded:
// the nearest integer of (x - MinX) / CellWidth, halves to even, which earlier
// versions used; kept to reproduce earlier studies.
enum tCellRule : uint8_t { crContaining = 0, crRounded = 1 };

using tVectorOfCardinal = std::vector<uint32_t>;
using tVectorOfDouble = std::vector<double>;
using tVectorOfExtended = std::vector<long double>;

using tMatrixOfBoolean = std::vector<std::vector<bool>>;
using tMatrixOfSingle = std::vector<std::vector<float>>;
using tMatrixOfDouble = std::vector<std::vector<double>>;

struct t2DPoint {
  double x = 0;
  double y = 0;
  bool operator==(const t2DPoint&) const = default;
};
using t2DPoints = std::vector<t2DPoint>;

// As a path, a t2DiPoint is one cell: first the row, then the column.
struct t2DiPoint {
  int32_t row = 0;
  int32_t col = 0;
  bool operator==(const t2DiPoint&) const = default;
};
using t2DiPoints = std::vector<t2DiPoint>;

} // namespace stravex
