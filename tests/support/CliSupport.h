#pragma once
// Running stravex-cli (or a helper program) as a separate process, and
// comparing produced files with the committed expected copies.
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace stravex::test {

struct tCliRun {
  int status = -1; // exit status; -1 when ended by a signal or not started
  std::string out, err;
};

// Runs `program` with the arguments as they are (no shell: any character is
// safe), from the folder `cwd`, and waits for it. fileSizeLimit > 0: no file
// the program writes may grow beyond that many bytes (RLIMIT_FSIZE, with
// SIGXFSZ ignored, so the write fails with "File too large").
tCliRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& cwd, uint64_t fileSizeLimit = 0);

// RunProgram on stravex-cli.
tCliRun RunCli(const std::vector<std::string>& args, const std::string& cwd);

// RunCli under a file-size limit in bytes.
tCliRun RunCliWithFileSizeLimit(const std::vector<std::string>& args, const std::string& cwd,
                                uint64_t limitBytes);

// Starts stravex-cli without waiting, stdout and stderr to the given files;
// returns its pid, or -1.
pid_t StartCli(const std::vector<std::string>& args, const std::string& cwd,
               const std::string& outFile, const std::string& errFile);

// Byte comparison of two files; a failure names the first differing line.
void ExpectSameFile(const std::string& actualPath, const std::string& expectedPath);
// A log's text with the start time's value blanked and the closing block
// (files written, time taken) cut off: what two runs of the same settings log
// alike.
std::string WithoutRunTimes(std::string text);
// ExpectSameFile for two logs (or journals) of runs of the same settings: their
// start times and closing blocks (files written, time taken) may differ.
void ExpectSameRunLog(const std::string& actualPath, const std::string& expectedPath);

// Runs `gdal_translate -q OPTIONS FROM TO`; a failure fails the calling test
// (check HasFatalFailure() or wrap in ASSERT_NO_FATAL_FAILURE).
void GdalTranslate(const std::vector<std::string>& options, const std::string& from,
                   const std::string& to);

// GDAL's IDRISI reader takes a "flag value : none" beside "no background" for
// a nodata value of 0; such maps are converted without one.
std::vector<std::string> GdalNoDataOptions(const std::string& rdcPath);

// ExpectSameFile against a committed expected file; with
// STRAVEX_UPDATE_EXPECTED=1 in the environment the expected file is rewritten
// from actualPath instead.
void ExpectMatchesGolden(const std::string& actualPath, const std::string& expectedPath);

} // namespace stravex::test
