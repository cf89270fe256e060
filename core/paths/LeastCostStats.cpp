#include "paths/LeastCostStats.h"

#include "base/Errors.h"
#include "base/Numeric.h"
#include "base/RandomFunctions.h"
#include "base/StatOps.h"
#include "paths/Corridor.h"
#include "paths/CostPath.h"
#include "raster/Raster.h"

namespace stravex {

namespace {

struct tSearchTotals {
  long double cost = 0;
  double length = 0;
};

// Runs the nPaths searches between the cells of the two points on the first
// map and hands every path (empty when none was found) to onPath.
bool SameEnds(const tSearchRecord& r, double row1, double col1, double row2, double col2) {
  return r.Row1 == row1 && r.Col1 == col1 && r.Row2 == row2 && r.Col2 == col2;
}

template <typename F>
tSearchTotals
RunSearches(const tRaster& geometry, const tMatrixOfSingle& friction, double x1, double y1,
            double x2, double y2, int32_t nPaths, tMinimiseCriterion criterion,
            double frictionWeight, double lengthWeight, const tLiveRaster* topography,
            int32_t direction, double tolerance, std::vector<t2DiPoints>* pathsOut, F&& onPath,
            tSearchRecord* recordOut = nullptr, const tSearchRecord* reuse = nullptr) {
  const double row1 = geometry.RowOfY(y1);
  const double col1 = geometry.ColOfX(x1);
  const double row2 = geometry.RowOfY(y2);
  const double col2 = geometry.ColOfX(x2);
  if (pathsOut) {
    pathsOut->clear();
    pathsOut->reserve(static_cast<std::size_t>(nPaths));
  }
  tSearchTotals totals;
  if (reuse && SameEnds(*reuse, row1, col1, row2, col2) &&
      reuse->Paths.size() == static_cast<std::size_t>(nPaths)) {
    for (std::size_t k = 0; k < reuse->Paths.size(); ++k) {
      onPath(reuse->Paths[k]);
      totals.cost += reuse->Costs[k];
      totals.length += reuse->Lengths[k];
      if (pathsOut) pathsOut->push_back(reuse->Paths[k]);
    }
    CurrentRandom().SetState(reuse->RandomAfter);
    return totals;
  }
  if (recordOut) {
    *recordOut = tSearchRecord{row1, col1, row2, col2, {}, {}, {}, {}};
    recordOut->Paths.reserve(static_cast<std::size_t>(nPaths));
  }
  t2DiPoints path;
  for (int32_t k = 0; k < nPaths; ++k) {
    long double c = 0;
    uint32_t n = 0;
    FindLeastCostPath(LeastCostCandidates, friction, path, tolerance, direction, topography,
                      lengthWeight, frictionWeight, criterion, c, n, row1, col1, row2, col2);
    onPath(path);
    totals.cost += c;
    totals.length += n;
    if (pathsOut) pathsOut->push_back(path);
    if (recordOut) {
      recordOut->Paths.push_back(path);
      recordOut->Costs.push_back(c);
      recordOut->Lengths.push_back(n);
    }
  }
  if (recordOut) recordOut->RandomAfter = CurrentRandom().State();
  return totals;
}

// nPaths is the divisor of the means: at least one search is needed.
void CheckPathCount(int32_t nPaths) {
  if (nPaths < 1) RaiseRangeCheck("number of paths", nPaths, 1, INT32_MAX);
}

} // namespace

void ScanLeastCostBinary(const std::vector<tRaster*>& maps, const tMatrixOfSingle& friction,
                         double x1, double y1, double x2, double y2, int32_t nPaths,
                         tMinimiseCriterion criterion, double frictionWeight, double lengthWeight,
                         tVectorOfCardinal& Count, tVectorOfCardinal& Area, tVectorOfDouble& Length,
                         tVectorOfExtended& Cost, tCorridorMap* corridor,
                         const tLiveRaster* topography, int32_t direction, double tolerance,
                         std::vector<t2DiPoints>* pathsOut, tSearchRecord* recordOut,
                         const tSearchRecord* reuse) {
  CheckPathCount(nPaths);
  const std::size_t nMaps = maps.size();
  NewZeroVector(Count, nMaps);
  NewZeroVector(Area, nMaps);
  NewZeroVector(Length, nMaps);
  NewZeroVector(Cost, nMaps);
  if (nMaps == 0) return;

  auto scanPath = [&](const t2DiPoints& path) {
    if (corridor && !path.empty()) AddPathToCorridor(*corridor, path);
    for (std::size_t m = 0; m < nMaps; ++m) {
      const tRaster& map = *maps[m];
      const bool useFlag = map.FlagDef == fdBackground;
      uint32_t count = Count[m], area = Area[m];
      for (const t2DiPoint& p : path) {
        const double v = RoundHalfEven(map.GetCell(p.row, p.col));
        if (useFlag && v == map.FlagValue) continue;
        area = CheckedAdd(area, 1);
        if (v > 0) {
          if (v > 4294967295.0) throw EIntOverflow("Integer overflow");
          count = CheckedAdd(count, static_cast<uint32_t>(v));
        }
      }
      Count[m] = count;
      Area[m] = area;
    }
  };

  tSearchTotals totals;
  try {
    totals = RunSearches(*maps.front(), friction, x1, y1, x2, y2, nPaths, criterion, frictionWeight,
                         lengthWeight, topography, direction, tolerance, pathsOut, scanPath,
                         recordOut, reuse);
  } catch (...) {
    // The image file already holds the paths added; keep the documented
    // maximum in step with it before the error goes on.
    if (corridor) {
      try {
        corridor->WriteDoc();
      } catch (...) {
      }
    }
    throw;
  }
  for (std::size_t m = 0; m < nMaps; ++m) {
    Cost[m] = totals.cost / nPaths;
    Length[m] = totals.length / nPaths;
  }
  if (corridor) corridor->WriteDoc();
}

void ScanLeastCostBinary(const std::vector<tRaster*>& maps, tRaster& friction, double x1, double y1,
                         double x2, double y2, int32_t nPaths, tMinimiseCriterion criterion,
                         double frictionWeight, double lengthWeight, tVectorOfCardinal& Count,
                         tVectorOfCardinal& Area, tVectorOfDouble& Length, tVectorOfExtended& Cost,
                         tCorridorMap* corridor, const tLiveRaster* topography, int32_t direction,
                         double tolerance, std::vector<t2DiPoints>* pathsOut) {
  CheckPathCount(nPaths);
  tMatrixOfSingle matrix;
  friction.ReadSingleMatrix(matrix);
  ScanLeastCostBinary(maps, matrix, x1, y1, x2, y2, nPaths, criterion, frictionWeight, lengthWeight,
                      Count, Area, Length, Cost, corridor, topography, direction, tolerance,
                      pathsOut);
}

void ScanLeastCostQuantitative(const std::vector<tRaster*>& maps, const tMatrixOfSingle& friction,
                               double x1, double y1, double x2, double y2, int32_t nPaths,
                               tMinimiseCriterion criterion, double frictionWeight,
                               double lengthWeight, tVectorOfDouble& Sum, tVectorOfDouble& Mean,
                               tVectorOfDouble& SD, tVectorOfCardinal& Area,
                               tVectorOfDouble& Length, tVectorOfExtended& Cost,
                               const tLiveRaster* topography, int32_t direction, double tolerance,
                               std::vector<t2DiPoints>* pathsOut, const tSearchRecord* reuse) {
  CheckPathCount(nPaths);
  const std::size_t nMaps = maps.size();
  NewZeroVector(Sum, nMaps);
  NewZeroVector(Mean, nMaps);
  NewZeroVector(SD, nMaps);
  NewZeroVector(Area, nMaps);
  NewZeroVector(Length, nMaps);
  NewZeroVector(Cost, nMaps);
  if (nMaps == 0) return;

  tVectorOfExtended s(nMaps, 0.0L), q(nMaps, 0.0L);
  auto scanPath = [&](const t2DiPoints& path) {
    for (std::size_t m = 0; m < nMaps; ++m) {
      const tRaster& map = *maps[m];
      uint32_t area = Area[m];
      long double sum = s[m], squares = q[m];
      for (const t2DiPoint& p : path) {
        const float v = static_cast<float>(map.GetCell(p.row, p.col));
        if (map.IsMissingValue(v)) continue;
        area = CheckedAdd(area, 1);
        sum += v;
        squares += static_cast<long double>(v) * v;
      }
      Area[m] = area;
      s[m] = sum;
      q[m] = squares;
    }
  };

  const tSearchTotals totals = RunSearches(
      *maps.front(), friction, x1, y1, x2, y2, nPaths, criterion, frictionWeight, lengthWeight,
      topography, direction, tolerance, pathsOut, scanPath, nullptr, reuse);
  for (std::size_t m = 0; m < nMaps; ++m) {
    Cost[m] = totals.cost / nPaths;
    Length[m] = totals.length / nPaths;
    if (Area[m] > 0) {
      double mean = 0, variance = 0;
      MeanAndVariance(Area[m], mean, variance, s[m], q[m]);
      Sum[m] = static_cast<double>(s[m]);
      Mean[m] = mean;
      SD[m] = SDFromVariance(variance);
    } else {
      Sum[m] = -1;
      Mean[m] = -1;
      SD[m] = -1;
    }
  }
}

void ScanLeastCostQuantitative(const std::vector<tRaster*>& maps, tRaster& friction, double x1,
                               double y1, double x2, double y2, int32_t nPaths,
                               tMinimiseCriterion criterion, double frictionWeight,
                               double lengthWeight, tVectorOfDouble& Sum, tVectorOfDouble& Mean,
                               tVectorOfDouble& SD, tVectorOfCardinal& Area,
                               tVectorOfDouble& Length, tVectorOfExtended& Cost,
                               const tLiveRaster* topography, int32_t direction, double tolerance,
                               std::vector<t2DiPoints>* pathsOut) {
  CheckPathCount(nPaths);
  tMatrixOfSingle matrix;
  friction.ReadSingleMatrix(matrix);
  ScanLeastCostQuantitative(maps, matrix, x1, y1, x2, y2, nPaths, criterion, frictionWeight,
                            lengthWeight, Sum, Mean, SD, Area, Length, Cost, topography, direction,
                            tolerance, pathsOut);
}

} // namespace stravex
