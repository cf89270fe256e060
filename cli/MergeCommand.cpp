// stravex-cli merge SHARD_REPORT...: the shards of a sharded run (job-array
// tasks) into the report and corridor map of the whole run.
#include "Command.h"
#include "Commands.h"
#include "ConsoleReporter.h"
#include "analysis/ShardMerge.h"
#include "base/AtomicFile.h"
#include "base/Errors.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace stravex::cli {
namespace {

namespace fs = std::filesystem;

class tMergeCommand final : public tCommand {
public:
  tMergeCommand()
      : tCommand("merge", "Merge the shard reports of a sharded matrix or sequence run (--shard) "
                          "into the report and corridor map of the whole run") {}

  void Declare(CLI::App& cmd) override {
    cmd.add_option("SHARD_REPORT", fReports,
                   "The N reports PROJECT-MatrixAnalysis-shard-K-of-N.txt (or "
                   "-SequenceAnalysis-) of one run; journals and corridor shards are found "
                   "beside them")
        ->required();
    cmd.add_option("--workdir", fWorkDir,
                   "Folder that receives the report and corridor map (default: current)");
    cmd.add_option("--log", fLog, "Write the log of the run to this file (CR LF lines)");
    // Accepted so that the flags of a study's runs serve its merge too.
    cmd.add_flag("--quiet", fQuiet,
                 "No progress output (a merge draws none); warnings and errors still go to "
                 "stderr, the report:/log: lines to stdout");
    cmd.footer("Exit status: 0 done, 1 error (a shard missing, given twice, unfinished or of "
               "another run; nothing is written then).\n");
  }

  void Reset() override {
    fReports.clear();
    fWorkDir.clear();
    fLog.clear();
    fQuiet = false;
  }

  int Run(const CLI::App&) override {
    // No progress bar, --quiet or not: a merge only copies rows.
    tConsoleReporter reporter(false);
    try {
      std::error_code ec;
      if (!fWorkDir.empty() && !fs::is_directory(fWorkDir, ec))
        throw EInOutError("--workdir: " + fWorkDir + " is not a folder");
      // The log is one of the merge's files: written only when all are.
      const std::vector<tWrittenFile> files = MergeShards(
          fReports, fWorkDir.empty() ? fs::current_path().string() : AbsolutePath(fWorkDir),
          reporter, fLog.empty() ? std::string() : AbsolutePath(fLog));
      PrintWrittenFiles(files);
      return kExitOk;
    } catch (const std::exception& e) {
      reporter.Error(e.what());
      return kExitError;
    }
  }

private:
  std::vector<std::string> fReports;
  std::string fWorkDir, fLog;
  bool fQuiet = false;
};

} // namespace

void AddMergeCommand(CLI::App& app, int& exitCode) {
  AddCommand(app, exitCode, std::make_shared<tMergeCommand>());
}

} // namespace stravex::cli
