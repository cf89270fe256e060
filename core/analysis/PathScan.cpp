#include "analysis/PathScan.h"

#include "base/Errors.h"
#include "base/RandomFunctions.h"
#include "base/StatOps.h"
#include "paths/ExactPath.h"
#include "paths/LeastCostStats.h"
#include "paths/Strip.h"
#include "raster/Raster.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace stravex {

// One source of the exact searches' plan and, once searched, its paths.
struct tExactSource {
  t2DPoint Point;
  std::vector<t2DPoint> Targets;
  std::once_flag Once;
  std::atomic<bool> Started{false}, Done{false};
  t2DiPoint Cell;
  std::vector<t2DiPoint> TargetCells;
  std::vector<tFoundPath> Paths;
};

struct tExactPlan {
  std::vector<std::unique_ptr<tExactSource>> Sources;
};

namespace {

// The least-cost columns of one map: binary and count maps, quantitative maps.
void AddBinaryBlock(tReportRow& row, uint32_t count, uint32_t area, double length,
                    long double cost) {
  row.AddTab().AddInt(count).AddTab().AddInt(area).AddTab().AddReal(length).AddTab().AddReal(cost);
}

void AddQuantitativeBlock(tReportRow& row, double sum, double mean, double sd, uint32_t area,
                          double length, long double cost) {
  row.AddTab().AddReal(sum).AddTab().AddReal(mean).AddTab().AddReal(sd).AddTab().AddInt(area);
  row.AddTab().AddReal(length).AddTab().AddReal(cost);
}

bool IsStrip(TConnectivityAlgorithm a) { return !UsesFriction(a); }

t2DiPoint CellOf(const tRaster& geometry, double x, double y) {
  return {geometry.RowOfY(y), geometry.ColOfX(x)};
}

// A scan of the least-cost scanners that replays one path found beforehand
// and leaves the generator as it is.
tSearchRecord RecordOf(const tRaster& geometry, double x1, double y1, double x2, double y2,
                       const tFoundPath& p, const tRandomGenerator& random) {
  return {static_cast<double>(geometry.RowOfY(y1)),
          static_cast<double>(geometry.ColOfX(x1)),
          static_cast<double>(geometry.RowOfY(y2)),
          static_cast<double>(geometry.ColOfX(x2)),
          {p.Path},
          {p.Cost},
          {p.Length},
          random.State()};
}

} // namespace

tPathScanOptions MakeScanOptions(const TAnalysisSettings& s, bool forSequence,
                                 const tMatrixOfSingle* friction, const tLiveRaster* dem,
                                 const tRaster* frictionMap) {
  tPathScanOptions o;
  o.Connectivity = s.Connectivity;
  o.PathWidth = s.PathWidth;
  if (!UsesFriction(s.Connectivity)) return o;
  if (s.Connectivity == caExactLeastCost) {
    o.PathWidth = 1; // one path per pair: the optimum
    if (frictionMap) {
      if (frictionMap->FlagDef == fdBackground) o.FrictionFlag = frictionMap->FlagValue;
      o.FrictionName = frictionMap->MapName();
    }
  }
  o.Seed = s.Seed;
  o.Rules.Friction = friction;
  o.Rules.Criterion = MinimiseCriterionOf(s.Minimise);
  o.Rules.FrictionWeight = s.FrictionWeightValue();
  o.Rules.LengthWeight = s.LengthWeightValue(forSequence);
  if (!forSequence && s.Direction != 0) {
    o.Rules.Topography = dem;
    o.Rules.Direction = SlopeDirectionOf(s.Direction);
    o.Rules.Tolerance = s.ElevationToleranceValue();
  }
  return o;
}

tPathScanner::tPathScanner(const tMapSet& maps, const tPathScanOptions& options,
                           tMatrixOfSingle* frictionCells)
    : fBinary(maps.Binary()), fQuantitative(maps.Quantitative()),
      fTopography(maps.TopographyMap.get()), fOptions(options) {
  if (!IsStrip(fOptions.Connectivity)) {
    if (fOptions.Rules.Friction == nullptr)
      throw EInvalidOperation("Least-cost paths need a friction map");
    if (fOptions.PathWidth < 1)
      RaiseRangeCheck("number of least-cost paths", fOptions.PathWidth, 1, INT32_MAX);
  }
  if (fOptions.Connectivity == caExactLeastCost) {
    CheckExactCriterion(fOptions.Rules.Criterion);
    if (frictionCells && frictionCells == fOptions.Rules.Friction)
      fExact = std::make_unique<tExactLandscape>(std::move(*frictionCells), fOptions.Rules,
                                                 fOptions.FrictionFlag, fOptions.FrictionName);
    else
      fExact = std::make_unique<tExactLandscape>(fOptions.Rules, fOptions.FrictionFlag,
                                                 fOptions.FrictionName);
  }
}

tPathScanner::~tPathScanner() = default;

void tPathScanner::PlanSources(const std::vector<t2DPoint>& sources,
                               const std::vector<std::vector<t2DPoint>>& targets) {
  if (!fExact) return;
  fPlan = std::make_unique<tExactPlan>();
  for (std::size_t i = 0; i < sources.size(); ++i) {
    auto s = std::make_unique<tExactSource>();
    s->Point = sources[i];
    if (i < targets.size()) s->Targets = targets[i];
    fPlan->Sources.push_back(std::move(s));
  }
}

tPathScanResult tPathScanner::ScanFrom(int32_t source, double x1, double y1, double x2, double y2,
                                       int32_t seedIndex, tRandomGenerator& random) const {
  if (fExact) return ScanExact(x1, y1, x2, y2, source, random);
  return Scan(x1, y1, x2, y2, seedIndex, random);
}

tPathScanResult tPathScanner::ScanExact(double x1, double y1, double x2, double y2, int32_t source,
                                        tRandomGenerator& random) const {
  tPathScanResult result;
  if (fBinary.empty() && fQuantitative.empty()) return result;
  const tRaster& geometry = fBinary.empty() ? *fQuantitative.front() : *fBinary.front();
  const t2DiPoint from = CellOf(geometry, x1, y1), to = CellOf(geometry, x2, y2);

  // The planned search of the source, shared by all its pairs, or a search
  // of its own for a pair outside the plan.
  const tFoundPath* found = nullptr;
  tFoundPath single;
  if (fPlan && source >= 0 && static_cast<std::size_t>(source) < fPlan->Sources.size()) {
    const auto search = [&](tExactSource& s) {
      std::call_once(s.Once, [&] {
        s.Started = true;
        s.Cell = CellOf(geometry, s.Point.x, s.Point.y);
        s.TargetCells.clear();
        for (const t2DPoint& t : s.Targets) s.TargetCells.push_back(CellOf(geometry, t.x, t.y));
        s.Paths = FindExactLeastCostPaths(*fExact, s.Cell, s.TargetCells);
        s.Done = true;
      });
    };
    const std::size_t i = static_cast<std::size_t>(source);
    tExactSource& s = *fPlan->Sources[i];
    // Rather than wait for another thread's search of this source, run the
    // next source's search meanwhile (one search per thread at a time).
    if (s.Started && !s.Done)
      for (std::size_t n = i + 1; n < fPlan->Sources.size(); ++n) {
        tExactSource& next = *fPlan->Sources[n];
        if (next.Targets.empty()) continue;
        if (!next.Started) search(next);
        break;
      }
    search(s);
    if (s.Cell == from) {
      const auto it = std::find(s.TargetCells.begin(), s.TargetCells.end(), to);
      if (it != s.TargetCells.end())
        found = &s.Paths[static_cast<std::size_t>(it - s.TargetCells.begin())];
    }
  }
  if (!found) {
    const t2DiPoint target[1] = {to};
    single = std::move(FindExactLeastCostPaths(*fExact, from, target).front());
    found = &single;
  }

  tReportRow row;
  if (!fBinary.empty()) {
    const tSearchRecord record = RecordOf(*fBinary.front(), x1, y1, x2, y2, *found, random);
    tBinaryScan b =
        ScanLeastCostBinary(fBinary, {fOptions.Rules, x1, y1, x2, y2, 1, nullptr, &record}, random);
    for (std::size_t m = 0; m < fBinary.size(); ++m)
      AddBinaryBlock(row, b.Count[m], b.Area[m], b.Length[m], b.Cost[m]);
    result.BinaryLengthSum = SumOfValues(b.Length);
    result.BinaryPaths = std::move(b.Searches.Paths);
  }
  if (!fQuantitative.empty()) {
    const tRaster& q = *fQuantitative.front();
    tFoundPath own;
    const tFoundPath* path = found;
    if (!(CellOf(q, x1, y1) == from && CellOf(q, x2, y2) == to)) {
      const t2DiPoint target[1] = {CellOf(q, x2, y2)};
      own = std::move(FindExactLeastCostPaths(*fExact, CellOf(q, x1, y1), target).front());
      path = &own;
    }
    const tSearchRecord record = RecordOf(q, x1, y1, x2, y2, *path, random);
    const tQuantitativeScan qs = ScanLeastCostQuantitative(
        fQuantitative, {fOptions.Rules, x1, y1, x2, y2, 1, nullptr, &record}, random);
    for (std::size_t m = 0; m < fQuantitative.size(); ++m)
      AddQuantitativeBlock(row, qs.Sum[m], qs.Mean[m], qs.SD[m], qs.Area[m], qs.Length[m],
                           qs.Cost[m]);
  }
  result.Columns = row.Text();
  return result;
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

tPathScanResult tPathScanner::Scan(double x1, double y1, double x2, double y2, int32_t seedIndex,
                                   tRandomGenerator& random) const {
  if (fExact) return ScanExact(x1, y1, x2, y2, -1, random);
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

  // The quantitative scan re-seeds alike and would repeat the binary scan's
  // searches; it replays them when its end cells are the same.
  tSearchRecord searches;
  const tSearchRecord* reuse = nullptr;
  if (!fBinary.empty()) {
    random.Seed(fOptions.Seed, seedIndex);
    tBinaryScan b = ScanLeastCostBinary(
        fBinary, {fOptions.Rules, x1, y1, x2, y2, fOptions.PathWidth, nullptr, nullptr}, random);
    for (std::size_t m = 0; m < fBinary.size(); ++m)
      AddBinaryBlock(row, b.Count[m], b.Area[m], b.Length[m], b.Cost[m]);
    result.BinaryLengthSum = SumOfValues(b.Length);
    searches = std::move(b.Searches);
    result.BinaryPaths = searches.Paths;
    reuse = &searches;
  }
  if (!fQuantitative.empty()) {
    // Same seed again: both scans draw the same random numbers, hence the same paths.
    random.Seed(fOptions.Seed, seedIndex);
    const tQuantitativeScan qs = ScanLeastCostQuantitative(
        fQuantitative, {fOptions.Rules, x1, y1, x2, y2, fOptions.PathWidth, nullptr, reuse},
        random);
    for (std::size_t m = 0; m < fQuantitative.size(); ++m)
      AddQuantitativeBlock(row, qs.Sum[m], qs.Mean[m], qs.SD[m], qs.Area[m], qs.Length[m],
                           qs.Cost[m]);
  }
  if (!fBinary.empty() || !fQuantitative.empty()) {
    result.Seeded = true;
    result.RandomAfter = random;
  }
  result.Columns = row.Text();
  return result;
}

} // namespace stravex
