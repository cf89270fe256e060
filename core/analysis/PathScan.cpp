#include "PathScan.h"

#include "Errors.h"
#include "LeastCostStats.h"
#include "RandomFunctions.h"
#include "Raster.h"
#include "StatOps.h"
#include "Strip.h"

namespace stravex {

namespace {

bool IsStrip(TConnectivityAlgorithm a) { return a != caLeastCostPath; }

} // namespace

tPathScanOptions MakeScanOptions(const TAnalysisSettings& s, bool forSequence,
                                 const tMatrixOfSingle* friction, const tLiveRaster* dem) {
  tPathScanOptions o;
  o.Connectivity = s.Connectivity;
  o.PathWidth = s.PathWidth;
  if (s.Connectivity != caLeastCostPath) return o;
  o.Friction = friction;
  o.Seed = s.Seed;
  o.Minimise = s.Minimise;
  o.FrictionWeight = s.FrictionWeightValue();
  o.LengthWeight = s.LengthWeightValue(forSequence);
  if (!forSequence && s.Direction != 0) {
    o.Dem = dem;
    o.Direction = s.Direction;
    o.Tolerance = s.ElevationToleranceValue();
  }
  return o;
}

tPathScanner::tPathScanner(const tMapSet& maps, const tPathScanOptions& options)
    : fBinary(maps.Binary()), fQuantitative(maps.Quantitative()),
      fTopography(maps.TopographyMap.get()), fOptions(options) {
  if (!IsStrip(fOptions.Connectivity)) {
    if (fOptions.Friction == nullptr)
      throw EInvalidOperation("Least-cost paths need a friction map");
    if (fOptions.PathWidth < 1)
      RaiseRangeCheck("number of least-cost paths", fOptions.PathWidth, 1, INT32_MAX);
  }
}

std::string tPathScanner::HeaderColumns() const {
  std::string h;
  auto add = [&h](const std::string& name, const char* suffix) {
    h += '\t';
    h += name;
    h += suffix;
  };
  for (const tRaster* m : fBinary) {
    const std::string n = m->MapName();
    for (const char* s : {"_Count", "_Area", "_Length", "_Cost"}) add(n, s);
  }
  for (const tRaster* m : fQuantitative) {
    const std::string n = m->MapName();
    for (const char* s : {"_Sum", "_Mean", "_SD", "_Area", "_Length", "_Cost"}) add(n, s);
  }
  if (fTopography && IsStrip(fOptions.Connectivity)) {
    const std::string n = fTopography->MapName();
    for (const char* s : {"_Mean", "_SD", "_Slope", "_Convexity", "_Area"}) add(n, s);
  }
  return h;
}

tPathScanResult tPathScanner::Scan(double x1, double y1, double x2, double y2,
                                   int32_t seedIndex) const {
  tPathScanResult result;
  tReportRow row;

  if (IsStrip(fOptions.Connectivity)) {
    // A negative width asks the strip scanners for a length:width ratio.
    const int32_t width = fOptions.Connectivity == caRatioStrip ? -fOptions.PathWidth
                                                                : fOptions.PathWidth;
    if (!fBinary.empty()) {
      tVectorOfCardinal count, area;
      ScanStripBinary(fBinary, width, x1, y1, x2, y2, count, area);
      for (std::size_t m = 0; m < fBinary.size(); ++m)
        row.AddTab().AddInt(count[m]).AddTab().AddInt(area[m]).AddText("\t0\t0");
    }
    if (!fQuantitative.empty()) {
      tVectorOfDouble sum, mean, sd;
      tVectorOfCardinal area;
      ScanStripQuantitative(fQuantitative, width, x1, y1, x2, y2, sum, mean, sd, area);
      for (std::size_t m = 0; m < fQuantitative.size(); ++m)
        row.AddTab()
            .AddReal(sum[m])
            .AddTab()
            .AddReal(mean[m])
            .AddTab()
            .AddReal(sd[m])
            .AddTab()
            .AddInt(area[m])
            .AddText("\t0\t0");
    }
    if (fTopography) {
      double mean = 0, sd = 0, slope = 0, convexity = 0;
      uint32_t area = 0;
      ScanStripTopography(*fTopography, width, x1, y1, x2, y2, mean, sd, slope, convexity, area);
      row.AddTab()
          .AddReal(mean)
          .AddTab()
          .AddReal(sd)
          .AddTab()
          .AddReal(slope)
          .AddTab()
          .AddReal(convexity)
          .AddTab()
          .AddInt(area);
    }
    result.Columns = row.Text();
    return result;
  }

  const tMatrixOfSingle& friction = *fOptions.Friction;
  // The quantitative scan re-seeds alike and would repeat the binary scan's
  // searches; it replays them when its end cells are the same.
  tSearchRecord searches;
  const tSearchRecord* reuse = nullptr;
  if (!fBinary.empty()) {
    tVectorOfCardinal count, area;
    tVectorOfDouble length;
    tVectorOfExtended cost;
    SeedRandom(fOptions.Seed, seedIndex);
    ScanLeastCostBinary(fBinary, friction, x1, y1, x2, y2, fOptions.PathWidth, fOptions.Minimise,
                        fOptions.FrictionWeight, fOptions.LengthWeight, count, area, length, cost,
                        nullptr, fOptions.Dem, fOptions.Direction, fOptions.Tolerance,
                        &result.BinaryPaths, &searches);
    reuse = &searches;
    for (std::size_t m = 0; m < fBinary.size(); ++m)
      row.AddTab()
          .AddInt(count[m])
          .AddTab()
          .AddInt(area[m])
          .AddTab()
          .AddReal(length[m])
          .AddTab()
          .AddReal(cost[m]);
    result.BinaryLengthSum = SumOfValues(length);
  }
  if (!fQuantitative.empty()) {
    tVectorOfDouble sum, mean, sd, length;
    tVectorOfCardinal area;
    tVectorOfExtended cost;
    // Same seed again: both scans draw the same random numbers, hence the same paths.
    SeedRandom(fOptions.Seed, seedIndex);
    ScanLeastCostQuantitative(fQuantitative, friction, x1, y1, x2, y2, fOptions.PathWidth,
                              fOptions.Minimise, fOptions.FrictionWeight, fOptions.LengthWeight,
                              sum, mean, sd, area, length, cost, fOptions.Dem, fOptions.Direction,
                              fOptions.Tolerance, nullptr, reuse);
    for (std::size_t m = 0; m < fQuantitative.size(); ++m)
      row.AddTab()
          .AddReal(sum[m])
          .AddTab()
          .AddReal(mean[m])
          .AddTab()
          .AddReal(sd[m])
          .AddTab()
          .AddInt(area[m])
          .AddTab()
          .AddReal(length[m])
          .AddTab()
          .AddReal(cost[m]);
  }
  if (!fBinary.empty() || !fQuantitative.empty()) {
    result.Seeded = true;
    result.RandomAfter = CurrentRandom();
  }
  result.Columns = row.Text();
  return result;
}

} // namespace stravex
