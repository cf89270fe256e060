#include "paths/Strip.h"

#include "base/StatOps.h"

#include <cmath>

namespace stravex {

namespace {

constexpr double kTopographySentinel = -9999.0;
constexpr double kQuantitativeSentinel = -1.0;

// floor(sqrt(dc^2 + dr^2)), at least 1. The end cells may lie anywhere in the
// 32-bit range, so the differences are taken in 64 bits and the root is
// corrected to the exact integer square root.
int64_t StripLength(int64_t dc, int64_t dr) {
  const long double d2 = static_cast<long double>(dc) * dc + static_cast<long double>(dr) * dr;
  auto L = static_cast<int64_t>(std::sqrt(d2));
  while (L > 0 && static_cast<long double>(L) * L > d2) --L;
  while (static_cast<long double>(L + 1) * (L + 1) <= d2) ++L;
  return L == 0 ? 1 : L;
}

// The topography map is read off the strip too (end cells, middle cell); a
// cell outside the grid has no elevation, whatever the map's GetCell would
// answer there.
bool ReadElevation(const tRaster& map, int32_t row, int32_t col, float& z) {
  if (!map.IsInside(row, col)) return false;
  z = static_cast<float>(map.GetCell(row, col));
  return !map.IsMissingValue(z);
}

} // namespace

tStripPlan PlanStrip(const tRaster& geometry, int32_t width, double x1, double y1, double x2,
                     double y2) {
  tStripPlan plan;
  plan.c1 = geometry.ColOfX(x1);
  plan.r1 = geometry.RowOfY(y1);
  plan.c2 = geometry.ColOfX(x2);
  plan.r2 = geometry.RowOfY(y2);
  const int64_t dc = static_cast<int64_t>(plan.c2) - plan.c1;
  const int64_t dr = static_cast<int64_t>(plan.r2) - plan.r1;
  plan.L = StripLength(dc, dr);

  if (width < 0) {
    // Negated in 64 bits: -INT32_MIN does not fit a 32-bit integer.
    const double ratio = -static_cast<double>(static_cast<int64_t>(width));
    const int32_t lines = RoundToInt32(static_cast<double>(plan.L) / ratio);
    plan.Lines = lines == 0 ? 1 : lines;
  } else {
    plan.Lines = width;
  }

  plan.sc = static_cast<float>(static_cast<long double>(dc) / static_cast<long double>(plan.L));
  plan.sr = static_cast<float>(static_cast<long double>(dr) / static_cast<long double>(plan.L));
  return plan;
}

void ScanStripBinary(const std::vector<tRaster*>& maps, int32_t width, double x1, double y1,
                     double x2, double y2, tVectorOfCardinal& Count, tVectorOfCardinal& Area) {
  const std::size_t n = maps.size();
  Count.assign(n, 0);
  Area.assign(n, 0);
  if (n == 0) return;

  StripGeometry(*maps[0], width, x1, y1, x2, y2, [&](int32_t row, int32_t col) {
    for (std::size_t m = 0; m < n; ++m) {
      const tRaster& map = *maps[m];
      const double cell = map.GetCell(row, col);
      if (!std::isfinite(cell)) continue; // missing, and no integer to round to
      const int32_t v = RoundToInt32(cell);
      // Compared in double: a large rounded value must not collide with the
      // flag value through a 32-bit float conversion.
      if (map.FlagDef == fdBackground && static_cast<double>(v) == map.FlagValue) continue;
      Area[m] = CheckedAdd(Area[m], 1);
      if (v > 0) Count[m] = CheckedAdd(Count[m], static_cast<uint32_t>(v));
    }
  });
}

void ScanStripQuantitative(const std::vector<tRaster*>& maps, int32_t width, double x1, double y1,
                           double x2, double y2, tVectorOfDouble& Sum, tVectorOfDouble& Mean,
                           tVectorOfDouble& SD, tVectorOfCardinal& Area) {
  const std::size_t n = maps.size();
  Sum.assign(n, 0);
  Mean.assign(n, 0);
  SD.assign(n, 0);
  Area.assign(n, 0);
  if (n == 0) return;

  tVectorOfExtended S(n, 0.0L);
  tVectorOfExtended Q(n, 0.0L);
  StripGeometry(*maps[0], width, x1, y1, x2, y2, [&](int32_t row, int32_t col) {
    for (std::size_t m = 0; m < n; ++m) {
      const tRaster& map = *maps[m];
      const auto v = static_cast<float>(map.GetCell(row, col));
      if (map.IsMissingValue(v)) continue;
      Area[m] = CheckedAdd(Area[m], 1);
      const long double x = v;
      S[m] += x;
      Q[m] += x * x;
    }
  });

  for (std::size_t m = 0; m < n; ++m) {
    if (Area[m] == 0) {
      Sum[m] = Mean[m] = SD[m] = kQuantitativeSentinel;
      continue;
    }
    double variance = 0;
    MeanAndVariance(Area[m], Mean[m], variance, S[m], Q[m]);
    SD[m] = SDFromVariance(variance);
    Sum[m] = static_cast<double>(S[m]);
  }
}

void ScanStripTopography(tRaster& map, int32_t width, double x1, double y1, double x2, double y2,
                         double& Mean, double& SD, double& Slope, double& Convexity,
                         uint32_t& Area) {
  const tStripPlan plan = PlanStrip(map, width, x1, y1, x2, y2);

  // A slope needs an elevation at both ends; an end outside the grid or on a
  // missing cell gives the topography sentinel rather than a slope computed
  // from the flag value.
  const double dx = x2 - x1;
  const double dy = y2 - y1;
  const double d = std::sqrt(dx * dx + dy * dy);
  Slope = 0;
  if (d > 0) {
    float z1 = 0, z2 = 0;
    if (ReadElevation(map, plan.r1, plan.c1, z1) && ReadElevation(map, plan.r2, plan.c2, z2))
      Slope = (static_cast<double>(z2) - static_cast<double>(z1)) / d;
    else
      Slope = kTopographySentinel;
  }

  Area = 0;
  long double S = 0, Q = 0;
  StripGeometry(map, plan, [&](int32_t row, int32_t col) {
    const auto v = static_cast<float>(map.GetCell(row, col));
    if (map.IsMissingValue(v)) return;
    Area = CheckedAdd(Area, 1);
    const long double x = v;
    S += x;
    Q += x * x;
  });

  if (Area == 0) {
    Mean = SD = Convexity = kTopographySentinel;
    return;
  }
  double variance = 0;
  MeanAndVariance(Area, Mean, variance, S, Q);
  SD = SDFromVariance(variance);

  // Middle of the centre line, measured from the first end cell itself.
  const double half = static_cast<double>(plan.L) / 2.0;
  const int32_t midCol = RoundToInt32(plan.c1 + half * static_cast<double>(plan.sc));
  const int32_t midRow = RoundToInt32(plan.r1 + half * static_cast<double>(plan.sr));
  float z = 0;
  Convexity = ReadElevation(map, midRow, midCol, z) ? static_cast<double>(z) - Mean
                                                    : kTopographySentinel;
}

} // namespace stravex
