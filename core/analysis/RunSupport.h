#pragma once
// Pieces every analysis run shares: the run contract (start and end steps on
// every way out), the run's reporter, generator and files, the cancel check,
// progress percentages, log helpers and the off-map check of locations.
#include "analysis/Analyses.h"
#include "analysis/OutputCheck.h"
#include "analysis/ReportWriter.h"
#include "analysis/RunLog.h"
#include "base/Errors.h"
#include "base/Reporter.h"
#include "raster/Raster.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace stravex {

// One run under way. Start steps on construction: cancel request cleared,
// Running set, the run's generator taken from ctx.Random (or the start-up
// state). End steps in Finish, or in the destructor when Finish was not
// reached: task label "Ready", progress 0, run flags cleared, the generator
// handed back to ctx.Random.
class tRun {
public:
  explicit tRun(tAnalysisContext& ctx);
  ~tRun();
  tRun(const tRun&) = delete;
  tRun& operator=(const tRun&) = delete;

  const TAnalysisSettings& Settings() const { return fCtx.Settings; }
  tMapSet& Maps() const { return fCtx.Maps; }
  int Threads() const { return fCtx.Threads; }
  // The run's reporter: the context's, keeping the warnings for the result.
  tReporter& Log() { return fLog; }
  // The run's generator, used on the thread that runs it.
  tRandomGenerator& Random() { return fRandom; }
  // The generator for a scan computed on the calling thread: the run's own
  // on the run's thread (a one-thread run, which draws as the run does, up
  // to a failed scan), else `worker`, which the scan re-seeds anyway.
  tRandomGenerator& ScanRandom(tRandomGenerator& worker) {
    return std::this_thread::get_id() == fThread ? fRandom : worker;
  }

  // A file name of the run: a relative name is taken from the working folder;
  // an absolute name, or any name without a working folder, is unchanged.
  std::string Path(const std::string& name) const;
  const std::optional<tShard>& Shard() const { return fCtx.Shard; }
  // The path of the report ProjectName + "-" + fixedName in the working
  // folder (a shard's: with the shard before the extension).
  std::string ReportPath(const std::string& fixedName) const;
  // That report, created anew and recorded as written.
  std::unique_ptr<tReportFile> CreateReport(const std::string& fixedName);
  // With Resume asked for and the report of these settings on disk: the run
  // continues it.
  bool ResumesReport(const std::string& fixedName) const;
  bool CheckResumeOnly() const { return fCtx.Resume && fCtx.CheckResumeOnly; }
  bool KeepsJournal() const { return fCtx.Journal || fCtx.Resume || fCtx.Shard.has_value(); }
  // The run's corridor map, Path(CorridorMapName); a shard's own map unless
  // each pair has its map.
  std::string CorridorPath() const;
  // Sharded runs: every line logged so far, as a log file holds them.
  std::vector<std::string> LoggedLines() const { return fLog.Lines(); }
  // The report of an interrupted run, cut back to keepBytes and continued.
  std::unique_ptr<tReportFile> ContinueReport(const std::string& fixedName, uint64_t keepBytes);
  void WroteJournal(const std::string& path) { fFiles.push_back({tFileKind::Journal, path}); }
  void WroteDigests(const std::string& path) { fFiles.push_back({tFileKind::RowDigests, path}); }
  void WrotePairMatrix(const std::string& path) { fFiles.push_back({tFileKind::PairMatrix, path}); }
  // Records a corridor map (name without extension) as written; Dropped
  // takes back one that was deleted again.
  void Wrote(const std::string& corridorMap);
  // A GeoTIFF corridor map's IDRISI working copy (name without extension):
  // kept, and listed by its files, when the run did not complete.
  void FinishGeoTiff(const tRaster& workingCopy, const std::string& tifPath, bool completed);
  void Dropped(const std::string& corridorMap);

  // Before the run's first write: every output of the plan and the log must
  // be writable, and none may be an input of the run (its maps of every role
  // with `friction`, the friction map it opened, if any; the data file; the
  // map-list file) or another output (RequireSeparateFiles). Then they are
  // locked until the run ends (tOutputLocks), the log until the front end
  // has saved it; a check-only resume locks nothing. EInOutError otherwise.
  void ClaimOutputs(tOutputPlan plan, const tRaster* friction);

  // The "Run settings" block of the log (RunLog.h), after the analysis's own
  // setting lines.
  void LogSettings(tAnalysisKind kind);

  // True when the front end or the run state asks the run to stop.
  bool CancelPending();
  // Progress Round(done / total x 100), then the cancel check.
  bool CheckPoint(uint64_t done, uint64_t total);

  // The log's closing block (files written, time taken), the end steps, then
  // the result.
  tRunResult Finish(tRunOutcome outcome, const std::string& error = {});
  tRunResult Fail(std::exception_ptr error);

private:
  class tRunReporter : public tReporter {
  public:
    explicit tRunReporter(tReporter& inner) : fInner(inner) {}
    void Log(const std::string& line) override;
    void TaskLabel(const std::string& label) override { fInner.TaskLabel(label); }
    void Progress(int percent) override { fInner.Progress(percent); }
    void Items(uint64_t done, uint64_t total) override { fInner.Items(done, total); }
    bool CancelRequested() override { return fInner.CancelRequested(); }
    void Warning(const std::string& message) override;
    void ErrorBox(const std::string& message) override { fInner.ErrorBox(message); }
    std::vector<std::string> Warnings() const;
    void KeepLines() { fKeepLines = true; }
    std::vector<std::string> Lines() const;

  private:
    tReporter& fInner;
    mutable std::mutex fMutex;
    std::vector<std::string> fWarnings;
    bool fKeepLines = false;
    std::vector<std::string> fLines;
  };

  void EndSteps();

  tAnalysisContext& fCtx;
  tRunReporter fLog;
  tRandomGenerator fRandom;
  std::thread::id fThread = std::this_thread::get_id(); // the thread that runs it
  std::vector<tWrittenFile> fFiles;
  std::unique_ptr<tOutputLocks> fLocks;
  bool fEnded = false;
  std::chrono::system_clock::time_point fStarted = std::chrono::system_clock::now();
  std::chrono::steady_clock::time_point fClock = std::chrono::steady_clock::now();
};

class tCorridorMap;

// The files a matrix or sequence run may write, checked before it writes any:
// the report, the journal's files (journal, row digests), and the corridor
// map under base (documentation and image as mapRole; none when corridor is
// null) with the GeoTIFF it ends as, when not empty.
tOutputPlan RunOutputs(const std::string& report, const std::vector<std::string>& journalFiles,
                       const tRaster* corridor, const std::string& base, const std::string& geoTiff,
                       const std::string& mapRole = "corridor map");
// The run's corridor map on disk: a resumed run goes on with the counts there,
// a new one starts all 0.
void OpenCorridorMap(tRun& run, tCorridorMap& corridor, bool resuming);

// Runs body under the run contract; an error it raises ends the run as a
// Failed result after the end steps.
tRunResult RunAnalysis(tAnalysisContext& ctx, const std::function<tRunOutcome(tRun&)>& body);

// Round(done / total x 100), halves to even; 0 when total is 0.
int ProgressPercent(uint64_t done, uint64_t total);

// Appends every line to the log.
void LogLines(tReporter& reporter, const std::vector<std::string>& lines);

// MapName of every map of a role, in list order.
std::vector<std::string> MapNames(const std::vector<std::unique_ptr<tLiveRaster>>& maps);

// Logs the algorithm line ("Algorithm: fixed-width strip", ...) of the
// settings; ERangeError for an algorithm outside the list.
void LogAlgorithm(tReporter& log, const TAnalysisSettings& settings);
// The log's name of a cell rule.
const char* CellRuleName(tCellRule rule);
// The name of the settings' minimisation criterion; ERangeError outside the list.
std::string CriterionName(int32_t minimise);

// Both sequence runs open their log entry alike: banner, binary map names,
// the location sequence file.
void LogSequenceBanner(tRun& run);
// "2 Days": the ignore time with its unit's item text (no text for a unit
// outside the list).
std::string IgnoreTimeText(const TAnalysisSettings& settings);
// IgnoreThreshold of the settings, logged when IgnoreTime is at least 1.
double LogIgnoreThreshold(tRun& run);
// Sequence runs and the bootstrap refuse the resistance distance with this.
inline constexpr const char* kResistanceMatrixOnly =
    "The resistance distance is computed by the population matrix analysis only; the location "
    "sequence analysis and the bootstrap support the strips and the least-cost paths.";
// Logs the algorithm line of a sequence run and, for least-cost paths, opens
// the friction map (none for strips). Refuses the resistance distance
// (EInvalidOperation, kResistanceMatrixOnly).
std::unique_ptr<tRaster> OpenSequenceAlgorithm(tRun& run);
// Both sequence runs end as an error when no sequence was read; the message
// goes on with the error that ended the last read, if one did.
inline constexpr const char* kBadSequenceFile =
    "Sequence file badly formatted. Process interrupted.";
void RequireLocations(const tLocationSequence& sequence);

// True when (x, y) falls on a cell of the map's grid (RowOfY / ColOfX).
bool PointOnGrid(const tRaster& map, double x, double y);

// No path can start or end off the map (PointGrids: the friction map, or a
// strip's maps). Every listed location off a grid is logged as "Location
// <k>\t<x>\t<y> *** Outside of the map ***"; then, if there was one, the run
// stops with the outside-points error, which lists them too (and, when none
// is on the map, NoPointOnMapNote), before any path is computed.
void RefuseOffMapLocations(const tLocations& locations, const std::vector<std::size_t>& indices,
                           const std::vector<const tRaster*>& grids, tReporter& log);

// "(x, y)" with up to 15 significant digits.
std::string PointText(double x, double y);

// The search error of a path with what the path was for ("pair 2-7: ..."),
// after the original text and of the same type, so callers treat it alike.
[[noreturn]] void RaiseInContext(const EAssertionFailed& e, const std::string& context);

} // namespace stravex
