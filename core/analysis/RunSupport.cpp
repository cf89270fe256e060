#include "analysis/RunSupport.h"
#include "raster/GdalMap.h"

#include "analysis/BatchRun.h"
#include "analysis/LocationSequence.h"
#include "analysis/PointGrids.h"
#include "analysis/PopulationFile.h"
#include "base/AtomicFile.h"
#include "base/Errors.h"
#include "base/Numeric.h"
#include "paths/Corridor.h"
#include "paths/CostPathDecl.h"

#include <filesystem>
#include <new>

namespace stravex {

std::vector<std::string> tRunResult::Files(tFileKind kind) const {
  std::vector<std::string> paths;
  for (const tWrittenFile& f : FilesWritten)
    if (f.Kind == kind) paths.push_back(f.Path);
  return paths;
}

void tRun::tRunReporter::Warning(const std::string& message) {
  {
    std::lock_guard<std::mutex> lock(fMutex);
    fWarnings.push_back(message);
  }
  fInner.Warning(message);
}

void tRun::tRunReporter::Log(const std::string& line) {
  if (fKeepLines) {
    std::lock_guard<std::mutex> lock(fMutex);
    for (std::string& l : SplitLines(line)) fLines.push_back(std::move(l));
  }
  fInner.Log(line);
}

std::vector<std::string> tRun::tRunReporter::Lines() const {
  std::lock_guard<std::mutex> lock(fMutex);
  return fLines;
}

std::vector<std::string> tRun::tRunReporter::Warnings() const {
  std::lock_guard<std::mutex> lock(fMutex);
  return fWarnings;
}

tRun::tRun(tAnalysisContext& ctx)
    : fCtx(ctx), fLog(ctx.Reporter), fRandom(ctx.Random ? *ctx.Random : tRandomGenerator()) {
  fCtx.State.BeginRun();
  if (fCtx.Shard) fLog.KeepLines();
  fCtx.Maps.SetCellRule(fCtx.Settings.CellRule);
}

tRun::~tRun() { EndSteps(); }

void tRun::EndSteps() {
  if (fEnded) return;
  fEnded = true;
  // The end steps must all happen even if a front end's callback throws.
  try {
    fCtx.Reporter.TaskLabel("Ready");
    fCtx.Reporter.Progress(0);
  } catch (...) {
  }
  fCtx.State.EndRun();
  if (fCtx.Random) *fCtx.Random = fRandom;
}

std::string tRun::Path(const std::string& name) const {
  if (fCtx.WorkDir.empty() || name.empty()) return name;
  const std::filesystem::path p(name);
  if (p.is_absolute()) return name;
  return (std::filesystem::path(fCtx.WorkDir) / p).string();
}

std::string tRun::ReportPath(const std::string& fixedName) const {
  const std::string name = fCtx.Shard ? ShardReportName(fixedName, *fCtx.Shard) : fixedName;
  return Path(ReportFileName(fCtx.Settings.ProjectName, name));
}

std::string tRun::CorridorPath() const {
  const TAnalysisSettings& s = fCtx.Settings;
  if (!fCtx.Shard || s.CorridorMapName.empty() ||
      (s.DataStructure == dsPopulationMatrix && s.OneMapPerPair))
    return Path(s.CorridorMapName);
  return Path(ShardCorridorName(s.CorridorMapName, *fCtx.Shard));
}

std::unique_ptr<tReportFile> tRun::CreateReport(const std::string& fixedName) {
  auto report = std::make_unique<tReportFile>(ReportPath(fixedName));
  fFiles.push_back({tFileKind::Report, report->FileName()});
  return report;
}

bool tRun::ResumesReport(const std::string& fixedName) const {
  std::error_code ec;
  return fCtx.Resume && std::filesystem::exists(ReportPath(fixedName), ec);
}

std::unique_ptr<tReportFile> tRun::ContinueReport(const std::string& fixedName,
                                                  uint64_t keepBytes) {
  auto report = std::make_unique<tReportFile>(ReportPath(fixedName), keepBytes);
  fFiles.push_back({tFileKind::Report, report->FileName()});
  return report;
}

void tRun::Wrote(const std::string& corridorMap) {
  fFiles.push_back({tFileKind::CorridorMap, corridorMap});
}

void tRun::FinishGeoTiff(const tRaster& copy, const std::string& tifPath, bool completed) {
  FinishGeoTiffCorridor(copy, tifPath, completed);
  if (completed) return;
  fFiles.push_back({tFileKind::WorkingCopy, copy.FileName + copy.DocExtension()});
  fFiles.push_back({tFileKind::WorkingCopy, copy.FileName + copy.ImageExtension()});
}

void tRun::Dropped(const std::string& corridorMap) {
  const tWrittenFile f{tFileKind::CorridorMap, corridorMap};
  for (auto it = fFiles.rbegin(); it != fFiles.rend(); ++it) {
    if (*it == f) {
      fFiles.erase(std::next(it).base());
      return;
    }
  }
}

bool tRun::CancelPending() { return fLog.CancelRequested() || fCtx.State.CancelRequested; }

bool tRun::CheckPoint(uint64_t done, uint64_t total) {
  fLog.Progress(ProgressPercent(done, total));
  return CancelPending();
}

void tRun::ClaimOutputs(tOutputPlan plan, const tRaster* friction) {
  if (!fCtx.LogFile.empty()) plan.Files.push_back({"log", fCtx.LogFile});
  std::vector<std::string> paths;
  for (const tRunFile& f : plan.Files) paths.push_back(f.Path);
  // The first pair's map stands for the folder they share.
  if (plan.PairMaps)
    for (const std::string& ext : plan.PairMaps->Extensions)
      paths.push_back(plan.PairMaps->Base + "_001_002" + ext);
  RequireWritable(paths);
  std::vector<tRunFile> inputs;
  const auto addMap = [&inputs](const char* role, const tRaster& map) {
    for (const std::string& f : MapInputFiles(map)) inputs.push_back({role, f});
  };
  const tMapSet& maps = fCtx.Maps;
  for (const auto& m : maps.BinaryMaps) addMap("binary map", *m);
  for (const auto& m : maps.QuantitativeMaps) addMap("quantitative map", *m);
  if (maps.TopographyMap) addMap("topography map", *maps.TopographyMap);
  if (friction) addMap("friction map", *friction);
  const TAnalysisSettings& s = fCtx.Settings;
  if (!s.DataFile.empty())
    inputs.push_back(
        {s.DataStructure == dsPopulationMatrix ? "data file" : "sequence file", Path(s.DataFile)});
  if (!fCtx.MapListFile.empty()) inputs.push_back({"map list", fCtx.MapListFile});
  RequireSeparateFiles(plan, inputs);
  if (CheckResumeOnly()) return;
  auto locks = std::make_unique<tOutputLocks>();
  locks->Take(plan);
  fLocks = std::move(locks);
}

void tRun::LogSettings(tAnalysisKind kind) {
  const tRunRecord record{fCtx.Settings,
                          fCtx.Maps,
                          kind,
                          fStarted,
                          [this](const std::string& name) {
                            return name.empty() ? std::string("none") : AbsolutePath(Path(name));
                          },
                          &fRandom};
  LogLines(fLog, RunSettingsLines(record));
}

tRunResult tRun::Finish(tRunOutcome outcome, const std::string& error) {
  if (!fEnded) {
    std::vector<tWrittenFile> listed = fFiles;
    if (!fCtx.LogFile.empty()) listed.push_back({tFileKind::Log, fCtx.LogFile});
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - fClock;
    try {
      LogLines(fLog, RunEndLines(listed, outcome, elapsed.count(), error));
    } catch (...) {
      // A front end that cannot take the lines still gets its result.
    }
  }
  EndSteps();
  tRunResult result;
  result.Outcome = outcome;
  result.FilesWritten = fFiles;
  // A failed run's log is not saved.
  if (!fCtx.LogFile.empty() && outcome != tRunOutcome::Failed) {
    result.FilesWritten.push_back({tFileKind::Log, fCtx.LogFile});
    if (fLocks) result.LogLock = fLocks->Hand(fCtx.LogFile);
  }
  // The run's files are closed: other runs may write them now.
  fLocks.reset();
  result.Warnings = fLog.Warnings();
  result.Error = error;
  return result;
}

tRunResult tRun::Fail(std::exception_ptr error) {
  std::string message;
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    message = "Out of memory";
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown error";
  }
  tRunResult result = Finish(tRunOutcome::Failed, message);
  result.ErrorObject = error;
  return result;
}

tOutputPlan RunOutputs(const std::string& report, const std::vector<std::string>& journalFiles,
                       const tRaster* corridor, const std::string& base, const std::string& geoTiff,
                       const std::string& mapRole) {
  tOutputPlan plan;
  plan.Files.push_back({"report", report});
  for (std::size_t k = 0; k < journalFiles.size(); ++k)
    plan.Files.push_back({k == 0 ? "journal" : "row digests", journalFiles[k]});
  if (corridor) {
    plan.Files.push_back({mapRole, base + corridor->DocExtension()});
    plan.Files.push_back({mapRole, base + corridor->ImageExtension()});
    if (!geoTiff.empty()) plan.Files.push_back({mapRole, geoTiff});
  }
  return plan;
}

void OpenCorridorMap(tRun& run, tCorridorMap& corridor, bool resuming) {
  if (resuming)
    corridor.Reopen();
  else
    corridor.FillZero();
  run.Wrote(corridor.Raster().FileName);
}

tRunResult RunAnalysis(tAnalysisContext& ctx, const std::function<tRunOutcome(tRun&)>& body) {
  tRun run(ctx);
  try {
    return run.Finish(body(run));
  } catch (...) {
    return run.Fail(std::current_exception());
  }
}

std::vector<std::string> PlannedReports(const TAnalysisSettings& s, bool bootstrap,
                                        const std::string& workDir) {
  auto path = [&](const char* fixedName) {
    const std::string name = ReportFileName(s.ProjectName, fixedName);
    return workDir.empty() ? name : (std::filesystem::path(workDir) / name).string();
  };
  if (bootstrap) {
    std::vector<std::string> reports{path("Bootstraps.txt")};
    if (s.DistanceDistribution) reports.push_back(path("Distances.txt"));
    return reports;
  }
  return {
      path(s.DataStructure == dsPopulationMatrix ? "MatrixAnalysis.txt" : "SequenceAnalysis.txt")};
}

int ProgressPercent(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  return static_cast<int>(
      RoundHalfEven(static_cast<double>(done) / static_cast<double>(total) * 100.0));
}

void LogLines(tReporter& reporter, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) reporter.Log(line);
}

std::vector<std::string> MapNames(const std::vector<std::unique_ptr<tLiveRaster>>& maps) {
  std::vector<std::string> names;
  names.reserve(maps.size());
  for (const auto& m : maps) names.push_back(m->MapName());
  return names;
}

bool PointOnGrid(const tRaster& map, double x, double y) {
  try {
    return map.IsInside(map.RowOfY(y), map.ColOfX(x));
  } catch (const ERangeError&) {
    // Too far away for a cell index at all.
    return false;
  }
}

void RefuseOffMapLocations(const tLocations& locs, const std::vector<std::size_t>& indices,
                           const std::vector<const tRaster*>& grids, tReporter& log) {
  std::vector<std::string> outside;
  t2DPoints points;
  for (const std::size_t i : indices) {
    const tLocation& l = locs[i];
    if (OnEveryGrid(grids, l.X, l.Y)) continue;
    points.push_back({l.X, l.Y});
    log.Log("Location " + std::to_string(i) + "\t" + FormatPoint(l.X, l.Y) + kOutsidePointSuffix);
    outside.push_back("location " + std::to_string(i) + " (ID " + std::to_string(l.ID) + ") at " +
                      PointText(l.X, l.Y));
  }
  if (outside.empty()) return;
  const bool none = outside.size() == indices.size();
  throw EInOutError(OutsidePointsMessage(outside) +
                    (none ? NoPointOnMapNote(points, "location", grids) : std::string()));
}

std::string PointText(double x, double y) {
  return "(" + FormatGeneral(x, 15) + ", " + FormatGeneral(y, 15) + ")";
}

void RaiseInContext(const EAssertionFailed& e, const std::string& context) {
  throw EAssertionFailed(std::string(e.what()) + " (" + context + ")");
}

void LogAlgorithm(tReporter& log, const TAnalysisSettings& s) {
  switch (s.Connectivity) {
  case caFixedWidthStrip: log.Log("Algorithm: fixed-width strip"); break;
  case caRatioStrip: log.Log("Algorithm: ratio strip"); break;
  case caLeastCostPath: log.Log("Algorithm: least cost path"); break;
  case caExactLeastCost: log.Log("Algorithm: exact least cost path"); break;
  case caResistanceDistance: log.Log("Algorithm: resistance distance"); break;
  default:
    RaiseRangeCheck("connectivity algorithm", s.Connectivity, caFixedWidthStrip,
                    caResistanceDistance);
  }
  log.Log(std::string("Cell rule: ") + CellRuleName(s.CellRule));
}

const char* CellRuleName(tCellRule rule) { return rule == crRounded ? "rounded" : "containing"; }

std::string CriterionName(int32_t minimise) {
  const auto last = static_cast<int32_t>(MinimiseCriteria.size()) - 1;
  if (minimise < 0 || minimise > last) RaiseRangeCheck("minimisation criterion", minimise, 0, last);
  return MinimiseCriteria[static_cast<std::size_t>(minimise)];
}

void LogSequenceBanner(tRun& run) {
  tReporter& log = run.Log();
  LogLines(log, {"", "       *********************", "******** Sequence analysis **********",
                 "       *********************", ""});
  LogLines(log, LabelledNameLines("Ecological maps:\t", MapNames(run.Maps().BinaryMaps)));
  log.Log("Location sequence file:\t" + run.Settings().DataFile);
}

std::unique_ptr<tRaster> OpenSequenceAlgorithm(tRun& run) {
  const TAnalysisSettings& s = run.Settings();
  if (s.Connectivity == caResistanceDistance) throw EInvalidOperation(kResistanceMatrixOnly);
  std::unique_ptr<tRaster> friction;
  if (UsesFriction(s.Connectivity)) {
    friction = OpenMap(run.Path(s.FrictionMapFile));
    friction->CellRule = s.CellRule;
  }
  LogAlgorithm(run.Log(), s);
  return friction;
}

std::string IgnoreTimeText(const TAnalysisSettings& s) {
  const bool known = s.IgnoreUnit >= 0 &&
                     s.IgnoreUnit < static_cast<int32_t>(kIgnoreUnitNames.size());
  return std::to_string(s.IgnoreTime) + " " +
         (known ? kIgnoreUnitNames[static_cast<std::size_t>(s.IgnoreUnit)] : "");
}

double LogIgnoreThreshold(tRun& run) {
  const TAnalysisSettings& s = run.Settings();
  if (s.IgnoreTime >= 1) run.Log().Log("Ignore segments shorter than " + IgnoreTimeText(s));
  // Sequence runs do not validate the settings: a unit outside the list
  // ignores nothing, as it always has.
  return IgnoreThreshold(s.IgnoreTime, static_cast<tIgnoreUnit>(s.IgnoreUnit));
}

void RequireLocations(const tLocationSequence& sequence) {
  if (sequence.LocationsLoaded) return;
  if (sequence.ReadError.empty()) throw EInOutError(kBadSequenceFile);
  throw EInOutError(std::string(kBadSequenceFile) + " " + sequence.ReadError);
}

} // namespace stravex
