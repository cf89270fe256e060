#pragma once
// The command line's reporter: keeps the log lines in memory (for a log file),
// prints the messages the window would show in a box on stderr, draws a
// progress bar on stderr when it is a terminal, and answers the cancel check
// from the Ctrl-C flag.
#include "base/Reporter.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace stravex::cli {

// SIGINT sets the interrupt flag instead of ending the program; a second
// Ctrl-C ends it at once (the handler resets itself).
void InstallInterruptHandler();
bool InterruptRequested();

class tConsoleReporter : public tReporter {
public:
  explicit tConsoleReporter(bool progressBar);
  ~tConsoleReporter() override;
  tConsoleReporter(const tConsoleReporter&) = delete;
  tConsoleReporter& operator=(const tConsoleReporter&) = delete;

  void Log(const std::string& line) override;
  void TaskLabel(const std::string& label) override;
  void Progress(int percent) override;
  bool CancelRequested() override;
  void Warning(const std::string& message) override;
  void ErrorBox(const std::string& message) override;

  // An error that ends the program, on stderr like a box message.
  void Error(const std::string& message);
  // Removes the progress bar from the terminal line.
  void ClearProgress();

  std::vector<std::string> LogLines() const;
  // The log lines, CR LF ended, to a file created anew.
  void SaveLog(const std::string& fileName) const;
  // Number of error boxes shown so far.
  int ErrorBoxes() const;

private:
  void Print(const std::string& message);
  void DrawLocked();
  void ClearLocked();

  mutable std::mutex fMutex;
  bool fBar;
  bool fBarShown = false;
  std::string fLabel;
  int fPercent = 0;
  int fErrorBoxes = 0;
  std::vector<std::string> fLog;
};

// True when the file descriptor is a terminal.
bool IsTerminal(int fd);

} // namespace stravex::cli
