#pragma once
// Shared test helpers: a scratch folder and a reporter that records.
#include "base/Reporter.h"

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace stravex::test {

// A fresh folder under the system temp folder, removed with its content.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return fPath; }
  std::string file(const std::string& name) const { return (fPath / name).string(); }

private:
  std::filesystem::path fPath;
};

// Records everything the core reports.
class RecordingReporter : public tReporter {
public:
  void Log(const std::string& line) override;
  void TaskLabel(const std::string& label) override;
  void Progress(int percent) override;
  bool CancelRequested() override;
  void Warning(const std::string& message) override;
  void ErrorBox(const std::string& message) override;

  std::vector<std::string> logs, labels, warnings, errors;
  // The logged lines without the run's settings record and closing block
  // (their own tests check those): the analyses' own lines.
  std::vector<std::string> AnalysisLogs() const;
  std::vector<int> progress;
  // CancelRequested answers true once it has been polled this many times (-1: never).
  int cancelAfterPolls = -1;
  int polls = 0;

private:
  std::mutex fMutex;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Whether the shell finds the program (a name on PATH or a path).
bool HaveProgram(const std::string& name);

} // namespace stravex::test
