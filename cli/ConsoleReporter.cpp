#include "ConsoleReporter.h"

#include "analysis/BatchRun.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace stravex::cli {

namespace {

// Lock-free, so reading and setting it is safe in a signal handler.
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) { gInterrupted.store(true); }

constexpr int kBarWidth = 30;

} // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // The second Ctrl-C finds the default action again and ends the program.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

bool InterruptRequested() { return gInterrupted.load(); }

bool IsTerminal(int fd) { return isatty(fd) == 1; }

tConsoleReporter::tConsoleReporter(bool progressBar) : fBar(progressBar) {}

tConsoleReporter::~tConsoleReporter() { ClearProgress(); }

void tConsoleReporter::Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(fMutex);
  for (std::string& l : SplitLines(line)) fLog.push_back(std::move(l));
}

void tConsoleReporter::TaskLabel(const std::string& label) {
  std::lock_guard<std::mutex> lock(fMutex);
  if (label == fLabel) return;
  fLabel = label;
  DrawLocked();
}

void tConsoleReporter::Progress(int percent) {
  std::lock_guard<std::mutex> lock(fMutex);
  if (percent == fPercent && fBarShown) return;
  fPercent = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
  DrawLocked();
}

bool tConsoleReporter::CancelRequested() { return InterruptRequested(); }

void tConsoleReporter::Warning(const std::string& message) { Print(message); }

void tConsoleReporter::ErrorBox(const std::string& message) {
  {
    std::lock_guard<std::mutex> lock(fMutex);
    ++fErrorBoxes;
  }
  Print(message);
}

void tConsoleReporter::Error(const std::string& message) { Print(message); }

void tConsoleReporter::Print(const std::string& message) {
  std::lock_guard<std::mutex> lock(fMutex);
  ClearLocked();
  // Every line names the program, also of a message with line breaks.
  for (const std::string& line : SplitLines(message))
    std::fprintf(stderr, "stravex-cli: %s\n", line.c_str());
  std::fflush(stderr);
  DrawLocked();
}

void tConsoleReporter::ClearProgress() {
  std::lock_guard<std::mutex> lock(fMutex);
  ClearLocked();
}

void tConsoleReporter::DrawLocked() {
  if (!fBar) return;
  // The idle state ("Ready", 0 %) shows no bar.
  if (fLabel.empty() || fLabel == "Ready") {
    ClearLocked();
    return;
  }
  const int filled = fPercent * kBarWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '.');
  std::fprintf(stderr, "\r\x1b[2K%s [%s] %3d%%", fLabel.c_str(), bar.c_str(), fPercent);
  std::fflush(stderr);
  fBarShown = true;
}

void tConsoleReporter::ClearLocked() {
  if (!fBarShown) return;
  std::fputs("\r\x1b[2K", stderr);
  std::fflush(stderr);
  fBarShown = false;
}

std::vector<std::string> tConsoleReporter::LogLines() const {
  std::lock_guard<std::mutex> lock(fMutex);
  return fLog;
}

void tConsoleReporter::SaveLog(const std::string& fileName) const {
  SaveLogLines(fileName, LogLines());
}

int tConsoleReporter::ErrorBoxes() const {
  std::lock_guard<std::mutex> lock(fMutex);
  return fErrorBoxes;
}

} // namespace stravex::cli
