#pragma once
// One command of stravex-cli, declared in one place in the manner of GDAL's
// algorithm classes: the constructor names and describes it, Declare adds its
// options in --help order with their ranges and choices, Check refuses
// combinations the parser cannot, and Run does the work.
#include <CLI/CLI.hpp>

#include <memory>
#include <string>

namespace stravex::cli {

class tCommand {
public:
  tCommand(std::string name, std::string description)
      : fName(std::move(name)), fDescription(std::move(description)) {}
  virtual ~tCommand() = default;
  tCommand(const tCommand&) = delete;
  tCommand& operator=(const tCommand&) = delete;

  const std::string& Name() const { return fName; }
  const std::string& Description() const { return fDescription; }

  // The options, bound to the command's own values, and its footer.
  virtual void Declare(CLI::App& cmd) = 0;
  // Every value back to its default before a parse: CLI11 leaves options that
  // are not given untouched, and an app may be parsed more than once (the
  // option fuzzer's).
  virtual void Reset() = 0;
  // Once the options are read and checked, also in a parse-only run; throws
  // CLI::ValidationError for a usage error.
  virtual void Check(const CLI::App& cmd) { (void)cmd; }
  // The work; returns the exit status.
  virtual int Run(const CLI::App& cmd) = 0;

private:
  std::string fName;
  std::string fDescription;
};

// Adds the command to app, which keeps it alive through its callbacks;
// exitCode receives the status of Run.
void AddCommand(CLI::App& app, int& exitCode, std::shared_ptr<tCommand> command);

// True when the option was given on the line (an option the command does not
// have was not).
bool Given(const CLI::App& cmd, const char* option);

} // namespace stravex::cli
