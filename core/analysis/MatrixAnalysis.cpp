// The population matrix analysis: one report row per pair of sample points,
// with the map statistics along the path between them (strips or least-cost
// paths), optional Delaunay links and an optional corridor map.
#include "analysis/Analyses.h"

#include "analysis/OrderedRunner.h"
#include "analysis/OutputCheck.h"
#include "analysis/PairMatrices.h"
#include "analysis/PathScan.h"
#include "analysis/PointGrids.h"
#include "analysis/PopulationFile.h"
#include "analysis/ReportWriter.h"
#include "analysis/ResistanceScan.h"
#include "analysis/RunJournal.h"
#include "analysis/RunSupport.h"
#include "base/Errors.h"
#include "base/RandomFunctions.h"
#include "paths/Corridor.h"
#include "paths/CostPathDecl.h"
#include "paths/Delaunay.h"
#include "raster/GdalMap.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

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
  bool Ordered() const { return fOrdered; }
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
  char numbers[32]; // "_-2147483648_-2147483648" at the longest
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

void LogBanner(tRun& run) {
  tReporter& log = run.Log();
  const tMapSet& maps = run.Maps();
  LogLines(log, {"", "       ******************************",
                 "******** Population matrix analysis **********",
                 "       ******************************", "", "Ecological maps:"});
  LogLines(log, LabelledNameLines("- Binary:\t", MapNames(maps.BinaryMaps)));
  LogLines(log, LabelledNameLines("- Quantitative:\t", MapNames(maps.QuantitativeMaps)));
  log.Log("- Topographical:\t" +
          (maps.TopographyMap ? maps.TopographyMap->MapName() : std::string()));
  log.Log("Population matrix file:\t" + run.Settings().DataFile);
}

// What a least-cost or resistance run opens; it is released on every way out.
struct tLeastCostSetup {
  std::unique_ptr<tRaster> Friction;
  tMatrixOfSingle FrictionCells;
  // Least-cost paths only: resistance runs write their current maps whole.
  std::unique_ptr<tCorridorMap> Corridor;
};

// The notes of a current map of the resistance distance.
std::vector<std::string> CurrentMapNotes(const TAnalysisSettings& s, const std::string& what) {
  return {"Friction map: " + s.FrictionMapFile, "Algorithm: resistance distance",
          what + " (1 A between the points of each pair)",
          "Distance threshold: " + std::to_string(s.PairDistanceThreshold)};
}

// The corridor map's notes record the settings it was made with.
void AddCorridorNotes(tCorridorMap& corridor, const TAnalysisSettings& s, const tMapSet& maps) {
  tStringList& notes = corridor.Raster().Comments;
  notes.push_back("Friction map: " + s.FrictionMapFile);
  notes.push_back("Topo map: " +
                  (maps.TopographyMap ? maps.TopographyMap->MapName() : std::string()));
  const bool exact = s.Connectivity == caExactLeastCost;
  notes.push_back(exact ? "Algorithm: exact least cost path" : "Algorithm: least cost path");
  notes.push_back("Number of paths: " + std::to_string(exact ? 1 : s.PathWidth));
  notes.push_back("Minimization criterion: " + CriterionName(s.Minimise));
  notes.push_back("Friction weight: " + s.FrictionWeight);
  notes.push_back("Length weight: " + s.LengthWeight);
  notes.push_back("Distance threshold: " + std::to_string(s.PairDistanceThreshold));
  notes.push_back("Elevation tolerance: " + s.ElevationTolerance);
}

// Logs the algorithm; for least-cost paths opens and reads the friction map
// and prepares the corridor map (one for the run, or the per-pair map that
// each pair recreates). Nothing is written yet: the run may still be refused.
tLeastCostSetup SetUpAlgorithm(tRun& run) {
  const TAnalysisSettings& s = run.Settings();
  tLeastCostSetup setup;
  if (!NeedsFriction(s.Connectivity)) {
    LogAlgorithm(run.Log(), s);
    return setup;
  }
  // A shard's cumulative current would have to be added to the others' by
  // the merge, which adds path counts only: refused before anything is read.
  if (s.Connectivity == caResistanceDistance && run.Shard() && !s.CorridorMapName.empty() &&
      !s.OneMapPerPair)
    throw EInvalidOperation(
        "A shard does not write the corridor map of the resistance distance (the cumulative "
        "current of all pairs); run it without sharding, or with one map per pair");
  setup.Friction = OpenMap(run.Path(s.FrictionMapFile));
  setup.Friction->CellRule = s.CellRule;
  setup.Friction->ReadSingleMatrix(setup.FrictionCells);
  if (s.Connectivity == caResistanceDistance) {
    LogAlgorithm(run.Log(), s);
    return setup;
  }
  if (!s.CorridorMapName.empty()) {
    setup.Corridor = CreateCorridorMap(*setup.Friction, run.CorridorPath());
    setup.Corridor->Raster().Reporter = &run.Log();
    AddCorridorNotes(*setup.Corridor, s, run.Maps());
  }
  LogAlgorithm(run.Log(), s);
  run.Log().Log("Minimization criterion: " + CriterionName(s.Minimise));
  return setup;
}

// The population file read from the run's folder. The reader clears the
// reserved SignificantOnly of its own copy of the settings.
tPopulationData ReadPopulation(tRun& run, const tRaster* friction) {
  TAnalysisSettings readerSettings = run.Settings();
  readerSettings.DataFile = run.Path(run.Settings().DataFile);
  // A point off the friction grid would stop the run midway with a search
  // error, and one off a strip's maps would give rows of no cells that look
  // like data; either is refused before any path is computed.
  const std::vector<const tRaster*> grids = PointGrids(run.Maps(), friction);
  tPointFilter onMap;
  if (!grids.empty()) onMap = [&grids](double x, double y) { return OnEveryGrid(grids, x, y); };
  tPopulationData data;
  ReadPopulationFile(readerSettings, data, run.Log(), onMap,
                     [&grids](const t2DPoints& p) { return NoPointOnMapNote(p, "point", grids); });
  return data;
}

// Computes the pairs on the run's threads and writes their rows in pair order.
class tPairLoop {
public:
  tPairLoop(tRun& run, tLeastCostSetup& setup, const tPopulationData& data, bool resuming)
      : fRun(run), fSettings(run.Settings()), fSetup(setup), fData(data), fResuming(resuming),
        fPairs(static_cast<int32_t>(data.SamplePoints.size()),
               UsesFriction(run.Settings().Connectivity) && setup.Friction &&
                   run.Maps().TopographyMap && run.Settings().Direction != 0),
        fScanner(run.Maps(),
                 MakeScanOptions(fSettings, false, setup.Friction ? &setup.FrictionCells : nullptr,
                                 run.Maps().TopographyMap.get(), setup.Friction.get()),
                 &setup.FrictionCells) {
    if (fSettings.DelaunayUse == duInclude || fSettings.DelaunayUse == duRestrict)
      fLinks = ComputeDelaunayLinks(data.SamplePoints);
  }

  tRunOutcome Run() {
    fRun.Log().TaskLabel("Analysing paths");
    std::string header = kFixedColumns;
    if (fSettings.DelaunayUse == duInclude) header += "\tDelaunay";
    header += Resistive() ? ResistanceHeaderColumns(fRun.Maps()) : fScanner.HeaderColumns();
    const std::string reportPath = fRun.ReportPath(kMatrixReport);
    const std::string dataFile = fRun.Path(fSettings.DataFile);
    fJournal = std::make_unique<tRunJournal>(
        reportPath, RunSettingsLines(fSettings, fRun.Maps(), dataFile, fSetup.Friction.get()),
        RunInputPaths(fRun.Maps(), dataFile, fSetup.Friction.get()));
    if (fRun.Shard()) SelectShardPairs(*fRun.Shard());
    // Nothing is written before every output is known to be writable, to
    // replace no input, to be this run's alone, and a resumed report is
    // checked against its journal.
    tOutputPlan outputs = Outputs(reportPath);
    if (WritesPairMatrices())
      for (const std::string& path :
           PairMatrixPaths(reportPath, PairMatrixColumns(header, PairMatrixOptions())))
        outputs.Files.push_back({"pair matrix", path});
    fRun.ClaimOutputs(std::move(outputs), fSetup.Friction.get());
    tKeptReport kept;
    if (fResuming) fFirst = CheckResume(reportPath, header, kept);
    if (fRun.CheckResumeOnly()) return tRunOutcome::Completed;
    // Solved before the report is touched: a friction the circuit refuses
    // leaves no report behind, and a resumed one as it was.
    if (Resistive()) SolveNetwork();
    OpenCorridor();
    if (fResuming) {
      Continue(kept);
      if (kept.Bytes == 0) fReport->WriteLine(header);
    } else {
      if (fRun.KeepsJournal()) fJournal->Begin();
      fReport = fRun.CreateReport(kMatrixReport);
      fReport->WriteLine(header);
    }
    if (fRun.KeepsJournal()) {
      fRun.WroteJournal(fJournal->Path());
      fRun.WroteDigests(fJournal->DigestsPath());
    }
    if (fSettings.Connectivity == caExactLeastCost) PlanExactSearches();

    const std::function<tPairRow(std::size_t)> compute = [this](std::size_t k) {
      return Compute(PairAt(fFirst + k));
    };
    const std::function<bool(std::size_t, tPairRow&)> consume = [this](std::size_t k, tPairRow& r) {
      fRun.Log().Items(fFirst + k + 1, Items());
      return Consume(PairAt(fFirst + k), r);
    };
    fRun.Log().Items(fFirst, Items());
    RunOrdered<tPairRow>(static_cast<std::size_t>(Items() - fFirst), fRun.Threads(), compute,
                         consume);
    fReport->Close();
    if (fRun.Shard() && !fCancelled) fJournal->Complete(fDone, fRun.LoggedLines());
    // The counts live in the IDRISI working copy (".tif.rst"/".tif.rdc") until
    // here; one map per pair stays IDRISI, and so do a shard's (the merge
    // writes the GeoTIFF).
    if (fSetup.Corridor && !fSettings.OneMapPerPair && !fRun.Shard() &&
        IsGeoTiffName(fSettings.CorridorMapName))
      fRun.FinishGeoTiff(fSetup.Corridor->Raster(), fRun.Path(fSettings.CorridorMapName),
                         !fCancelled);
    if (CumulativeCurrent() && fResistance) WriteCumulativeCurrent();
    if (fSettings.PairMatrices) PairMatricesAtEnd(reportPath);
    return fCancelled ? tRunOutcome::Cancelled : tRunOutcome::Completed;
  }

private:
  bool Resistive() const { return fSettings.Connectivity == caResistanceDistance; }
  // Resistance runs: the current maps asked for.
  bool CumulativeCurrent() const {
    return Resistive() && !fSettings.CorridorMapName.empty() && !fSettings.OneMapPerPair;
  }
  bool PairCurrents() const {
    return Resistive() && !fSettings.CorridorMapName.empty() && fSettings.OneMapPerPair;
  }

  // The network is solved for every sample point, whichever pairs the run
  // (or shard, or resumed run) computes: the grounded node of a connected
  // part is its first point, so the same points give the same resistances
  // to the last bit in every split.
  void SolveNetwork() {
    fRun.Log().TaskLabel("Solving the resistance network");
    fResistance = std::make_unique<tResistanceScan>(fRun.Maps(), *fSetup.Friction,
                                                    fSetup.FrictionCells, fData.SamplePoints,
                                                    fSettings.ResistanceSolver, fRun.Threads());
    LogLines(fRun.Log(), fResistance->SolverLines());
    fRun.Log().TaskLabel("Analysing paths");
    if (!CumulativeCurrent()) return;
    fCurrent.assign(fResistance->CellCount(), 0.0F);
    // A resumed run adds the currents of the rows it keeps first, in pair
    // order, as the interrupted run did.
    int32_t i = 0, j = 0;
    for (uint64_t item = 0; item < fFirst; ++item) {
      fPairs.Pair(PairAt(item), i, j);
      double d = 0;
      if (!Skips(i, j, d)) fResistance->AddPairCurrent(i, j, fCurrent);
    }
  }

  void WriteCumulativeCurrent() {
    const std::string base = fRun.CorridorPath();
    const auto map = WriteCurrentMap(*fSetup.Friction, base, fCurrent,
                                     CurrentMapNotes(fSettings, "Cumulative current of the pairs"));
    if (IsGeoTiffName(fSettings.CorridorMapName)) {
      // A resumed run recomputes the kept pairs' currents: no working copy is kept.
      FinishGeoTiffCorridor(*map, fRun.Path(fSettings.CorridorMapName), true);
    }
    fRun.Wrote(base);
  }

  void WritePairCurrent(const tPairRow& r) {
    const std::string name = PairCorridorName(fRun.Path(fSettings.CorridorMapName), r.I, r.J);
    // A pair without current (no resistance distance, or one cell) has no map.
    if (!(fResistance->Resistance(r.I, r.J) > 0)) return;
    std::vector<float> current(fResistance->CellCount(), 0.0F);
    fResistance->AddPairCurrent(r.I, r.J, current);
    WriteCurrentMap(*fSetup.Friction, name, current,
                    CurrentMapNotes(fSettings, "Current of pair " + std::to_string(r.I) + "-" +
                                                   std::to_string(r.J)));
    fRun.Wrote(name);
  }

  // A shard holds some rows only: the merged report has them all.
  bool WritesPairMatrices() const { return fSettings.PairMatrices && !fRun.Shard(); }

  tPairMatrixOptions PairMatrixOptions() const {
    tPairMatrixOptions o;
    o.Points = static_cast<int32_t>(fData.SamplePoints.size());
    o.Ordered = fPairs.Ordered();
    o.PathColumns = UsesFriction(fSettings.Connectivity);
    o.ResistanceColumns = Resistive();
    return o;
  }

  // Built from the whole report once it is complete (a resumed run's too);
  // a cancelled run's report lacks pairs, so it gets none.
  void PairMatricesAtEnd(const std::string& reportPath) {
    if (fRun.Shard()) {
      fRun.Log().Log("Pair matrices: not written by a shard; the merged report has every pair");
      return;
    }
    if (fCancelled) {
      fRun.Log().Log("Pair matrices: not written, the run was cancelled");
      return;
    }
    for (const std::string& path : WritePairMatrices(reportPath, PairMatrixOptions(), fRun.Log()))
      fRun.WrotePairMatrix(path);
  }

  // The run's items: every pair, or a shard's selected pairs.
  uint64_t Items() const { return fRun.Shard() ? fShardPairs.size() : fPairs.Count(); }
  uint64_t PairAt(uint64_t item) const { return fRun.Shard() ? fShardPairs[item] : item; }

  // The pairs of the shard's rows, and the rows they are in the whole run.
  void SelectShardPairs(const tShard& shard) {
    uint64_t row = 0;
    int32_t i = 0, j = 0;
    for (uint64_t k = 0; k < fPairs.Count(); ++k) {
      fPairs.Pair(k, i, j);
      double d = 0;
      if (Skips(i, j, d)) continue;
      if (shard.Holds(row)) {
        fShardPairs.push_back(k);
        fShardRows.push_back(row);
      }
      ++row;
    }
  }

  // One exact search per source serves all the pairs still to compute.
  void PlanExactSearches() {
    const std::size_t n = fData.SamplePoints.size();
    std::vector<std::vector<t2DPoint>> targets(n);
    int32_t i = 0, j = 0;
    for (uint64_t item = fFirst; item < Items(); ++item) {
      fPairs.Pair(PairAt(item), i, j);
      double d = 0;
      if (!Skips(i, j, d))
        targets[static_cast<std::size_t>(i)].push_back(
            fData.SamplePoints[static_cast<std::size_t>(j)]);
    }
    fScanner.PlanSources(fData.SamplePoints, targets);
  }

  // Pairs that leave no row: not Delaunay-linked under the restriction, or
  // farther apart than the threshold (a pair exactly at it is kept).
  bool Skips(int32_t i, int32_t j, double& distance) const {
    if (fSettings.DelaunayUse == duRestrict && !Linked(fLinks, i, j)) return true;
    const t2DPoint& a = fData.SamplePoints[static_cast<std::size_t>(i)];
    const t2DPoint& b = fData.SamplePoints[static_cast<std::size_t>(j)];
    const double dx = a.x - b.x, dy = a.y - b.y;
    distance = std::sqrt(dx * dx + dy * dy);
    return distance > static_cast<double>(fSettings.PairDistanceThreshold);
  }

  // Every file the run may write.
  tOutputPlan Outputs(const std::string& reportPath) const {
    if (Resistive()) return ResistanceOutputs(reportPath);
    const tLiveRaster* map = fSetup.Corridor ? &fSetup.Corridor->Raster() : nullptr;
    if (map && fSettings.OneMapPerPair) {
      tOutputPlan plan = RunOutputs(reportPath, JournalFiles(), nullptr, {}, {});
      plan.PairMaps = PairMaps("pair corridor maps", *map);
      return plan;
    }
    const bool tif = !fRun.Shard() && IsGeoTiffName(fSettings.CorridorMapName);
    return RunOutputs(reportPath, JournalFiles(), map, map ? map->FileName : std::string(),
                      tif ? fRun.Path(fSettings.CorridorMapName) : std::string());
  }

  tOutputPlan ResistanceOutputs(const std::string& reportPath) const {
    if (fSettings.CorridorMapName.empty())
      return RunOutputs(reportPath, JournalFiles(), nullptr, {}, {});
    // Named as WriteCurrentMap will name its files.
    const std::unique_ptr<tRaster> like = tRaster::CreateLike(*fSetup.Friction);
    if (fSettings.OneMapPerPair) {
      tOutputPlan plan = RunOutputs(reportPath, JournalFiles(), nullptr, {}, {});
      plan.PairMaps = PairMaps("pair current maps", *like);
      return plan;
    }
    const bool tif = IsGeoTiffName(fSettings.CorridorMapName);
    return RunOutputs(reportPath, JournalFiles(), like.get(), fRun.CorridorPath(),
                      tif ? fRun.Path(fSettings.CorridorMapName) : std::string(), "current map");
  }

  // The maps of each pair, NAME_iii_jjj.
  tPairMapFiles PairMaps(const char* role, const tRaster& like) const {
    return {
        role, fRun.Path(fSettings.CorridorMapName), {like.DocExtension(), like.ImageExtension()}};
  }

  std::vector<std::string> JournalFiles() const {
    if (!fRun.KeepsJournal()) return {};
    return {fJournal->Path(), fJournal->DigestsPath()};
  }

  void OpenCorridor() {
    if (fSetup.Corridor && !fSettings.OneMapPerPair)
      OpenCorridorMap(fRun, *fSetup.Corridor, fResuming);
  }

  // Checks the report of an interrupted run and its journal: the settings,
  // the inputs and every whole row. Returns the first pair to compute.
  uint64_t CheckResume(const std::string& reportPath, const std::string& header,
                       tKeptReport& kept) {
    fJournal->Load();
    kept = ReadKeptReport(reportPath, header);
    fJournal->CheckKeptRows(reportPath, kept);
    // The first item to compute, and the pair of the last row kept.
    uint64_t next = 0, rows = 0;
    int32_t i = 0, j = 0;
    if (fRun.Shard()) {
      rows = std::min<uint64_t>(kept.Rows, fShardPairs.size());
      next = rows;
      if (rows > 0) fPairs.Pair(fShardPairs[rows - 1], i, j);
    } else {
      for (; rows < kept.Rows && next < fPairs.Count(); ++next) {
        double d = 0;
        fPairs.Pair(next, i, j);
        if (!Skips(i, j, d)) ++rows;
      }
    }
    const std::string ids = std::to_string(i) + "\t";
    if (rows < kept.Rows || (kept.Rows > 0 && kept.LastRow.rfind(ids, 0) != 0))
      throw EInOutError("The rows of the report " + reportPath +
                        " are not those of this run; nothing was changed.");
    return next;
  }

  // Continues the checked report: its whole rows are kept and the corridor
  // map is set back to the counts of the last pair written.
  void Continue(const tKeptReport& kept) {
    const uint64_t next = fFirst;
    const uint64_t nextPair = next < Items() ? PairAt(next) : fPairs.Count();
    if (fSetup.Corridor && !fSettings.OneMapPerPair && fJournal->PendingItem() &&
        (kept.Rows == 0 || *fJournal->PendingItem() >= nextPair)) {
      fSetup.Corridor->Restore(fJournal->PendingCells());
      fSetup.Corridor->Reopen();
    }
    fJournal->ContinueDigests(kept.Rows);
    fReport = fRun.ContinueReport(kMatrixReport, kept.Bytes);
    fDone = kept.Rows;
  }

  // Runs on a worker: the pair's row, or a skipped pair.
  tPairRow Compute(std::size_t k) const {
    tPairRow r;
    fPairs.Pair(k, r.I, r.J);
    const int32_t i = r.I, j = r.J;
    double d = 0;
    if (Skips(i, j, d)) return r;
    const t2DPoint& a = fData.SamplePoints[static_cast<std::size_t>(i)];
    const t2DPoint& b = fData.SamplePoints[static_cast<std::size_t>(j)];
    r.Skipped = false;
    const auto ui = static_cast<std::size_t>(i), uj = static_cast<std::size_t>(j);
    tReportRow row;
    row.AddInt(i)
        .AddTab()
        .AddReal(a.x)
        .AddTab()
        .AddReal(a.y)
        .AddTab()
        .AddInt(j)
        .AddTab()
        .AddReal(b.x)
        .AddTab()
        .AddReal(b.y)
        .AddTab()
        .AddReal(fData.GeneticDistance[ui][uj])
        .AddTab()
        .AddReal(fData.Significance[ui][uj])
        .AddTab()
        .AddReal(d);
    if (fSettings.DelaunayUse == duInclude) row.AddTab().AddInt(Linked(fLinks, i, j) ? 1 : 0);
    if (fResistance) {
      row.AddText(fResistance->Columns(i, j));
      r.Text = row.Text();
      return r;
    }
    try {
      tRandomGenerator worker;
      r.Scan = fScanner.ScanFrom(i, a.x, a.y, b.x, b.y, i, fRun.ScanRandom(worker));
    } catch (const EAssertionFailed& e) {
      RaiseInContext(e, "pair " + std::to_string(i) + "-" + std::to_string(j) + ": " +
                            PointText(a.x, a.y) + " to " + PointText(b.x, b.y));
    }
    row.AddText(r.Scan.Columns);
    r.Text = row.Text();
    return r;
  }

  // Runs on the run's thread, in pair order: corridor, generator, row,
  // progress and the cancel check. Skipped pairs leave no trace.
  bool Consume(uint64_t k, tPairRow& r) {
    if (r.Skipped) return true;
    if (fSetup.Corridor) AddToCorridor(k, r);
    if (CumulativeCurrent()) fResistance->AddPairCurrent(r.I, r.J, fCurrent);
    if (PairCurrents()) WritePairCurrent(r);
    // A scan on a worker left that worker's generator; the run's goes on
    // from there, as if it had scanned the row itself.
    if (r.Scan.Seeded) fRun.Random() = r.Scan.RandomAfter;
    if (fRun.KeepsJournal()) fJournal->BeforeRow(r.Text);
    fReport->WriteLine(r.Text);
    ++fDone;
    if (fRun.CheckPoint(fDone, Items())) {
      fCancelled = true;
      return false;
    }
    return true;
  }

  void AddToCorridor(uint64_t k, const tPairRow& r) {
    tCorridorMap& corridor = *fSetup.Corridor;
    if (fSettings.OneMapPerPair) {
      tLiveRaster& map = corridor.Raster();
      map.FileName = PairCorridorName(fRun.Path(fSettings.CorridorMapName), r.I, r.J);
      map.MinValue = 0;
      map.MaxValue = 1;
      corridor.FillZero();
      fRun.Wrote(map.FileName);
    }
    if (fRun.Maps().BinaryMaps.empty()) return;
    if (fRun.Shard() && !fSettings.OneMapPerPair && AddsCells(r.Scan.BinaryPaths))
      fJournal->NoteFirstCorridorRow(RowOf(k));
    // The counts before this pair, should the run be killed before its row.
    if (fRun.KeepsJournal() && !fSettings.OneMapPerPair && r.Scan.BinaryLengthSum > 0)
      fJournal->BeforeCorridor(k, corridor.CountsOf(r.Scan.BinaryPaths));
    for (const t2DiPoints& path : r.Scan.BinaryPaths) corridor.AddPath(path);
    corridor.WriteDoc();
    // No search of the pair found a path: its map is not kept.
    if (fSettings.OneMapPerPair && r.Scan.BinaryLengthSum == 0) {
      DeleteMap(corridor.Raster().FileName);
      fRun.Dropped(corridor.Raster().FileName);
    }
  }

  // A shard's row of pair k, numbered as in the whole run.
  uint64_t RowOf(uint64_t k) const {
    const auto it = std::lower_bound(fShardPairs.begin(), fShardPairs.end(), k);
    return fShardRows[static_cast<std::size_t>(it - fShardPairs.begin())];
  }

  tRun& fRun;
  const TAnalysisSettings& fSettings;
  tLeastCostSetup& fSetup;
  const tPopulationData& fData;
  const bool fResuming;
  const tPairOrder fPairs;
  tPathScanner fScanner;
  tMatrixOfBoolean fLinks;
  std::unique_ptr<tResistanceScan> fResistance;
  std::vector<float> fCurrent; // resistance runs: the cumulative current, when asked for
  std::unique_ptr<tReportFile> fReport;
  std::unique_ptr<tRunJournal> fJournal;
  std::vector<uint64_t> fShardPairs, fShardRows; // a shard's pairs and their rows
  uint64_t fFirst = 0;                           // items before it were written by an earlier run
  uint64_t fDone = 0;
  bool fCancelled = false;
};

} // namespace

tRunResult PopulationMatrixAnalysis(tAnalysisContext& ctx) {
  return RunAnalysis(ctx, [](tRun& run) {
    run.Settings().Validate();
    run.Maps().BuildMapList();
    LogBanner(run);
    const bool resuming = run.ResumesReport(kMatrixReport);
    tLeastCostSetup setup = SetUpAlgorithm(run);
    run.LogSettings(tAnalysisKind::PopulationMatrix);
    const tPopulationData data = ReadPopulation(run, setup.Friction.get());
    return tPairLoop(run, setup, data, resuming).Run();
  });
}

} // namespace stravex
