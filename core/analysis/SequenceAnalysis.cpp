// Sequence analysis: one report row per segment between two consecutive
// locations of the same individual, with the map blocks of the path along it.
#include "analysis/Analyses.h"

#include "analysis/OrderedRunner.h"
#include "analysis/OutputCheck.h"
#include "analysis/PathScan.h"
#include "analysis/PointGrids.h"
#include "analysis/PopulationFile.h"
#include "analysis/ReportWriter.h"
#include "analysis/RunJournal.h"
#include "analysis/RunSupport.h"
#include "base/Errors.h"
#include "base/RandomFunctions.h"
#include "paths/Corridor.h"
#include "paths/CostPathDecl.h"
#include "raster/GdalMap.h"
#include "raster/Raster.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace stravex {

namespace {

const char* const kSequenceReport = "SequenceAnalysis.txt";

double SegmentLength(const tLocation& a, const tLocation& b) {
  const double dx = b.X - a.X, dy = b.Y - a.Y;
  return std::sqrt(dx * dx + dy * dy);
}

// Every location that will be a path end. Listing stops at the first
// segment that goes back in time: the run ends there anyway.
std::vector<std::size_t> PathEnds(const tLocations& locs, double threshold) {
  std::vector<bool> isEnd(locs.size(), false);
  for (std::size_t i = 1; i < locs.size(); ++i) {
    if (locs[i - 1].ID != locs[i].ID) continue;
    const double t = locs[i].Time - locs[i - 1].Time;
    if (t < 0) break;
    if (t >= threshold) isEnd[i - 1] = isEnd[i] = true;
  }
  std::vector<std::size_t> ends;
  for (std::size_t i = 0; i < locs.size(); ++i)
    if (isEnd[i]) ends.push_back(i);
  return ends;
}

struct tSegmentResult {
  bool Written = false;
  std::string Text;
  std::vector<t2DiPoints> Paths;
  bool Seeded = false;
  tRandomGenerator RandomAfter;
};

// What a least-cost sequence run opens; released on every way out.
struct tSequenceSetup {
  std::unique_ptr<tRaster> Friction;
  std::unique_ptr<tCorridorMap> Corridor;
  tMatrixOfSingle FrictionCells;
};

// Logs the algorithm and, for least-cost paths, opens the friction map and
// prepares the corridor map. Nothing is written yet: the run may still be
// refused.
tSequenceSetup SetUpAlgorithm(tRun& run) {
  const TAnalysisSettings& s = run.Settings();
  tSequenceSetup setup;
  setup.Friction = OpenSequenceAlgorithm(run);
  if (!setup.Friction) return setup;
  if (!s.CorridorMapName.empty()) {
    setup.Corridor = CreateCorridorMap(*setup.Friction, run.CorridorPath());
    setup.Corridor->Raster().Reporter = &run.Log();
  }
  run.Log().Log("Minimization criterion: " + CriterionName(s.Minimise));
  return setup;
}

bool HasPathMaps(const tMapSet& maps) {
  return !maps.BinaryMaps.empty() || !maps.QuantitativeMaps.empty();
}

// Computes the segments on the run's threads and writes their rows in order.
class tSegmentLoop {
public:
  tSegmentLoop(tRun& run, tSequenceSetup& setup, const tLocations& locs, double threshold,
               bool resuming)
      : fRun(run), fSetup(setup), fLocs(locs), fThreshold(threshold), fResuming(resuming),
        fScanner(run.Maps(),
                 MakeScanOptions(run.Settings(), true,
                                 setup.Friction ? &setup.FrictionCells : nullptr, nullptr,
                                 setup.Friction.get()),
                 &setup.FrictionCells) {}

  tRunOutcome Run() {
    const std::string header = "ID\tX1\tY1\tT1\tX2\tY2\tT2\tLength\tTime" +
                               fScanner.HeaderColumns();
    const TAnalysisSettings& s = fRun.Settings();
    const std::string reportPath = fRun.ReportPath(kSequenceReport);
    const std::string dataFile = fRun.Path(s.DataFile);
    fJournal = std::make_unique<tRunJournal>(
        reportPath, RunSettingsLines(s, fRun.Maps(), dataFile, fSetup.Friction.get()),
        RunInputPaths(fRun.Maps(), dataFile, fSetup.Friction.get()));
    const std::size_t n = fLocs.size();
    // Location numbers are the seed index of the least-cost scans.
    if (n > static_cast<std::size_t>(INT32_MAX))
      RaiseRangeCheck("number of locations", static_cast<long long>(n), 0, INT32_MAX);
    if (fRun.Shard()) SelectShardSegments(*fRun.Shard());
    // Location i is item i - 1: the segment that ends there, if any; a
    // shard's items are its segments.
    std::size_t first = fRun.Shard() ? 0 : 1;
    // Nothing is written before every output is known to be writable, to
    // replace no input, to be this run's alone, and a resumed report is
    // checked against its journal.
    fRun.ClaimOutputs(Outputs(reportPath), fSetup.Friction.get());
    tKeptReport kept;
    if (fResuming) first = CheckResume(reportPath, header, kept);
    if (fRun.CheckResumeOnly()) return tRunOutcome::Completed;
    OpenCorridor();
    if (fResuming) {
      Continue(kept, first);
      if (kept.Bytes == 0) fReport->WriteLine(header);
    } else {
      if (fRun.KeepsJournal()) fJournal->Begin();
      fReport = fRun.CreateReport(kSequenceReport);
      fReport->WriteLine(header);
    }
    if (fRun.KeepsJournal()) {
      fRun.WroteJournal(fJournal->Path());
      fRun.WroteDigests(fJournal->DigestsPath());
    }
    const std::size_t end = fRun.Shard() ? fShardLocations.size() : n;
    // Segment i ends at location i; a shard's items are its segments.
    const std::size_t base = fRun.Shard() ? 0 : 1;
    const std::size_t segments = end > base ? end - base : 0;
    fRun.Log().Items(std::min(first > base ? first - base : 0, segments), segments);
    if (n >= 2 && first < end) {
      const std::function<tSegmentResult(std::size_t)> compute = [this, first](std::size_t k) {
        return Compute(LocationAt(first + k));
      };
      const std::function<bool(std::size_t, tSegmentResult&)> consume =
          [this, first, base, segments](std::size_t k, tSegmentResult& r) {
            fRun.Log().Items(first + k + 1 - base, segments);
            return Consume(LocationAt(first + k), r);
          };
      RunOrdered<tSegmentResult>(end - first, fRun.Threads(), compute, consume);
    }
    fReport->Close();
    if (fRun.Shard() && !fCancelled) fJournal->Complete(fRows, fRun.LoggedLines());
    // The counts live in the IDRISI working copy (".tif.rst"/".tif.rdc") until
    // here; a shard's stay there (the merge writes the GeoTIFF).
    if (fSetup.Corridor && !fRun.Shard() && IsGeoTiffName(s.CorridorMapName))
      fRun.FinishGeoTiff(fSetup.Corridor->Raster(), fRun.Path(s.CorridorMapName), !fCancelled);
    return fCancelled ? tRunOutcome::Cancelled : tRunOutcome::Completed;
  }

private:
  std::size_t LocationAt(std::size_t item) const {
    return fRun.Shard() ? fShardLocations[item] : item;
  }

  // The segments of the shard's rows (by the location they end at), and
  // the rows they are in the whole run.
  void SelectShardSegments(const tShard& shard) {
    uint64_t row = 0;
    for (std::size_t i = 1; i < fLocs.size(); ++i) {
      // The whole run would stop there; so does every shard, before any row.
      if (fLocs[i - 1].ID == fLocs[i].ID && fLocs[i].Time < fLocs[i - 1].Time)
        throw EInOutError("Location " + std::to_string(i) + " is antedates the previous location");
      if (!Writes(i)) continue;
      if (shard.Holds(row)) {
        fShardLocations.push_back(i);
        fShardRows.push_back(row);
      }
      ++row;
    }
  }
  uint64_t RowOf(std::size_t i) const {
    const auto it = std::lower_bound(fShardLocations.begin(), fShardLocations.end(), i);
    return fShardRows[static_cast<std::size_t>(it - fShardLocations.begin())];
  }

  // Runs on a worker: the row of the segment ending at location i, if any.
  tSegmentResult Compute(std::size_t i) const {
    tSegmentResult result;
    const tLocation& a = fLocs[i - 1];
    const tLocation& b = fLocs[i];
    if (a.ID != b.ID) return result;
    const double duration = b.Time - a.Time;
    if (duration < 0)
      throw EInOutError("Location " + std::to_string(i) + " is antedates the previous location");
    if (duration < fThreshold) return result;
    tPathScanResult scan;
    try {
      tRandomGenerator worker;
      scan = fScanner.Scan(a.X, a.Y, b.X, b.Y, static_cast<int32_t>(i), fRun.ScanRandom(worker));
    } catch (const EAssertionFailed& e) {
      RaiseInContext(e, "individual " + std::to_string(b.ID) + ", locations " +
                            std::to_string(i - 1) + "-" + std::to_string(i) + ": " +
                            PointText(a.X, a.Y) + " to " + PointText(b.X, b.Y));
    }
    tReportRow row;
    row.AddInt(b.ID)
        .AddTab()
        .AddReal(a.X)
        .AddTab()
        .AddReal(a.Y)
        .AddTab()
        .AddReal(a.Time)
        .AddTab()
        .AddReal(b.X)
        .AddTab()
        .AddReal(b.Y)
        .AddTab()
        .AddReal(b.Time)
        .AddTab()
        .AddReal(SegmentLength(a, b))
        .AddTab()
        .AddReal(duration)
        .AddText(scan.Columns);
    result.Written = true;
    result.Text = row.Text();
    result.Paths = std::move(scan.BinaryPaths);
    result.Seeded = scan.Seeded;
    result.RandomAfter = scan.RandomAfter;
    return result;
  }

  // Runs on the run's thread, in location order.
  // Whether the segment that ends at location i has a row.
  bool Writes(std::size_t i) const {
    const tLocation& a = fLocs[i - 1];
    const tLocation& b = fLocs[i];
    return a.ID == b.ID && b.Time - a.Time >= fThreshold;
  }

  // Every file the run may write.
  tOutputPlan Outputs(const std::string& reportPath) const {
    const tLiveRaster* map = fSetup.Corridor ? &fSetup.Corridor->Raster() : nullptr;
    const std::string& name = fRun.Settings().CorridorMapName;
    std::vector<std::string> journal;
    if (fRun.KeepsJournal()) journal = {fJournal->Path(), fJournal->DigestsPath()};
    return RunOutputs(reportPath, journal, map, map ? map->FileName : std::string(),
                      !fRun.Shard() && IsGeoTiffName(name) ? fRun.Path(name) : std::string());
  }

  void OpenCorridor() {
    if (fSetup.Corridor) OpenCorridorMap(fRun, *fSetup.Corridor, fResuming);
  }

  // Checks the report of an interrupted run and its journal: the settings,
  // the inputs and every whole row. Returns the first location to compute.
  std::size_t CheckResume(const std::string& reportPath, const std::string& header,
                          tKeptReport& kept) {
    fJournal->Load();
    kept = ReadKeptReport(reportPath, header);
    fJournal->CheckKeptRows(reportPath, kept);
    // The first item to compute, and the location after the last row kept.
    std::size_t next = 1, after = 1;
    uint64_t rows = 0;
    if (fRun.Shard()) {
      rows = std::min<uint64_t>(kept.Rows, fShardLocations.size());
      next = static_cast<std::size_t>(rows);
      if (rows > 0) after = fShardLocations[next - 1] + 1;
    } else {
      for (; rows < kept.Rows && next < fLocs.size(); ++next)
        if (Writes(next)) ++rows;
      after = next;
    }
    if (rows < kept.Rows ||
        (kept.Rows > 0 && kept.LastRow.rfind(std::to_string(fLocs[after - 1].ID) + "\t", 0) != 0))
      throw EInOutError("The rows of the report " + reportPath +
                        " are not those of this run; nothing was changed.");
    return next;
  }

  // Continues the checked report: its whole rows are kept and the corridor
  // map is set back to the counts of the last segment written.
  void Continue(const tKeptReport& kept, std::size_t next) {
    const std::size_t nextLocation =
        fRun.Shard() ? (next < fShardLocations.size() ? fShardLocations[next] : fLocs.size())
                     : next;
    if (fSetup.Corridor && fJournal->PendingItem() && *fJournal->PendingItem() >= nextLocation) {
      fSetup.Corridor->Restore(fJournal->PendingCells());
      fSetup.Corridor->Reopen();
    }
    fJournal->ContinueDigests(kept.Rows);
    fReport = fRun.ContinueReport(kSequenceReport, kept.Bytes);
    fRows = kept.Rows;
  }

  bool Consume(std::size_t i, tSegmentResult& result) {
    if (result.Written) {
      // A scan on a worker left that worker's generator; the run's goes on
      // from there, as if it had scanned the row itself.
      if (result.Seeded) fRun.Random() = result.RandomAfter;
      // The paths reach the corridor map before their row reaches the report,
      // as when the binary scan adds them itself.
      if (fSetup.Corridor) AddToCorridor(i, result.Paths);
      if (fRun.KeepsJournal()) fJournal->BeforeRow(result.Text);
      fReport->WriteLine(result.Text);
      ++fRows;
    }
    if (fRun.CheckPoint(i, fLocs.size())) {
      fCancelled = true;
      return false;
    }
    return true;
  }

  void AddToCorridor(std::size_t i, const std::vector<t2DiPoints>& paths) {
    if (fRun.Shard() && AddsCells(paths)) fJournal->NoteFirstCorridorRow(RowOf(i));
    // The counts before this segment, should the run be killed before its row.
    if (fRun.KeepsJournal()) {
      const auto before = fSetup.Corridor->CountsOf(paths);
      if (!before.empty()) fJournal->BeforeCorridor(i, before);
    }
    bool added = false;
    for (const t2DiPoints& path : paths) {
      if (path.empty()) continue;
      fSetup.Corridor->AddPath(path);
      added = true;
    }
    if (added) fSetup.Corridor->WriteDoc();
  }

  tRun& fRun;
  tSequenceSetup& fSetup;
  const tLocations& fLocs;
  const double fThreshold;
  const bool fResuming;
  const tPathScanner fScanner;
  std::unique_ptr<tReportFile> fReport;
  std::unique_ptr<tRunJournal> fJournal;
  std::vector<std::size_t> fShardLocations; // a shard's segments, by their end
  std::vector<uint64_t> fShardRows;         // and their rows in the whole run
  uint64_t fRows = 0;                       // rows in the report
  bool fCancelled = false;
};

} // namespace

tRunResult SequenceAnalysis(tAnalysisContext& ctx, const tLocationSequence& sequence) {
  return RunAnalysis(ctx, [&sequence](tRun& run) {
    LogSequenceBanner(run);
    const bool resuming = run.ResumesReport(kSequenceReport);
    tSequenceSetup setup = SetUpAlgorithm(run);
    const double threshold = LogIgnoreThreshold(run);
    run.LogSettings(tAnalysisKind::Sequence);
    RequireLocations(sequence);
    const tLocations& locs = sequence.Locations;
    // An end off the friction map would stop a search midway, and a strip's
    // end off its maps would give a row of no cells that looks like data.
    const bool searched = setup.Friction && HasPathMaps(run.Maps());
    if (searched || !setup.Friction)
      RefuseOffMapLocations(locs, PathEnds(locs, threshold),
                            PointGrids(run.Maps(), setup.Friction.get()), run.Log());
    if (searched) setup.Friction->ReadSingleMatrix(setup.FrictionCells);
    run.Log().TaskLabel("Analysing paths");
    return tSegmentLoop(run, setup, locs, threshold, resuming).Run();
  });
}

} // namespace stravex
