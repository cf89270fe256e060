#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

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

int RunCommand(const std::string& command, std::string& out) {
  out.clear();
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveProgram(const std::string& name) {
  std::string out;
  return RunCommand("command -v " + name + " >/dev/null 2>&1 && echo yes", out) == 0 &&
         out.find("yes") != std::string::npos;
}

} // namespace stravex::test
