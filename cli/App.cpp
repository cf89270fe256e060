#include "App.h"

#include "Commands.h"
#include "analysis/RunLog.h"
#include "base/TextUtils.h"
#include "base/Version.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>

namespace stravex::cli {

void PrintWrittenFiles(const std::vector<tWrittenFile>& files) {
  for (const tFileKind kind : kFileKindOrder)
    for (const tWrittenFile& f : files)
      if (f.Kind == kind) std::cout << FileKindLabel(kind) << ": " << f.Path << '\n';
}

void BuildApp(CLI::App& app, int& exitCode, bool parseOnly) {
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("stravex-cli ") + kVersionText,
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

// Edit distance with a swap of two neighbours counting as one edit, ignoring
// letter case: "matirx" is one edit from "matrix".
std::size_t Distance(const std::string& typed, const std::string& known) {
  const std::string a = LowerAscii(typed), b = LowerAscii(known);
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

std::string WithoutDashes(const std::string& name) {
  const std::size_t k = name.find_first_not_of('-');
  return k == std::string::npos ? std::string() : name.substr(k);
}

// The known name closest to a typed one: at most two edits away (fewer for
// short names, or every typo would find "x"), else the only name the typed
// text begins. Names are compared without their leading dashes.
std::optional<std::string> Closest(const std::string& typed,
                                   const std::vector<std::string>& known) {
  const std::string t = WithoutDashes(typed);
  std::optional<std::string> best;
  std::size_t bestDistance = 3;
  for (const std::string& k : known) {
    const std::string name = WithoutDashes(k);
    if (t.size() > name.size() + 2) continue; // more than two edits
    const std::size_t d = Distance(t, name);
    if (d < bestDistance && 2 * d < name.size()) {
      best = k;
      bestDistance = d;
    }
  }
  if (best || t.size() < 3) return best;
  for (const std::string& k : known)
    if (LowerAscii(WithoutDashes(k)).rfind(LowerAscii(t), 0) == 0) {
      if (best) return std::nullopt;
      best = k;
    }
  return best;
}

std::string DidYouMean(const std::optional<std::string>& name, const char* quote) {
  return name ? std::string("; did you mean ") + quote + *name + quote + "?" : std::string();
}

std::vector<const CLI::App*> Commands(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App*) { return true; });
}

const CLI::App* CommandNamed(const CLI::App& app, const std::string& name) {
  for (const CLI::App* cmd : Commands(app))
    if (cmd->check_name(name)) return cmd;
  return nullptr;
}

// The first argument that looks like an option and is none of the command's
// (or the program's: --help, --version), with the closest option's name.
// CLI11 reports such an argument among "arguments not expected", or not at
// all when another error comes first (a missing --data for a mistyped one).
std::optional<std::string> UnknownOptionMessage(const CLI::App& app,
                                                const std::vector<std::string>& args) {
  const CLI::App* cmd = args.size() > 1 ? CommandNamed(app, args[1]) : nullptr;
  for (std::size_t i = cmd ? 2 : 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") break;
    if (a.size() < 2 || a[0] != '-') continue;
    // A negative number is a value.
    if ((a[1] >= '0' && a[1] <= '9') || a[1] == '.') continue;
    const std::string name = a.substr(0, a.find('='));
    if ((cmd && cmd->get_option_no_throw(name)) || app.get_option_no_throw(name)) continue;
    std::vector<std::string> known;
    for (const CLI::Option* opt : (cmd ? *cmd : app).get_options())
      for (const std::string& l : opt->get_lnames()) known.push_back("--" + l);
    return "unknown option " + name + DidYouMean(Closest(name, known), "");
  }
  return std::nullopt;
}

// CLI11 reads "--width=" as an option without its value ("1 required INT
// missing"); the text given is the empty one.
std::optional<std::string> EmptyValueMessage(const std::vector<std::string>& args) {
  for (std::size_t i = 1; i < args.size() && args[i] != "--"; ++i)
    if (args[i].size() > 3 && args[i].rfind("--", 0) == 0 && args[i].back() == '=' &&
        args[i].find('=') == args[i].size() - 1)
      return args[i].substr(0, args[i].size() - 1) + ": the value after '=' is empty";
  return std::nullopt;
}

// Every line of a parser error as "stravex-cli: LINE"; an unknown option is
// named with the closest known one instead of CLI11's own words.
void PrintParseError(const CLI::App& app, const std::vector<std::string>& args,
                     const std::string& message, std::ostream& err) {
  std::optional<std::string> own = UnknownOptionMessage(app, args);
  if (!own) own = EmptyValueMessage(args);
  std::istringstream lines(own ? *own : message);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) err << "stravex-cli: " << line << '\n';
}

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
  if ((first.empty() || first.front() != '-') && !CommandNamed(app, first)) {
    std::vector<std::string> names;
    for (const CLI::App* cmd : Commands(app)) names.push_back(cmd->get_name());
    err << "stravex-cli: unknown command '" << first << "'"
        << DidYouMean(Closest(first, names), "'") << '\n';
    PrintCommands(app, err);
    return kExitError;
  }
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    // Help, version and the parse-only success print as CLI11 prints them.
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success))
      return app.exit(e, out, err) == 0 ? kExitOk : kExitError;
    PrintParseError(app, args, e.what(), err);
    return kExitError;
  } catch (const std::out_of_range&) {
    PrintParseError(app, args, OutOfRangeMessage(args), err);
    return kExitError;
  }
  return exitCode;
}

} // namespace stravex::cli
