#include "paths/LeastCostStats.h"

#include "base/Errors.h"
#include "base/Numeric.h"
#include "base/RandomFunctions.h"
#include "base/StatOps.h"
#include "paths/Corridor.h"
#include "paths/CostPath.h"
#include "raster/Raster.h"

#include <cmath>

namespace stravex {

namespace {

struct tSearchTotals {
  long double cost = 0;
  double length = 0;
};

bool SameEnds(const tSearchRecord& r, double row1, double col1, double row2, double col2) {
  return r.Row1 == row1 && r.Col1 == col1 && r.Row2 == row2 && r.Col2 == col2;
}

// Runs the scan's searches between the cells of its two points on the first
// map (or replays its record) and hands every path (empty when none was
// found) to onPath; `record` receives what was found.
template <typename F>
tSearchTotals RunSearches(const tRaster& geometry, const tLeastCostScan& scan,
                          tRandomGenerator& random, tSearchRecord& record, F&& onPath) {
  const double row1 = geometry.RowOfY(scan.Y1);
  const double col1 = geometry.ColOfX(scan.X1);
  const double row2 = geometry.RowOfY(scan.Y2);
  const double col2 = geometry.ColOfX(scan.X2);
  const int32_t nPaths = scan.Paths;
  tSearchTotals totals;
  const tSearchRecord* reuse = scan.Reuse;
  if (reuse && SameEnds(*reuse, row1, col1, row2, col2) &&
      reuse->Paths.size() == static_cast<std::size_t>(nPaths)) {
    for (std::size_t k = 0; k < reuse->Paths.size(); ++k) {
      onPath(reuse->Paths[k]);
      totals.cost += reuse->Costs[k];
      totals.length += reuse->Lengths[k];
    }
    random.SetState(reuse->RandomAfter);
    record = *reuse;
    return totals;
  }
  record = tSearchRecord{row1, col1, row2, col2, {}, {}, {}, {}};
  record.Paths.reserve(static_cast<std::size_t>(nPaths));
  record.Costs.reserve(static_cast<std::size_t>(nPaths));
  record.Lengths.reserve(static_cast<std::size_t>(nPaths));
  const tPathRequest request{scan.Rules, row1, col1, row2, col2, LeastCostCandidates};
  for (int32_t k = 0; k < nPaths; ++k) {
    tFoundPath found = FindLeastCostPath(request, random);
    onPath(found.Path);
    totals.cost += found.Cost;
    totals.length += found.Length;
    record.Paths.push_back(std::move(found.Path));
    record.Costs.push_back(found.Cost);
    record.Lengths.push_back(found.Length);
  }
  record.RandomAfter = random.State();
  return totals;
}

// nPaths is the divisor of the means: at least one search is needed.
void CheckPathCount(int32_t nPaths) {
  if (nPaths < 1) RaiseRangeCheck("number of paths", nPaths, 1, INT32_MAX);
}

} // namespace

tBinaryScan ScanLeastCostBinary(const std::vector<tRaster*>& maps, const tLeastCostScan& scan,
                                tRandomGenerator& random) {
  CheckPathCount(scan.Paths);
  const std::size_t nMaps = maps.size();
  tBinaryScan out;
  NewZeroVector(out.Count, nMaps);
  NewZeroVector(out.Area, nMaps);
  NewZeroVector(out.Length, nMaps);
  NewZeroVector(out.Cost, nMaps);
  if (nMaps == 0) return out;

  tCorridorMap* const corridor = scan.Corridor;
  auto scanPath = [&](const t2DiPoints& path) {
    if (corridor && !path.empty()) AddPathToCorridor(*corridor, path);
    for (std::size_t m = 0; m < nMaps; ++m) {
      const tRaster& map = *maps[m];
      const bool useFlag = map.FlagDef == fdBackground;
      uint32_t count = out.Count[m], area = out.Area[m];
      for (const t2DiPoint& p : path) {
        const double cell = map.GetCell(p.row, p.col);
        if (!std::isfinite(cell)) continue; // missing, as in tRaster::IsMissingValue
        const double v = RoundHalfEven(cell);
        if (useFlag && v == map.FlagValue) continue;
        area = CheckedAdd(area, 1);
        if (v > 0) {
          if (v > 4294967295.0) throw EIntOverflow("Integer overflow");
          count = CheckedAdd(count, static_cast<uint32_t>(v));
        }
      }
      out.Count[m] = count;
      out.Area[m] = area;
    }
  };

  tSearchTotals totals;
  try {
    totals = RunSearches(*maps.front(), scan, random, out.Searches, scanPath);
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
    out.Cost[m] = totals.cost / scan.Paths;
    out.Length[m] = totals.length / scan.Paths;
  }
  if (corridor) corridor->WriteDoc();
  return out;
}

tQuantitativeScan ScanLeastCostQuantitative(const std::vector<tRaster*>& maps,
                                            const tLeastCostScan& scan, tRandomGenerator& random) {
  CheckPathCount(scan.Paths);
  const std::size_t nMaps = maps.size();
  tQuantitativeScan out;
  NewZeroVector(out.Sum, nMaps);
  NewZeroVector(out.Mean, nMaps);
  NewZeroVector(out.SD, nMaps);
  NewZeroVector(out.Area, nMaps);
  NewZeroVector(out.Length, nMaps);
  NewZeroVector(out.Cost, nMaps);
  if (nMaps == 0) return out;

  tVectorOfExtended s(nMaps, 0.0L), q(nMaps, 0.0L);
  auto scanPath = [&](const t2DiPoints& path) {
    for (std::size_t m = 0; m < nMaps; ++m) {
      const tRaster& map = *maps[m];
      uint32_t area = out.Area[m];
      long double sum = s[m], squares = q[m];
      for (const t2DiPoint& p : path) {
        const float v = static_cast<float>(map.GetCell(p.row, p.col));
        if (map.IsMissingValue(v)) continue;
        area = CheckedAdd(area, 1);
        sum += v;
        squares += static_cast<long double>(v) * v;
      }
      out.Area[m] = area;
      s[m] = sum;
      q[m] = squares;
    }
  };

  const tSearchTotals totals = RunSearches(*maps.front(), scan, random, out.Searches, scanPath);
  for (std::size_t m = 0; m < nMaps; ++m) {
    out.Cost[m] = totals.cost / scan.Paths;
    out.Length[m] = totals.length / scan.Paths;
    if (out.Area[m] > 0) {
      double mean = 0, variance = 0;
      MeanAndVariance(out.Area[m], mean, variance, s[m], q[m]);
      out.Sum[m] = static_cast<double>(s[m]);
      out.Mean[m] = mean;
      out.SD[m] = SDFromVariance(variance);
    } else {
      out.Sum[m] = -1;
      out.Mean[m] = -1;
      out.SD[m] = -1;
    }
  }
  return out;
}

} // namespace stravex
