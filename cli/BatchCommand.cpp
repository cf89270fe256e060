// stravex-cli x MAPLIST LOG DATA NAME [positions 6 to 22]: the unattended
// population matrix analysis, read position by position.
#include "Commands.h"
#include "ConsoleReporter.h"
#include "analysis/BatchRun.h"
#include "base/TextUtils.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <iostream>

namespace stravex::cli {

namespace {

const char* const kBatchFooter = R"(Positions (position 0 is the program, 1 is "x"):
   2  map-list file: one map per line, loaded as binary and count maps; its
      folder becomes the working folder, from which the maps, the log file,
      the data file, the friction map and the report are taken
   3  log file, written after the run (not written when the run fails)
   4  population data file
   5  project name, or "none" (any case) for "Friction-FixedStrip"
   6  algorithm: 0 fixed-width strip, 1 ratio strip, 2 least-cost path,
      3 exact least-cost path
   7  fitting function (0 or 1, reserved)      8  stepwise (1 = on, reserved)
   9  friction map                            10  path width / ratio / paths (made odd, 1..99999)
  11  frequency threshold (0..100, reserved)  12  significant only (1 = on, reserved)
  13  significance threshold (reserved)       14  geographic distance (1 = on, reserved)
  15  not read                                16  replicates (reserved)
  17  iterations (reserved)                   18  connectivity dataset (1 = on, reserved)
  19  eco-distance matrix (1 = on, reserved)  20  echo the matrices to the log (1 = on)
  21  echo the sample points to the log (1 = on)
  22  cell rule: 0 the cell that contains the point (default), 1 the rounded
      rule of earlier versions
The line may end after any position from 5 on; with fewer than five arguments
after the program name nothing is run: this text is printed on stderr and the
exit status is 1. Integer positions that hold no integer end the run with
status 1 and no log. Ctrl-C stops after the current pair (status 130; the log
is saved).)";

const char* const kBatchDescription = "Batch mode: x MAPLIST LOG DATA NAME [6..22], a population "
                                      "matrix analysis over the maps of a map list";

// The message and the help of "x" on stderr, for a line without its five
// required positions.
void PrintBatchUsage(const std::vector<std::string>& args) {
  std::cerr << "stravex-cli: " << MissingBatchPositionsMessage(args) << "\n";
  // The text of "x --help", which names the program in its usage line only
  // when the parser has put the command under it.
  CLI::App app{"", "stravex-cli"};
  AddBatchCommand(app);
  const char* const help[] = {"stravex-cli", "x", "--help"};
  try {
    app.parse(3, help);
  } catch (const CLI::CallForHelp& e) {
    app.exit(e, std::cerr, std::cerr);
  }
}

} // namespace

void AddBatchCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("x", kBatchDescription);
  cmd->ignore_case();
  cmd->footer(kBatchFooter);
  // Reached only for "x --help" / "x -h"; every other "x" line is run directly.
  cmd->allow_extras();
}

bool IsBatchInvocation(const std::vector<std::string>& args) {
  if (args.size() < 2 || LowerAscii(args[1]) != "x") return false;
  return !(args.size() == 3 && (args[2] == "--help" || args[2] == "-h"));
}

int RunBatchCommand(const std::vector<std::string>& args) {
  tConsoleReporter reporter(IsTerminal(2));
  InstallInterruptHandler();
  try {
    // Every core: the rows do not depend on the number of threads.
    std::vector<tWrittenFile> files;
    const tBatchOutcome outcome = RunBatch(args, reporter, 0, &files);
    reporter.ClearProgress();
    // The window ends quietly here; a script would take status 0 for a run.
    if (outcome == tBatchOutcome::NothingToDo) {
      PrintBatchUsage(args);
      return kExitError;
    }
    PrintWrittenFiles(files);
    return outcome == tBatchOutcome::Cancelled ? kExitCancelled : kExitOk;
  } catch (const std::exception& e) {
    reporter.Error(e.what());
    return kExitError;
  }
}

} // namespace stravex::cli
