#pragma once
// The unattended run: "x" MAPLIST LOG DATA NAME, then settings by position
// (6..21). A population matrix analysis over the binary maps of a map list,
// whose log is saved to a file when the run ends without error.
#include "analysis/Analyses.h"
#include "analysis/AnalysisSettings.h"
#include "analysis/BatchLine.h"
#include "base/Reporter.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace stravex {

enum class tBatchOutcome {
  NothingToDo, // fewer than five arguments after the program name
  Completed,
  Cancelled, // stopped at a check point; the log is still saved
};

// A batch line resolved against the folder of its map-list file, which is
// the run's working folder: the maps it lists, the log file, the data file,
// the friction map and the report are taken from there.
struct tBatchJob {
  tBatchHead Head;
  std::string WorkDir;
  // The map-list file's names, relative ones taken from WorkDir.
  std::vector<std::string> MapFiles;
  // The log file of position 3, a relative name taken from WorkDir.
  std::string LogFile;
  // The map-list file of position 2, absolute.
  std::string MapListFile;
};

// nullopt when fewer than five arguments follow the program name (nothing to
// do). args: element k is position k. The map-list file is named from the
// caller's current folder. EInOutError when it cannot be found or read.
std::optional<tBatchJob> PrepareBatch(const std::vector<std::string>& args);

// Positions 4 and 5, then 6..21, into the settings; call it after the maps
// of the job have been loaded. EConvertError or ERangeError for a position
// that does not convert or has no meaning; the settings are then unchanged.
void ApplyBatch(const tBatchJob& job, const std::vector<std::string>& args,
                TAnalysisSettings& settings);

// The whole unattended run: PrepareBatch, the job's maps loaded as binary and
// count maps (refused maps are shown through reporter.ErrorBox and skipped),
// ApplyBatch, the population matrix analysis in the job's folder with
// `threads` workers (0: one per core) and, unless it failed, its log lines
// saved to the log file, CR LF ended. Errors (a position that does not
// convert, unreadable files, the analysis's own) are raised and the log is
// not saved. The process's current folder is never changed.
// files, when given, receives the files the run wrote: reports, corridor
// maps and the log.
tBatchOutcome RunBatch(const std::vector<std::string>& args, tReporter& reporter, int threads = 1,
                       std::vector<tWrittenFile>* files = nullptr);

// Forwards everything to another reporter and keeps the log lines, a text
// with line breaks split into several lines. Safe to call from several threads.
class tLogRecorder : public tReporter {
public:
  explicit tLogRecorder(tReporter& inner) : fInner(inner) {}
  void Log(const std::string& line) override;
  void TaskLabel(const std::string& label) override { fInner.TaskLabel(label); }
  void Progress(int percent) override { fInner.Progress(percent); }
  void Items(uint64_t done, uint64_t total) override { fInner.Items(done, total); }
  bool CancelRequested() override { return fInner.CancelRequested(); }
  void Warning(const std::string& message) override { fInner.Warning(message); }
  void ErrorBox(const std::string& message) override { fInner.ErrorBox(message); }

  std::vector<std::string> Lines() const;

private:
  tReporter& fInner;
  mutable std::mutex fMutex;
  std::vector<std::string> fLines;
};

// The lines of a text: a break is CR LF, LF or a lone CR. "" gives one empty
// line; a final break does not add an empty line after it.
std::vector<std::string> SplitLines(const std::string& text);

// Writes the lines, each ended by CR LF, replacing the file atomically; when
// it cannot be written, EInOutError naming the file and the cause, and any
// earlier file stays as it was.
void SaveLogLines(const std::string& fileName, const std::vector<std::string>& lines);

} // namespace stravex
