#pragma once
// The one channel through which the core talks to its caller: log lines, the
// task label, progress, the cancel check, and messages the window would show
// in a box. The window shows boxes, the CLI prints to stderr, tests record.
// A run calls its reporter from the thread that runs it; code without a run
// reports to the reporter its caller hands it, or stays silent.
#include <cstdint>
#include <string>

namespace stravex {

class tReporter {
public:
  virtual ~tReporter() = default;
  // One whole line appended to the log (a text with line breaks is several lines).
  virtual void Log(const std::string& line) { (void)line; }
  virtual void TaskLabel(const std::string& label) { (void)label; }
  // 0..100, the rounded percentage of work done.
  virtual void Progress(int percent) { (void)percent; }
  // Items (pairs, segments, walks) done of the run's total, for front ends
  // that show "pair k of N": once before the first item (a resumed run past
  // the items it keeps), then as each is completed.
  virtual void Items(uint64_t done, uint64_t total) {
    (void)done;
    (void)total;
  }
  // Polled at the check points of long loops (after each map, pair, segment, step).
  virtual bool CancelRequested() { return false; }
  // A message the user acknowledges and the work goes on (information style box).
  virtual void Warning(const std::string& message) { (void)message; }
  // A refusal or failure shown in an error-style box; the work may go on.
  virtual void ErrorBox(const std::string& message) { (void)message; }
};

// The reporter of code that was handed none: reports nothing.
tReporter& SilentReporter();
// r, or the silent reporter when r is null.
inline tReporter& ReporterOr(tReporter* r) { return r ? *r : SilentReporter(); }

} // namespace stravex
