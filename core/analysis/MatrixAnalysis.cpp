// The population matrix analysis: one report row per pair of sample points,
// with the map statistics along the path between them (strips or least-cost
// paths), optional Delaunay links and an optional corridor map.
#include "Analyses.h"

#include "Corridor.h"
#include "CostPathDecl.h"
#include "Delaunay.h"
#include "Errors.h"
#include "IdrisiEnv.h"
#include "OrderedRunner.h"
#include "PathScan.h"
#include "PopulationFile.h"
#include "RandomFunctions.h"
#include "Raster.h"
#include "ReportWriter.h"
#include "RunSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace stravex {

namespace {

const char* const kMatrixReport = "MatrixAnalysis.txt";
const char* const kFixedColumns = "PopID1\tX1\tY1\tPopID2\tX2\tY2\tGenDist\tGsig\tGeoDist";

// Pairs in visiting order: (i, j) for i < j, or, when ordered, every j != i.
// The index of a pair maps back to (i, j) without listing all pairs.
class tPairOrder {
public:
  tPairOrder(int32_t n, bool ordered) : fOrdered(ordered) {
    fRowStart.assign(static_cast<std::size_t>(std::max(n, 0)) + 1, 0);
    for (int32_t i = 0; i < n; ++i) {
      const uint64_t perRow = static_cast<uint64_t>(ordered ? n - 1 : n - 1 - i);
      fRowStart[static_cast<std::size_t>(i) + 1] = fRowStart[static_cast<std::size_t>(i)] + perRow;
    }
  }
  uint64_t Count() const { return fRowStart.back(); }
  void Pair(uint64_t k, int32_t& i, int32_t& j) const {
    const auto it = std::upper_bound(fRowStart.begin(), fRowStart.end(), k);
    i = static_cast<int32_t>(it - fRowStart.begin()) - 1;
    const auto offset = static_cast<int32_t>(k - fRowStart[static_cast<std::size_t>(i)]);
    if (fOrdered)
      j = offset < i ? offset : offset + 1;
    else
      j = i + 1 + offset;
  }

private:
  bool fOrdered;
  std::vector<uint64_t> fRowStart;
};

// Adjacency of the sample points in their Delaunay triangulation. Without a
// triangle (fewer than three distinct points) no pair is linked.
tMatrixOfBoolean ComputeDelaunayLinks(const t2DPoints& points) {
  tMatrixOfBoolean links;
  tDelaunay delaunay;
  delaunay.AddPoints(points);
  delaunay.Triangulate();
  delaunay.GetAdjacency(links);
  return links;
}

bool Linked(const tMatrixOfBoolean& links, int32_t i, int32_t j) {
  const auto a = static_cast<std::size_t>(i);
  const auto b = static_cast<std::size_t>(j);
  return a < links.size() && b < links[a].size() && links[a][b];
}

std::string PairCorridorName(const std::string& base, int32_t i, int32_t j) {
  char numbers[32];  // "_-2147483648_-2147483648" at the longest
  std::snprintf(numbers, sizeof numbers, "_%.3d_%.3d", i + 1, j + 1);
  return base + numbers;
}

// One computed pair; skipped pairs (Delaunay restriction, distance) carry no row.
struct tPairRow {
  bool Skipped = true;
  int32_t I = 0, J = 0;
  std::string Text;
  tPathScanResult Scan;
};

void LogBanner(tAnalysisContext& ctx) {
  const TAnalysisSettings& s = ctx.Settings;
  tReporter& log = ctx.Reporter;
  LogLines(log, {"", "       ******************************",
                 "******** Population matrix analysis **********",
                 "       ******************************", "", "Ecological maps:"});
  LogLines(log, LabelledNameLines("- Binary:\t", MapNames(ctx.Maps.BinaryMaps)));
  LogLines(log, LabelledNameLines("- Quantitative:\t", MapNames(ctx.Maps.QuantitativeMaps)));
  log.Log("- Topographical:\t" +
          (ctx.Maps.TopographyMap ? ctx.Maps.TopographyMap->MapName() : std::string()));
  log.Log("Population matrix file:\t" + s.DataFile);
}

} // namespace

tRunOutcome PopulationMatrixAnalysis(tAnalysisContext& ctx) {
  tRunGuard guard(ctx);
  const TAnalysisSettings& s = ctx.Settings;
  s.Validate();
  tMapSet& maps = ctx.Maps;
  maps.BuildMapList();

  LogBanner(ctx);

  // Least-cost set-up: what the run opens it also releases, on every way out.
  const bool leastCost = s.Connectivity == caLeastCostPath;
  std::unique_ptr<tRaster> friction;
  tMatrixOfSingle frictionCells;
  std::unique_ptr<tCorridorMap> corridor;
  tPathScanOptions options;
  options.Connectivity = s.Connectivity;
  options.PathWidth = s.PathWidth;
  switch (s.Connectivity) {
  case caFixedWidthStrip: ctx.Reporter.Log("Algorithm: fixed-width strip"); break;
  case caRatioStrip: ctx.Reporter.Log("Algorithm: ratio strip"); break;
  case caLeastCostPath: {
    friction = std::make_unique<tRaster>(RunPath(ctx, s.FrictionMapFile));
    friction->ReadSingleMatrix(frictionCells);
    options.Friction = &frictionCells;
    options.Seed = s.Seed;
    options.Minimise = s.Minimise;
    options.FrictionWeight = s.FrictionWeightValue();
    options.LengthWeight = s.LengthWeightValue(false);
    if (s.Direction != 0) {
      options.Dem = maps.TopographyMap.get();
      options.Direction = s.Direction;
      options.Tolerance = s.ElevationToleranceValue();
    }
    const std::string& criterion = MinimiseCriteria[static_cast<std::size_t>(s.Minimise)];
    if (!s.CorridorMapName.empty()) {
      corridor = CreateCorridorMap(*friction, RunPath(ctx, s.CorridorMapName));
      tStringList& notes = corridor->Raster().Comments;
      notes.push_back("Friction map: " + s.FrictionMapFile);
      notes.push_back("Topo map: " +
                      (maps.TopographyMap ? maps.TopographyMap->MapName() : std::string()));
      notes.push_back("Algorithm: least cost path");
      notes.push_back("Number of paths: " + std::to_string(s.PathWidth));
      notes.push_back("Minimization criterion: " + criterion);
      notes.push_back("Friction weight: " + s.FrictionWeight);
      notes.push_back("Length weight: " + s.LengthWeight);
      notes.push_back("Distance threshold: " + std::to_string(s.PairDistanceThreshold));
      notes.push_back("Elevation tolerance: " + s.ElevationTolerance);
      if (!s.OneMapPerPair) corridor->FillZero();
    }
    ctx.Reporter.Log("Algorithm: least cost path");
    ctx.Reporter.Log("Minimization criterion: " + criterion);
    break;
  }
  }
  const bool ordered = leastCost && maps.TopographyMap && s.Direction != 0;

  // The reader needs a settings record of its own: it clears SignificantOnly
  // and reads the data file from the run's folder.
  TAnalysisSettings readerSettings = s;
  readerSettings.DataFile = RunPath(ctx, s.DataFile);
  tPopulationData data;
  tPointFilter onFriction;
  if (friction) {
    // A point off the friction grid would stop the run midway with a search
    // error; it is refused before any path is computed.
    const tRaster& grid = *friction;
    onFriction = [&grid](double x, double y) { return PointOnGrid(grid, x, y); };
  }
  ReadPopulationFile(readerSettings, data, ctx.Reporter, onFriction);
  const int32_t n = static_cast<int32_t>(data.SamplePoints.size());

  tMatrixOfBoolean links;
  if (s.DelaunayUse == duInclude || s.DelaunayUse == duRestrict)
    links = ComputeDelaunayLinks(data.SamplePoints);

  const tPathScanner scanner(maps, options);

  ctx.Reporter.TaskLabel("Analysing paths");
  tReportFile report(RunReportPath(ctx, kMatrixReport));
  const tPairOrder pairs(n, ordered);
  const uint64_t pairsTotal = pairs.Count();
  uint64_t pairsDone = 0;
  std::string header = kFixedColumns;
  if (s.DelaunayUse == duInclude) header += "\tDelaunay";
  header += scanner.HeaderColumns();
  report.WriteLine(header);

  const bool hasBinary = !maps.BinaryMaps.empty();
  const double threshold = s.PairDistanceThreshold;

  const std::function<tPairRow(std::size_t)> compute = [&](std::size_t k) {
    tPairRow r;
    pairs.Pair(k, r.I, r.J);
    const int32_t i = r.I, j = r.J;
    if (s.DelaunayUse == duRestrict && !Linked(links, i, j)) return r;
    const t2DPoint& a = data.SamplePoints[static_cast<std::size_t>(i)];
    const t2DPoint& b = data.SamplePoints[static_cast<std::size_t>(j)];
    const double dx = a.x - b.x, dy = a.y - b.y;
    const double d = std::sqrt(dx * dx + dy * dy);
    if (d > threshold) return r;  // a pair exactly at the threshold is kept
    r.Skipped = false;
    tReportRow row;
    row.AddInt(i).AddTab().AddReal(a.x).AddTab().AddReal(a.y).AddTab().AddInt(j).AddTab()
        .AddReal(b.x).AddTab().AddReal(b.y).AddTab()
        .AddReal(data.GeneticDistance[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)])
        .AddTab()
        .AddReal(data.Significance[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)])
        .AddTab().AddReal(d);
    if (s.DelaunayUse == duInclude) row.AddTab().AddInt(Linked(links, i, j) ? 1 : 0);
    r.Scan = scanner.Scan(a.x, a.y, b.x, b.y, i);
    row.AddText(r.Scan.Columns);
    r.Text = row.Text();
    return r;
  };

  bool cancelled = false;
  const std::function<bool(std::size_t, tPairRow&)> consume = [&](std::size_t, tPairRow& r) {
    if (r.Skipped) return true;  // no row, no progress, no cancel check
    if (corridor) {
      if (s.OneMapPerPair) {
        tLiveRaster& map = corridor->Raster();
        map.FileName = PairCorridorName(RunPath(ctx, s.CorridorMapName), r.I, r.J);
        map.MinValue = 0;
        map.MaxValue = 1;
        corridor->FillZero();
      }
      if (hasBinary) {
        for (const t2DiPoints& path : r.Scan.BinaryPaths) corridor->AddPath(path);
        corridor->WriteDoc();
        // No search of the pair found a path: its map is not kept.
        if (s.OneMapPerPair && r.Scan.BinaryLengthSum == 0) DeleteMap(corridor->Raster().FileName);
      }
    }
    if (r.Scan.Seeded) CurrentRandom() = r.Scan.RandomAfter;
    report.WriteLine(r.Text);
    ++pairsDone;
    ctx.Reporter.Progress(ProgressPercent(pairsDone, pairsTotal));
    if (CancelPending(ctx)) {
      cancelled = true;
      return false;
    }
    return true;
  };

  RunOrdered<tPairRow>(static_cast<std::size_t>(pairsTotal), ctx.Threads, compute, consume);
  report.Close();
  return cancelled ? tRunOutcome::Cancelled : tRunOutcome::Completed;
}

} // namespace stravex
