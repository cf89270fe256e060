// stravex-cli merge SHARD_REPORT...: the shards of a sharded run (job-array
// tasks) into the report and corridor map of the whole run.
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

struct tMergeOptions {
  std::vector<std::string> Reports;
  std::string WorkDir, Log;
  bool Quiet = false;
};

std::string Absolute(const std::string& name) { return AbsolutePath(name); }

int RunMerge(const tMergeOptions& o) {
  // No progress bar, --quiet or not: a merge only copies rows.
  tConsoleReporter reporter(false);
  try {
    std::error_code ec;
    if (!o.WorkDir.empty() && !fs::is_directory(o.WorkDir, ec))
      throw EInOutError("--workdir: " + o.WorkDir + " is not a folder");
    // The log is one of the merge's files: written only when all are.
    const std::vector<tWrittenFile> files = MergeShards(
        o.Reports, o.WorkDir.empty() ? fs::current_path().string() : Absolute(o.WorkDir), reporter,
        o.Log.empty() ? std::string() : Absolute(o.Log));
    PrintWrittenFiles(files);
    return kExitOk;
  } catch (const std::exception& e) {
    reporter.Error(e.what());
    return kExitError;
  }
}

} // namespace

void AddMergeCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<tMergeOptions>();
  CLI::App* cmd = app.add_subcommand(
      "merge", "Merge the shard reports of a sharded matrix or sequence run (--shard) into the "
               "report and corridor map of the whole run");
  cmd->add_option("SHARD_REPORT", options->Reports,
                  "The N reports PROJECT-MatrixAnalysis-shard-K-of-N.txt (or -SequenceAnalysis-) "
                  "of one run; journals and corridor shards are found beside them")
      ->required();
  cmd->add_option("--workdir", options->WorkDir,
                  "Folder that receives the report and corridor map (default: current)");
  cmd->add_option("--log", options->Log, "Write the log of the run to this file (CR LF lines)");
  // Accepted so that the flags of a study's runs serve its merge too.
  cmd->add_flag("--quiet", options->Quiet,
                "No progress output (a merge draws none); warnings and errors still go to "
                "stderr, the report:/log: lines to stdout");
  cmd->footer("Exit status: 0 done, 1 error (a shard missing, given twice, unfinished or of "
              "another run; nothing is written then).\n");
  cmd->preparse_callback([options](std::size_t) { *options = tMergeOptions{}; });
  cmd->callback([options, &exitCode] { exitCode = RunMerge(*options); });
}

} // namespace stravex::cli
