// Sequence bootstrap: every individual's movements resampled as random walks
// whose steps take the lengths of its real segments and random directions.
#include "analysis/Analyses.h"

#include "analysis/PathScan.h"
#include "analysis/PointGrids.h"
#include "analysis/PopulationFile.h"
#include "analysis/ReportWriter.h"
#include "analysis/RunSupport.h"
#include "base/Errors.h"
#include "base/RandomFunctions.h"
#include "paths/CostPathDecl.h"
#include "raster/Raster.h"

#include <algorithm>
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
// step ends are kept on the map by the walker.
std::vector<std::size_t> WalkStarts(const std::vector<tVisit>& visits) {
  std::vector<std::size_t> starts;
  for (const tVisit& v : visits)
    if (!v.StepLengths.empty()) starts.push_back(v.Start);
  return starts;
}

// New directions a step may take after its first before its walk is given
// up. Only a step barely shorter than the farthest reach, whose arc of
// directions ending on the map is vanishingly narrow, comes near it; the
// bound keeps such a step from drawing without end, and being a count of
// draws it keeps the walk the same for the same generator state.
constexpr int kMaxRedraws = 10000;

// Beyond this distance from (x, y) no step ends on the map: the distance to
// the farthest corner of the map's extent grown by one cell, so that the
// test holds however points are rounded to cells. From a point on the map
// every shorter step ends on it in some direction, up to the sliver the
// margin adds, which the redraw bound settles.
double FarthestReach(const tRaster& map, double x, double y) {
  const long double w = std::fabs(map.CellWidth), h = std::fabs(map.CellHeight);
  const long double dx = std::max(std::fabs(x - (map.MinX - w)), std::fabs(map.MaxX + w - x));
  const long double dy = std::max(std::fabs(y - (map.MinY - h)), std::fabs(map.MaxY + h - y));
  return static_cast<double>(std::hypot(dx, dy));
}

// The map columns of a least-cost search that finds no path: no cells,
// length 0, cost -1, and -1 for the quantitative statistics.
std::string NoPathColumns(const tMapSet& maps) {
  tReportRow row;
  for (std::size_t m = 0; m < maps.BinaryMaps.size(); ++m)
    row.AddTab().AddInt(0).AddTab().AddInt(0).AddTab().AddReal(0.0).AddTab().AddReal(-1.0);
  for (std::size_t m = 0; m < maps.QuantitativeMaps.size(); ++m) {
    row.AddTab().AddReal(-1.0).AddTab().AddReal(-1.0).AddTab().AddReal(-1.0);
    row.AddTab().AddInt(0).AddTab().AddReal(0.0).AddTab().AddReal(-1.0);
  }
  return row.Text();
}

// The reports of the walks, and the scanner of their steps. Walks whose
// steps are searched (confine: the friction map) stay on that map, since a
// search cannot end off it; strip walks go anywhere.
class tWalker {
public:
  tWalker(tRun& run, const tLocations& locs, tMatrixOfSingle* friction, const tRaster* frictionMap,
          const tRaster* confine)
      : fRun(run), fSettings(run.Settings()), fLocs(locs),
        fScanner(run.Maps(), MakeScanOptions(fSettings, true, friction, nullptr, frictionMap),
                 friction),
        fFriction(frictionMap), fConfine(confine),
        fNoPath(confine ? NoPathColumns(run.Maps()) : std::string()) {}

  tRunOutcome Run(const std::vector<tVisit>& visits) {
    tOutputPlan outputs;
    outputs.Files.push_back({"report", fRun.ReportPath("Bootstraps.txt")});
    if (fSettings.DistanceDistribution)
      outputs.Files.push_back({"distances report", fRun.ReportPath("Distances.txt")});
    fRun.ClaimOutputs(std::move(outputs), fFriction);
    fReport = fRun.CreateReport("Bootstraps.txt");
    if (fSettings.DistanceDistribution) fDistances = fRun.CreateReport("Distances.txt");
    fReport->WriteLine("ID\tReplicate\tX1\tY1\tT1\tX2\tY2\tT2\tLength\tTime" +
                       fScanner.HeaderColumns());
    for (const tVisit& v : visits)
      if (!v.StepLengths.empty()) fWalks += static_cast<uint64_t>(fSettings.Bootstraps);
    fRun.Log().Items(0, fWalks);
    for (const tVisit& v : visits) {
      fRun.Log().Progress(ProgressPercent(v.Start, fLocs.size()));
      if (fDistances) WriteDistances(v);
      if (!Walk(v)) {
        LogConfinement();
        return tRunOutcome::Cancelled;
      }
    }
    fReport->Close();
    if (fDistances) fDistances->Close();
    LogConfinement();
    return tRunOutcome::Completed;
  }

private:
  // Silent for walks that never left the map, so that their logs stay as they were.
  void LogConfinement() {
    if (fRedrawnSteps == 0 && fEndedWalks == 0) return;
    fRun.Log().Log("Off-map walk steps drawn again: " + std::to_string(fRedrawnSteps) +
                   "; walks ended early: " + std::to_string(fEndedWalks));
  }

  // A step of the given length from (x, y) whose end (x2, y2) fell off the
  // map: new directions are drawn until one ends on it. False when none can,
  // or none did within the bound; (x2, y2) is then the end of the last
  // direction drawn.
  bool RedrawOnMap(double x, double y, double length, double& x2, double& y2) const {
    if (length > FarthestReach(*fConfine, x, y)) return false;
    for (int redraw = 0; redraw < kMaxRedraws; ++redraw) {
      const double theta = fRun.Random().Uniform() * 2 * std::numbers::pi;
      x2 = x + length * std::cos(theta);
      y2 = y + length * std::sin(theta);
      if (PointOnGrid(*fConfine, x2, y2)) return true;
    }
    return false;
  }

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
        const double length = v.StepLengths[static_cast<std::size_t>(fRun.Random().Int(drawRange))];
        const double theta = fRun.Random().Uniform() * 2 * std::numbers::pi;
        double x2 = x + length * std::cos(theta);
        double y2 = y + length * std::sin(theta);
        // A step off the map takes new directions, drawn after the first, and
        // keeps its length. One that cannot end on the map ends the walk: its
        // row is that of a search without a path, its end the last one drawn
        // (off the map), and the walk's later steps are not written.
        bool ends = false;
        if (fConfine && !PointOnGrid(*fConfine, x2, y2)) {
          ends = !RedrawOnMap(x, y, length, x2, y2);
          if (ends)
            ++fEndedWalks;
          else
            ++fRedrawnSteps;
        }
        const int32_t seedIndex = leastCost ? StepSeedIndex(v.Next, r) : 0;
        // Least-cost scans re-seed the run's generator; the next draws go on
        // from the state they leave.
        std::string columns;
        try {
          columns = ends ? fNoPath : fScanner.Scan(x, y, x2, y2, seedIndex, fRun.Random()).Columns;
        } catch (const EAssertionFailed& e) {
          RaiseInContext(e, "individual " + std::to_string(v.ID) + ", replicate " +
                                std::to_string(r) + ", step " + std::to_string(step) + ": " +
                                PointText(x, y) + " to " + PointText(x2, y2));
        }
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
            .AddText(columns);
        fReport->WriteRow(row);
        x = x2;
        y = y2;
        if (fRun.CancelPending()) return false;
        if (ends) break;
      }
      fRun.Log().Items(++fWalksDone, fWalks);
    }
    return true;
  }

  tRun& fRun;
  const TAnalysisSettings& fSettings;
  const tLocations& fLocs;
  const tPathScanner fScanner;
  const tRaster* fFriction;
  const tRaster* fConfine;
  const std::string fNoPath;
  uint64_t fRedrawnSteps = 0, fEndedWalks = 0;
  uint64_t fWalks = 0, fWalksDone = 0; // replicates of every individual with steps
  std::unique_ptr<tReportFile> fReport, fDistances;
};

} // namespace

tRunResult SequenceBootstrap(tAnalysisContext& ctx, const tLocationSequence& sequence) {
  return RunAnalysis(ctx, [&sequence](tRun& run) {
    LogSequenceBanner(run);
    const std::unique_ptr<tRaster> friction = OpenSequenceAlgorithm(run);
    const double threshold = LogIgnoreThreshold(run);
    run.LogSettings(tAnalysisKind::Bootstrap);
    run.Log().Log("Bootstrapping sequences");
    RequireLocations(sequence);
    const tLocations& locs = sequence.Locations;
    const std::vector<tVisit> visits = WalkVisits(locs, threshold);
    const bool hasPathMaps = !run.Maps().BinaryMaps.empty() || !run.Maps().QuantitativeMaps.empty();
    const bool searched = friction && hasPathMaps;
    // Walks start where an animal was seen; a strip walk's later steps may
    // leave the map.
    if (run.Settings().Bootstraps >= 1 && (searched || !friction))
      RefuseOffMapLocations(locs, WalkStarts(visits), PointGrids(run.Maps(), friction.get()),
                            run.Log());
    tMatrixOfSingle frictionCells;
    if (searched) friction->ReadSingleMatrix(frictionCells);
    run.Log().TaskLabel("Bootstrapping");
    // Only searched steps are kept on the map: without binary or quantitative
    // maps nothing is searched and the walks go where they are drawn.
    const tRaster* confine = searched ? friction.get() : nullptr;
    return tWalker(run, locs, friction ? &frictionCells : nullptr, friction.get(), confine)
        .Run(visits);
  });
}

} // namespace stravex
