// Sequence analysis: one report row per segment between two consecutive
// locations of the same individual, with the map blocks of the path along it.
#include "Analyses.h"

#include "Corridor.h"
#include "CostPathDecl.h"
#include "Errors.h"
#include "OrderedRunner.h"
#include "PathScan.h"
#include "PopulationFile.h"
#include "RandomFunctions.h"
#include "Raster.h"
#include "ReportWriter.h"
#include "RunSupport.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace stravex {

namespace {

std::string CriterionName(int32_t minimise) {
  if (minimise < 0 || minimise >= static_cast<int32_t>(MinimiseCriteria.size()))
    throw ERangeError("Range check error");
  return MinimiseCriteria[static_cast<std::size_t>(minimise)];
}

double SegmentLength(const tLocation& a, const tLocation& b) {
  const double dx = b.X - a.X, dy = b.Y - a.Y;
  return std::sqrt(dx * dx + dy * dy);
}

// The least-cost search cannot start or end off the friction map. Every
// location that will be a path end is checked before the first path, so a run
// stops at once instead of midway with a search error. Checking stops at the
// first segment that goes back in time: the run ends there anyway.
void CheckLocationsOnMap(const tLocations& locs, double threshold, const tRaster& friction,
                         tReporter& reporter) {
  std::vector<bool> isEnd(locs.size(), false);
  for (std::size_t i = 1; i < locs.size(); ++i) {
    if (locs[i - 1].ID != locs[i].ID) continue;
    const double t = locs[i].Time - locs[i - 1].Time;
    if (t < 0) break;
    if (t >= threshold) isEnd[i - 1] = isEnd[i] = true;
  }
  bool outside = false;
  for (std::size_t i = 0; i < locs.size(); ++i) {
    if (!isEnd[i] || PointOnGrid(friction, locs[i].X, locs[i].Y)) continue;
    reporter.Log("Location " + std::to_string(i) + "\t" + FormatPoint(locs[i].X, locs[i].Y) +
                 kOutsidePointSuffix);
    outside = true;
  }
  if (outside) throw EInOutError(kOutsidePointsError);
}

struct tSegmentResult {
  bool Written = false;
  std::string Text;
  std::vector<t2DiPoints> Paths;
  bool Seeded = false;
  tRandomGenerator RandomAfter;
};

} // namespace

tRunOutcome SequenceAnalysis(tAnalysisContext& ctx, const tLocationSequence& sequence) {
  tRunGuard guard(ctx);
  const TAnalysisSettings& s = ctx.Settings;
  tReporter& log = ctx.Reporter;

  LogSequenceBanner(ctx);

  const bool leastCost = s.Connectivity == caLeastCostPath;
  const std::unique_ptr<tRaster> friction = OpenSequenceAlgorithm(ctx);
  std::unique_ptr<tCorridorMap> corridor;
  if (leastCost) {
    if (!s.CorridorMapName.empty()) {
      // Written at once, all 0, even when the run stops before its first path.
      corridor = CreateCorridorMap(*friction, RunPath(ctx, s.CorridorMapName));
      corridor->FillZero();
    }
    log.Log("Minimization criterion: " + CriterionName(s.Minimise));
  }

  const double threshold = LogIgnoreThreshold(ctx);

  if (!sequence.LocationsLoaded) {
    log.ErrorBox(kBadSequenceFile);
    return tRunOutcome::Completed;
  }
  const tLocations& locs = sequence.Locations;
  const bool hasPathMaps = !ctx.Maps.BinaryMaps.empty() || !ctx.Maps.QuantitativeMaps.empty();
  if (leastCost && hasPathMaps) CheckLocationsOnMap(locs, threshold, *friction, log);

  log.TaskLabel("Analysing paths");
  tReportFile report(RunReportPath(ctx, "SequenceAnalysis.txt"));

  tPathScanOptions options;
  options.Connectivity = s.Connectivity;
  options.PathWidth = s.PathWidth;
  options.Seed = s.Seed;
  options.Minimise = s.Minimise;
  options.FrictionWeight = s.FrictionWeightValue();
  options.LengthWeight = s.LengthWeightValue(true);
  // The topography map is no constraint here: no dem, both ways, tolerance 0.
  tMatrixOfSingle frictionCells;
  if (leastCost) {
    if (hasPathMaps) friction->ReadSingleMatrix(frictionCells);
    options.Friction = &frictionCells;
  }
  const tPathScanner scanner(ctx.Maps, options);
  report.WriteLine("ID\tX1\tY1\tT1\tX2\tY2\tT2\tLength\tTime" + scanner.HeaderColumns());

  const std::size_t n = locs.size();
  // Location numbers are the seed index of the least-cost scans.
  if (n > static_cast<std::size_t>(INT32_MAX)) throw ERangeError("Range check error");
  if (n < 2) {
    report.Close();
    return tRunOutcome::Completed;
  }

  // Item k is the location i = k + 1 and the segment that ends there, if any.
  auto compute = [&](std::size_t k) {
    const std::size_t i = k + 1;
    tSegmentResult result;
    const tLocation& a = locs[i - 1];
    const tLocation& b = locs[i];
    if (a.ID != b.ID) return result;
    const double duration = b.Time - a.Time;
    if (duration < 0)
      throw EInOutError("Location " + std::to_string(i) + " is antedates the previous location");
    if (duration < threshold) return result;
    tPathScanResult scan = scanner.Scan(a.X, a.Y, b.X, b.Y, static_cast<int32_t>(i));
    tReportRow row;
    row.AddInt(b.ID).AddTab().AddReal(a.X).AddTab().AddReal(a.Y).AddTab().AddReal(a.Time)
        .AddTab().AddReal(b.X).AddTab().AddReal(b.Y).AddTab().AddReal(b.Time).AddTab()
        .AddReal(SegmentLength(a, b)).AddTab().AddReal(duration).AddText(scan.Columns);
    result.Written = true;
    result.Text = row.Text();
    result.Paths = std::move(scan.BinaryPaths);
    result.Seeded = scan.Seeded;
    result.RandomAfter = scan.RandomAfter;
    return result;
  };

  bool cancelled = false;
  auto consume = [&](std::size_t k, tSegmentResult& result) {
    if (result.Written) {
      // A scan on a worker left that worker's generator; this thread's goes on
      // from there, as if it had scanned the row itself.
      if (result.Seeded) CurrentRandom() = result.RandomAfter;
      // The paths reach the corridor map before their row reaches the report,
      // as when the binary scan adds them itself.
      if (corridor) {
        bool added = false;
        for (const t2DiPoints& path : result.Paths) {
          if (path.empty()) continue;
          corridor->AddPath(path);
          added = true;
        }
        if (added) corridor->WriteDoc();
      }
      report.WriteLine(result.Text);
    }
    log.Progress(ProgressPercent(k + 1, n));
    if (CancelPending(ctx)) {
      cancelled = true;
      return false;
    }
    return true;
  };

  RunOrdered<tSegmentResult>(n - 1, ctx.Threads, compute, consume);
  report.Close();
  return cancelled ? tRunOutcome::Cancelled : tRunOutcome::Completed;
}

} // namespace stravex
