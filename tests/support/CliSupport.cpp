#include "CliSupport.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace stravex::test {

namespace {

namespace fs = std::filesystem;

// In the child between fork and exec only async-signal-safe calls are made.
// fileSizeLimit > 0: the child may write no file beyond that many bytes, and a
// write that would is refused with "File too large" instead of killing it.
pid_t Start(const std::string& program, const std::vector<std::string>& args,
            const std::string& cwd, const std::string& outFile, const std::string& errFile,
            uint64_t fileSizeLimit = 0) {
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Opened before the fork so that a failure shows here, not as an exit status.
  const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0 || err < 0) {
    ADD_FAILURE() << "cannot create " << outFile << " or " << errFile;
    if (out >= 0) close(out);
    if (err >= 0) close(err);
    return -1;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (fileSizeLimit > 0) {
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN; // kept across exec
      if (sigaction(SIGXFSZ, &ignore, nullptr) != 0 || setrlimit(RLIMIT_FSIZE, &limit) != 0)
        _exit(126);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out);
  close(err);
  if (pid < 0) ADD_FAILURE() << "fork failed";
  return pid;
}

// A line of text with its line break and control characters made visible.
std::string Visible(const std::string& bytes, size_t from) {
  std::string line;
  for (size_t k = from; k < bytes.size() && line.size() < 200; ++k) {
    const char c = bytes[k];
    if (c == '\r')
      line += "\\r";
    else if (c == '\t')
      line += "\\t";
    else if (c == '\n')
      return line + "\\n";
    else
      line += c;
  }
  return line;
}

} // namespace

pid_t StartCli(const std::vector<std::string>& args, const std::string& cwd,
               const std::string& outFile, const std::string& errFile) {
  return Start(STRAVEX_CLI_PATH, args, cwd, outFile, errFile);
}

tCliRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& cwd, uint64_t fileSizeLimit) {
  TempDir streams;
  tCliRun r;
  const pid_t pid = Start(program, args, cwd, streams.file("out"), streams.file("err"),
                          fileSizeLimit);
  if (pid < 0) return r;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) {
      ADD_FAILURE() << "waitpid failed";
      return r;
    }
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  r.out = ReadFileBytes(streams.file("out"));
  r.err = ReadFileBytes(streams.file("err"));
  return r;
}

tCliRun RunCli(const std::vector<std::string>& args, const std::string& cwd) {
  return RunProgram(STRAVEX_CLI_PATH, args, cwd);
}

tCliRun RunCliWithFileSizeLimit(const std::vector<std::string>& args, const std::string& cwd,
                                uint64_t limitBytes) {
  return RunProgram(STRAVEX_CLI_PATH, args, cwd, limitBytes);
}

std::string WithoutRunTimes(std::string text) {
  const std::string started = "Started:\t";
  for (size_t at = text.find(started); at != std::string::npos;
       at = text.find(started, at + started.size())) {
    const size_t end = text.find_first_of("\r\n", at);
    text.replace(at + started.size(), end - at - started.size(), "-");
  }
  const size_t files = text.find("\nFiles written:");
  if (files != std::string::npos) text.resize(files + 1);
  return text;
}

namespace {

void ExpectSameText(const std::string& actual, const std::string& expected,
                    const std::string& actualPath, const std::string& expectedPath) {
  if (actual == expected) return;
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  size_t line = 1, lineStart = 0;
  for (size_t k = 0; k < at; ++k)
    if (expected[k] == '\n') ++line, lineStart = k + 1;
  ADD_FAILURE() << actualPath << " differs from " << expectedPath << " at byte " << at << " (line "
                << line << ", column " << at - lineStart + 1 << "; sizes " << actual.size()
                << " and " << expected.size() << ")\n"
                << "  actual:   " << Visible(actual, lineStart) << "\n"
                << "  expected: " << Visible(expected, lineStart);
}

bool BothExist(const std::string& actualPath, const std::string& expectedPath) {
  if (fs::exists(actualPath) && fs::exists(expectedPath)) return true;
  ADD_FAILURE() << (fs::exists(actualPath) ? expectedPath : actualPath) << " does not exist";
  return false;
}

} // namespace

void ExpectSameFile(const std::string& actualPath, const std::string& expectedPath) {
  if (!BothExist(actualPath, expectedPath)) return;
  ExpectSameText(ReadFileBytes(actualPath), ReadFileBytes(expectedPath), actualPath, expectedPath);
}

void ExpectSameRunLog(const std::string& actualPath, const std::string& expectedPath) {
  if (!BothExist(actualPath, expectedPath)) return;
  ExpectSameText(WithoutRunTimes(ReadFileBytes(actualPath)),
                 WithoutRunTimes(ReadFileBytes(expectedPath)), actualPath, expectedPath);
}

void ExpectMatchesGolden(const std::string& actualPath, const std::string& expectedPath) {
  const char* update = std::getenv("STRAVEX_UPDATE_EXPECTED");
  if (update && std::string(update) == "1") {
    fs::create_directories(fs::path(expectedPath).parent_path());
    fs::copy_file(actualPath, expectedPath, fs::copy_options::overwrite_existing);
    return;
  }
  ExpectSameFile(actualPath, expectedPath);
}

void GdalTranslate(const std::vector<std::string>& options, const std::string& from,
                   const std::string& to) {
  std::vector<std::string> args = {"gdal_translate", "-q"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(from);
  args.push_back(to);
  const tCliRun r = RunProgram("/usr/bin/env", args, "/");
  ASSERT_EQ(r.status, 0) << r.err;
}

std::vector<std::string> GdalNoDataOptions(const std::string& rdcPath) {
  if (ReadFileBytes(rdcPath).find("flag def'n  : background") != std::string::npos) return {};
  return {"-a_nodata", "none"};
}

} // namespace stravex::test
