#pragma once
// The unattended run: "x" MAPLIST LOG DATA NAME, then settings by position
// (6..21). A population matrix analysis over the binary maps of a map list,
// whose log is saved to a file when the run ends without error.
#include "Reporter.h"

#include <mutex>
#include <string>
#include <vector>

namespace stravex {

enum class tBatchOutcome {
  NothingToDo, // fewer than five arguments after the program name
  Completed,
  Cancelled,   // stopped at a check point; the log is still saved
};

// args: element k is position k, element 0 the program.
// Steps: the map-list file (a relative name is taken from the caller's
// current folder) gives its folder to the process as the current working
// folder, so that the maps it lists, the log file, the data file, the friction
// map and the report resolve from there; its maps are loaded as binary and
// count maps (refused maps are shown through reporter.ErrorBox and skipped);
// positions 4 and 5, then 6..21 are applied; the analysis runs with `threads`
// workers (0: one per core); the log lines of the run are saved to the file
// of position 3, CR LF ended.
// Errors (conversion of a position, unreadable files, the analysis's own)
// propagate and the log is not saved. The working folder stays changed.
tBatchOutcome RunBatch(const std::vector<std::string>& args, tReporter& reporter, int threads = 1);

// Forwards everything to another reporter and keeps the log lines, a text
// with line breaks split into several lines. Safe to call from several threads.
class tLogRecorder : public tReporter {
public:
  explicit tLogRecorder(tReporter& inner) : fInner(inner) {}
  void Log(const std::string& line) override;
  void TaskLabel(const std::string& label) override { fInner.TaskLabel(label); }
  void Progress(int percent) override { fInner.Progress(percent); }
  bool CancelRequested() override { return fInner.CancelRequested(); }
  void Warning(const std::string& message) override { fInner.Warning(message); }
  void ErrorBox(const std::string& message) override { fInner.ErrorBox(message); }
  void ProcessMessages() override { fInner.ProcessMessages(); }

  std::vector<std::string> Lines() const;

private:
  tReporter& fInner;
  mutable std::mutex fMutex;
  std::vector<std::string> fLines;
};

// The lines of a text: a break is CR LF, LF or a lone CR. "" gives one empty
// line; a final break does not add an empty line after it.
std::vector<std::string> SplitLines(const std::string& text);

// Writes the lines, each ended by CR LF, to a file created anew; EInOutError
// naming the file when it cannot be written.
void SaveLogLines(const std::string& fileName, const std::vector<std::string>& lines);

} // namespace stravex
