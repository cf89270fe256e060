// Sequence bootstrap: every individual's movements resampled as random walks
// whose steps take the lengths of its real segments and random directions.
#include "Analyses.h"

#include "CostPathDecl.h"
#include "Errors.h"
#include "PathScan.h"
#include "PopulationFile.h"
#include "RandomFunctions.h"
#include "Raster.h"
#include "ReportWriter.h"
#include "RunSupport.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace stravex {

namespace {

// One pass of the walk loop over an individual.
struct tVisit {
  std::size_t Start = 0; // k on arrival: the walk's start location, also the progress mark
  std::size_t Next = 0;  // first location after the individual
  uint32_t ID = 0;
  tVectorOfDouble StepLengths; // lengths of the retained segments, in file order
};

// The individuals as the walk loop meets them. The start is the location
// after the individual's first one; an individual of one location therefore
// looks at the next individual's first location, finds no segment and gets
// no steps, and a single location at the very end is never reached.
std::vector<tVisit> WalkVisits(const tLocations& locs, double threshold) {
  std::vector<tVisit> visits;
  const std::size_t n = locs.size();
  if (n < 2) return visits;
  std::size_t k = 1;
  for (;;) {
    tVisit v;
    v.Start = k;
    while (k <= n - 1 && locs[k - 1].ID == locs[k].ID) {
      // A segment going back in time is never retained: the threshold is not negative.
      if (locs[k].Time - locs[k - 1].Time >= threshold) {
        const double dx = locs[k].X - locs[k - 1].X, dy = locs[k].Y - locs[k - 1].Y;
        v.StepLengths.push_back(std::sqrt(dx * dx + dy * dy));
      }
      ++k;
    }
    v.ID = locs[k - 1].ID;
    v.Next = k;
    visits.push_back(std::move(v));
    ++k;
    if (k >= n) break;
  }
  return visits;
}

// Seed index of the least-cost scans of a walk step, (k + 10) x r, checked.
int32_t StepSeedIndex(std::size_t k, int32_t replicate) {
  const int64_t v = (static_cast<int64_t>(k) + 10) * replicate;
  if (v > INT32_MAX) throw EIntOverflow("Integer overflow");
  return static_cast<int32_t>(v);
}

// Every walk starts on a real location: one off the friction map would make
// the first search fail, so the run stops before any file is made. Later
// step ends are random and may still leave the map.
std::vector<std::size_t> WalkStarts(const std::vector<tVisit>& visits) {
  std::vector<std::size_t> starts;
  for (const tVisit& v : visits)
    if (!v.StepLengths.empty()) starts.push_back(v.Start);
  return starts;
}

// The reports of the walks, and the scanner of their steps.
class tWalker {
public:
  tWalker(tRun& run, const tLocations& locs, const tMatrixOfSingle* friction,
          const tRaster* frictionMap)
      : fRun(run), fSettings(run.Settings()), fLocs(locs),
        fScanner(run.Maps(), MakeScanOptions(fSettings, true, friction, nullptr, frictionMap)) {}

  tRunOutcome Run(const std::vector<tVisit>& visits) {
    fReport = fRun.CreateReport("Bootstraps.txt");
    if (fSettings.DistanceDistribution) fDistances = fRun.CreateReport("Distances.txt");
    fReport->WriteLine("ID\tReplicate\tX1\tY1\tT1\tX2\tY2\tT2\tLength\tTime" +
                       fScanner.HeaderColumns());
    for (const tVisit& v : visits) {
      fRun.Log().Progress(ProgressPercent(v.Start, fLocs.size()));
      if (fDistances) WriteDistances(v);
      if (!Walk(v)) return tRunOutcome::Cancelled;
    }
    fReport->Close();
    if (fDistances) fDistances->Close();
    return tRunOutcome::Completed;
  }

private:
  void WriteDistances(const tVisit& v) {
    tReportRow line;
    line.AddInt(v.ID);
    for (double length : v.StepLengths) line.AddTab().AddReal(length);
    fDistances->WriteRow(line);
  }

  // The replicates of one individual; false when the run was cancelled.
  bool Walk(const tVisit& v) {
    const std::size_t steps = v.StepLengths.size();
    if (steps == 0) return true;
    if (steps > static_cast<std::size_t>(INT32_MAX))
      RaiseRangeCheck("number of steps", static_cast<long long>(steps), 0, INT32_MAX);
    const auto drawRange = static_cast<int32_t>(steps);
    const bool leastCost = fSettings.Connectivity == caLeastCostPath;
    const tLocation& start = fLocs[v.Start];
    for (int32_t r = 1; r <= fSettings.Bootstraps; ++r) {
      double x = start.X, y = start.Y;
      for (std::size_t step = 1; step <= steps; ++step) {
        // The length is drawn before the direction.
        const double length = v.StepLengths[static_cast<std::size_t>(RandomInt(drawRange))];
        const double theta = RandomUniform() * 2 * std::numbers::pi;
        const double x2 = x + length * std::cos(theta);
        const double y2 = y + length * std::sin(theta);
        const int32_t seedIndex = leastCost ? StepSeedIndex(v.Next, r) : 0;
        // Least-cost scans re-seed the run's generator; the next draws go on
        // from the state they leave.
        const tPathScanResult scan = fScanner.Scan(x, y, x2, y2, seedIndex);
        tReportRow row;
        row.AddInt(v.ID)
            .AddTab()
            .AddInt(r)
            .AddTab()
            .AddReal(x)
            .AddTab()
            .AddReal(y)
            .AddTab()
            .AddInt(static_cast<int64_t>(step) - 1)
            .AddTab()
            .AddReal(x2)
            .AddTab()
            .AddReal(y2)
            .AddTab()
            .AddInt(static_cast<int64_t>(step))
            .AddTab()
            .AddReal(length)
            .AddText("\t1")
            .AddText(scan.Columns);
        fReport->WriteRow(row);
        x = x2;
        y = y2;
        if (fRun.CancelPending()) return false;
      }
    }
    return true;
  }

  tRun& fRun;
  const TAnalysisSettings& fSettings;
  const tLocations& fLocs;
  const tPathScanner fScanner;
  std::unique_ptr<tReportFile> fReport, fDistances;
};

} // namespace

tRunResult SequenceBootstrap(tAnalysisContext& ctx, const tLocationSequence& sequence) {
  return RunAnalysis(ctx, [&sequence](tRun& run) {
    LogSequenceBanner(run);
    const std::unique_ptr<tRaster> friction = OpenSequenceAlgorithm(run);
    const double threshold = LogIgnoreThreshold(run);
    run.Log().Log("Bootstrapping sequences");
    RequireLocations(sequence);
    const tLocations& locs = sequence.Locations;
    const std::vector<tVisit> visits = WalkVisits(locs, threshold);
    const bool hasPathMaps = !run.Maps().BinaryMaps.empty() || !run.Maps().QuantitativeMaps.empty();
    tMatrixOfSingle frictionCells;
    if (friction && hasPathMaps) {
      if (run.Settings().Bootstraps >= 1)
        RefuseOffMapLocations(locs, WalkStarts(visits), *friction, run.Log());
      friction->ReadSingleMatrix(frictionCells);
    }
    run.Log().TaskLabel("Bootstrapping");
    return tWalker(run, locs, friction ? &frictionCells : nullptr, friction.get()).Run(visits);
  });
}

} // namespace stravex
