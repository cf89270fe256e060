#pragma once
#include "raster/Raster.h"

#include <cstdint>
#include <string>

namespace stravex::test {

// A rows x cols topography map on disk, all 0 with background flag -5, loaded.
inline void LoadFlatTopography(tLiveRaster& topo, const std::string& file, int32_t rows,
                               int32_t cols) {
  topo.FileName = file;
  topo.Rows = rows;
  topo.Columns = cols;
  topo.FlagDef = fdBackground;
  topo.FlagValue = -5;
  topo.FillConstant(0);
  topo.LoadData();
}

} // namespace stravex::test
