#pragma once
// The three analyses and their run contract. A run starts by clearing the
// cancel request and setting Running; it reports progress and its task label
// through the context's reporter, checks for cancel after every row, and on
// every way out (end, cancel, error) restores "Ready" and progress 0 and
// clears the run flags. It never throws: an error ends it as a Failed result
// carrying the error's message.
#include "analysis/AnalysisSettings.h"
#include "analysis/LocationSequence.h"
#include "analysis/MapSet.h"
#include "analysis/Shard.h"
#include "base/FileLock.h"
#include "base/RandomFunctions.h"
#include "base/Reporter.h"

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace stravex {

struct tAnalysisContext {
  const TAnalysisSettings& Settings;
  tMapSet& Maps;
  // Receives everything the run reports, from the thread that runs it.
  tReporter& Reporter;
  tRunState& State;
  // The run's working folder: reports and corridor maps are written there,
  // and relative data, friction and corridor names are taken from it. Empty
  // means the current folder.
  std::string WorkDir;
  // Worker threads for pairs and segments; 0 means one per core.
  int Threads = 1;
  // The analyses' generator, owned by the caller and continued by the run
  // (the bootstrap's walks are drawn from it; least-cost runs leave it as a
  // one-thread run would). Null: a generator in the program's start-up state.
  tRandomGenerator* Random = nullptr;
  // Population matrix and sequence runs: keep a journal beside the report
  // so that a run killed at any moment can be resumed.
  bool Journal = false;
  // Continue the report of an interrupted journalled run with the same
  // settings instead of starting anew (implies Journal).
  bool Resume = false;
  // With Resume: the report and its journal are checked as the resumed run
  // checks them, then the run ends before it writes anything (ResumeRefusal).
  bool CheckResumeOnly = false;
  // Population matrix and sequence runs: compute only this shard's rows,
  // into the shard's report and corridor map (implies Journal; the journal
  // records what the merge needs).
  std::optional<tShard> Shard = std::nullopt;
  // The file the front end saves the log to after the run, if any: the log's
  // list of files written names it too.
  std::string LogFile = {};
  // Batch runs: the map-list file the maps were listed in, an input of the
  // run as they are.
  std::string MapListFile = {};
};

// The three kinds of run.
enum class tAnalysisKind { PopulationMatrix, Sequence, Bootstrap };

// How a run ended.
enum class tRunOutcome { Completed, Cancelled, Failed };

// WorkingCopy: a file of the IDRISI copy a cancelled run keeps beside a GeoTIFF
// corridor map, for --resume.
enum class tFileKind { Report, CorridorMap, Log, Journal, PairMatrix, RowDigests, WorkingCopy };

struct tWrittenFile {
  tFileKind Kind = tFileKind::Report;
  // A file's path; a corridor map's name without extension (a GeoTIFF's: its
  // file).
  std::string Path;
  bool operator==(const tWrittenFile&) const = default;
};

struct tRunResult {
  tRunOutcome Outcome = tRunOutcome::Completed;
  // Files the run created and kept, in the order they were created, and last
  // the log of tAnalysisContext::LogFile unless the run failed.
  std::vector<tWrittenFile> FilesWritten;
  // That log's lock: held until the front end has saved the log, so that no
  // other run writes it meanwhile; it goes with the last copy of the result.
  std::shared_ptr<tFileLock> LogLock;
  // Every warning the run reported.
  std::vector<std::string> Warnings;
  // Failed runs: the message to show, and the error itself for callers that
  // tell errors apart by type.
  std::string Error;
  std::exception_ptr ErrorObject;

  // Rethrows the error of a Failed run; nothing otherwise.
  void Rethrow() const {
    if (ErrorObject) std::rethrow_exception(ErrorObject);
  }
  // Paths of the files of one kind, in creation order.
  std::vector<std::string> Files(tFileKind kind) const;
};

tRunResult PopulationMatrixAnalysis(tAnalysisContext& ctx);
tRunResult SequenceAnalysis(tAnalysisContext& ctx, const tLocationSequence& sequence);
tRunResult SequenceBootstrap(tAnalysisContext& ctx, const tLocationSequence& sequence);

// The report files an analysis of these settings writes in workDir (empty:
// the current folder), before it runs: MatrixAnalysis.txt, SequenceAnalysis.txt,
// or Bootstraps.txt and, with the distance distribution, Distances.txt.
std::vector<std::string> PlannedReports(const TAnalysisSettings& settings, bool bootstrap,
                                        const std::string& workDir);

} // namespace stravex
