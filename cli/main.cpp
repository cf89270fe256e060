#include "App.h"
#include "Commands.h"
#include "raster/IdrisiEnv.h"

#include <iostream>

int main(int argc, char** argv) {
  namespace cli = stravex::cli;
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

  CLI::App app{"Stravex: landscape connectivity along paths between sample points", "stravex-cli"};
  int exitCode = cli::kExitOk;
  cli::BuildApp(app, exitCode, false);
  return cli::RunApp(app, exitCode, args, std::cout, std::cerr);
}
