#include "Commands.h"
#include "IdrisiEnv.h"

#include <iostream>

namespace stravex::cli {

void PrintWrittenFiles(const std::vector<tWrittenFile>& files) {
  const std::pair<tFileKind, const char*> kinds[] = {{tFileKind::Report, "report: "},
                                                     {tFileKind::CorridorMap, "corridor map: "},
                                                     {tFileKind::Journal, "journal: "},
                                                     {tFileKind::Log, "log: "}};
  for (const auto& [kind, label] : kinds)
    for (const tWrittenFile& f : files)
      if (f.Kind == kind) std::cout << label << f.Path << '\n';
}

} // namespace stravex::cli

int main(int argc, char** argv) {
  namespace cli = stravex::cli;
  CLI::App app{"Stravex: landscape connectivity along paths between sample points", "stravex-cli"};
  app.require_subcommand(1);
  int exitCode = cli::kExitOk;
  try {
    stravex::InitIdrisiEnvironment();
  } catch (const std::exception& e) {
    std::cerr << "stravex-cli: " << e.what() << '\n';
    return cli::kExitError;
  }

  // The batch line is positional through and through (position 15 may hold
  // anything, a name may start with "-"), so it bypasses the option parser.
  const std::vector<std::string> args(argv, argv + argc);
  if (cli::IsBatchInvocation(args)) return cli::RunBatchCommand(args);

  cli::AddInfoCommand(app, exitCode);
  cli::AddMatrixCommand(app, exitCode);
  cli::AddSequenceCommand(app, exitCode);
  cli::AddBootstrapCommand(app, exitCode);
  cli::AddBatchCommand(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? cli::kExitOk : cli::kExitError;
  }
  return exitCode;
}
