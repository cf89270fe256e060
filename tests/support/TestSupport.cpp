#include "TestSupport.h"

#include "CliSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace stravex::test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "stravex-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  fPath = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(fPath, ec);
}

void RecordingReporter::Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(fMutex);
  logs.push_back(line);
}
void RecordingReporter::TaskLabel(const std::string& label) {
  std::lock_guard<std::mutex> lock(fMutex);
  labels.push_back(label);
}
void RecordingReporter::Progress(int percent) {
  std::lock_guard<std::mutex> lock(fMutex);
  progress.push_back(percent);
}
bool RecordingReporter::CancelRequested() {
  std::lock_guard<std::mutex> lock(fMutex);
  ++polls;
  return cancelAfterPolls >= 0 && polls > cancelAfterPolls;
}
void RecordingReporter::Warning(const std::string& message) {
  std::lock_guard<std::mutex> lock(fMutex);
  warnings.push_back(message);
}
void RecordingReporter::ErrorBox(const std::string& message) {
  std::lock_guard<std::mutex> lock(fMutex);
  errors.push_back(message);
}

std::vector<std::string> RecordingReporter::AnalysisLogs() const {
  std::vector<std::string> kept;
  const auto starts = [](const std::string& line, const char* prefix) {
    return line.rfind(prefix, 0) == 0;
  };
  for (std::size_t i = 0; i < logs.size(); ++i) {
    const std::string next = i + 1 < logs.size() ? logs[i + 1] : std::string();
    if (logs[i].empty() && next == "Run settings") {
      i += 2; // blank line, title, underline
      while (i + 1 < logs.size() &&
             (logs[i + 1].find(":\t") != std::string::npos || starts(logs[i + 1], "\t")))
        ++i;
    } else if (logs[i].empty() && starts(next, "Files written:")) {
      while (i < logs.size() && !starts(logs[i], "Run completed") &&
             !starts(logs[i], "Run cancelled") && !starts(logs[i], "Run failed"))
        ++i;
    } else {
      kept.push_back(logs[i]);
    }
  }
  return kept;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out << bytes;
}

bool HaveProgram(const std::string& name) {
  return RunProgram("/bin/sh", {"-c", "command -v \"$1\"", "sh", name}, "/").status == 0;
}

} // namespace stravex::test
