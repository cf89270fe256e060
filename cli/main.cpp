#include "Commands.h"
#include "IdrisiEnv.h"

#include <iostream>

int main(int argc, char** argv) {
  CLI::App app{"Stravex: landscape connectivity along paths between sample points", "stravex-cli"};
  app.require_subcommand(1);
  int exitCode = stravex::cli::kExitOk;
  try {
    stravex::InitIdrisiEnvironment();
  } catch (const std::exception& e) {
    std::cerr << "stravex-cli: " << e.what() << '\n';
    return stravex::cli::kExitError;
  }
  stravex::cli::AddInfoCommand(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  return exitCode;
}
