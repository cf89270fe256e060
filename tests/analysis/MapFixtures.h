#pragma once
// Small hand-made maps and population files for the analysis tests.
#include "TestSupport.h"
#include "analysis/AnalysisSettings.h"
#include "analysis/MapSet.h"
#include "raster/Raster.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace stravex::test {

// Writes a map of rows x cols unit cells whose cell (row, col) holds
// value(row, col). The point x = minX + col, y = rows - row falls on it.
// Returns the map's file name without extension.
inline std::string WriteMap(const TempDir& dir, const std::string& name, int32_t rows, int32_t cols,
                            tDataType type, const std::function<float(int32_t, int32_t)>& value,
                            tFlagDef flagDef = fdNoBackground, float flag = 0, double minX = 0) {
  tLiveRaster r;
  r.FileName = dir.file(name);
  r.Rows = rows;
  r.Columns = cols;
  r.MinX = minX;
  r.MaxX = minX + cols;
  r.MinY = 0;
  r.MaxY = rows;
  r.CellWidth = r.CellHeight = 1;
  r.DataType = type;
  r.FlagDef = flagDef;
  r.FlagValue = flag;
  r.FillConstant(0);
  r.LoadData();
  for (int32_t row = 0; row < rows; ++row)
    for (int32_t col = 0; col < cols; ++col) r.SetCell(row, col, value(row, col));
  r.SaveData();
  r.WriteDoc();
  return r.FileName;
}

// A size x size map of unit cells from (0, 0), written as binary and released,
// whose cell (row, col) holds value(row, col): the point (x, y) lies on row
// size - y, column x. No documentation file is written.
inline std::unique_ptr<tLiveRaster> SquareMap(const TempDir& dir, const std::string& name,
                                              int32_t size, tDataType type,
                                              const std::function<float(int32_t, int32_t)>& value) {
  auto r = std::make_unique<tLiveRaster>();
  r->FileName = dir.file(name);
  r->Rows = r->Columns = size;
  r->MinX = r->MinY = 0;
  r->MaxX = r->MaxY = size;
  r->CellWidth = r->CellHeight = 1;
  r->DataType = type;
  r->FileType = ftBinary;
  r->FillConstant(0);
  r->LoadData();
  for (int32_t row = 0; row < size; ++row)
    for (int32_t col = 0; col < size; ++col) r->SetCell(row, col, value(row, col));
  r->SaveData();
  return r;
}

struct tPoint {
  double x, y;
};

// A population file; gen(i, j) and sig(i, j) give the lower triangle.
inline void WritePopulationFile(const std::string& file, const std::vector<tPoint>& points,
                                const std::function<double(int, int)>& gen,
                                const std::function<double(int, int)>& sig = {}) {
  std::string text = "[Sample size]\n" + std::to_string(points.size()) + "\n[Coordinates]\n";
  char buf[64];
  for (const tPoint& p : points) {
    std::snprintf(buf, sizeof buf, "%.9g\t%.9g\n", p.x, p.y);
    text += buf;
  }
  auto matrix = [&](const std::function<double(int, int)>& f) {
    for (int i = 0; i < static_cast<int>(points.size()); ++i) {
      for (int j = 0; j <= i; ++j) {
        std::snprintf(buf, sizeof buf, "%.17g ", f(i, j));
        text += buf;
      }
      text += "\n";
    }
  };
  text += "[Genetic distance]\n";
  matrix(gen);
  if (sig) {
    text += "[Significance]\n";
    matrix(sig);
  }
  WriteFileBytes(file, text);
}

// A 12 x 16 grid for a run fixture r (maps, dir, reporter, settings): a binary and a
// quantitative map of a small repeating pattern and a topography map rising
// to the east.
inline float Wave(int32_t row, int32_t col) { return float((row * 5 + col * 3) % 4); }
template <typename Run>
void GridMaps(Run& r) {
  r.maps.LoadBinaryMaps({WriteMap(r.dir, "bin", 12, 16, dtByte, Wave)}, r.reporter);
  r.maps.LoadQuantitativeMaps({WriteMap(r.dir, "q", 12, 16, dtReal, Wave)}, r.reporter);
  r.maps.LoadTopographyMap(
      WriteMap(r.dir, "dem", 12, 16, dtReal, [](int32_t, int32_t c) { return float(c); }),
      r.reporter);
}
// The same with a varied friction map, for least-cost paths.
template <typename Run>
void LeastCostMaps(Run& r) {
  GridMaps(r);
  WriteMap(r.dir, "friction", 12, 16, dtReal,
           [](int32_t row, int32_t c) { return 1.0f + float((row * 7 + c) % 3); });
  r.settings.Connectivity = caLeastCostPath;
  r.settings.FrictionMapFile = "friction";
}

} // namespace stravex::test
