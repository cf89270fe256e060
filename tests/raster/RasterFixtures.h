#pragma once
// Helpers shared by the raster tests (and by other tests that check error texts).
#include "raster/Raster.h"

#include <cstdint>
#include <string>

namespace stravex::test {

// Names r and lays out rows x cols cells over 0..10*cols by 0..10*rows map units.
inline void SetGrid(tRaster& r, const std::string& name, tDataType t, int32_t rows, int32_t cols) {
  r.FileName = name;
  r.DataType = t;
  r.Rows = rows;
  r.Columns = cols;
  r.MaxX = 10.0L * cols;
  r.MaxY = 10.0L * rows;
}

// The text of the E that f throws, or "(no error)" when it throws none.
template <typename E, typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "(no error)";
}

} // namespace stravex::test
