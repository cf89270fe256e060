#include "App.h"

#include "Commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iostream>

#ifndef STRAVEX_VERSION
#error "STRAVEX_VERSION is set by the build from the project version"
#endif

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

void BuildApp(CLI::App& app, int& exitCode, bool parseOnly) {
  app.require_subcommand(1);
  app.set_version_flag("--version", "stravex-cli " STRAVEX_VERSION,
                       "Print the program's version and exit");
  AddInfoCommand(app, exitCode);
  AddMatrixCommand(app, exitCode);
  AddSequenceCommand(app, exitCode);
  AddBootstrapCommand(app, exitCode);
  AddMergeCommand(app, exitCode);
  AddBatchCommand(app);
  // Runs once the whole line is parsed and checked, before any command's own
  // callback; a success ends the parse there. (Replacing the commands'
  // callbacks would free the option values they own.)
  if (parseOnly) app.parse_complete_callback([] { throw CLI::Success(); });
}

namespace {

void PrintCommands(CLI::App& app, std::ostream& err) {
  err << "Commands:\n";
  for (const CLI::App* cmd : app.get_subcommands([](CLI::App*) { return true; })) {
    std::string name = cmd->get_name();
    name.resize(std::max<std::size_t>(name.size(), 10), ' ');
    err << "  " << name << ' ' << cmd->get_description() << '\n';
  }
  err << "Run 'stravex-cli COMMAND --help' for the options of a command.\n";
}

// CLI11 reads a number given to a flag (--flag=N) with std::stoll and lets its
// std::out_of_range through; this finds the argument for the message.
std::string OutOfRangeMessage(const std::vector<std::string>& args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const std::size_t eq = a.find('=');
    if (a.size() < 2 || a[0] != '-' || eq == std::string::npos) continue;
    const std::string value = a.substr(eq + 1);
    errno = 0;
    (void)std::strtoll(value.c_str(), nullptr, 10); // as std::stoll reads it
    if (errno == ERANGE) return a.substr(0, eq) + ": the value " + value + " is out of range";
  }
  return "a number on the command line is out of range";
}

} // namespace

int RunApp(CLI::App& app, int& exitCode, const std::vector<std::string>& args, std::ostream& out,
           std::ostream& err) {
  if (args.size() < 2) {
    err << app.help();
    return kExitError;
  }
  // An option (--help, --version) is left to the parser.
  const std::string& first = args[1];
  if (first.empty() || first.front() != '-') {
    bool known = false;
    for (const CLI::App* cmd : app.get_subcommands([](CLI::App*) { return true; }))
      known = known || cmd->check_name(first);
    if (!known) {
      err << "stravex-cli: unknown command '" << first << "'\n";
      PrintCommands(app, err);
      return kExitError;
    }
  }
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err) == 0 ? kExitOk : kExitError;
  } catch (const std::out_of_range&) {
    return app.exit(CLI::ConversionError(OutOfRangeMessage(args)), out, err) == 0 ? kExitOk
                                                                                  : kExitError;
  }
  return exitCode;
}

} // namespace stravex::cli
