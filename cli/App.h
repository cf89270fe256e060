#pragma once
// The whole of stravex-cli apart from main: the commands set up on one
// CLI::App and the parse of a command line, shared by the program, its tests
// and the option-parser fuzzer.
#include <CLI/CLI.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace stravex::cli {

// Registers every command and --version on app. exitCode receives the status
// of the command that ran. parseOnly: a line is parsed and checked but no
// command runs (status 0 when it parses), so nothing touches a file.
void BuildApp(CLI::App& app, int& exitCode, bool parseOnly);

// A command line other than the batch line (element 0 is the program):
// usage on err with status 1 when there is no argument, "unknown command"
// (with the closest command, if one is close) and the list of commands when
// argument 1 names none, else the parse and the chosen command. Help and
// version go to out; parser messages go to err, each line after
// "stravex-cli: ", an unknown option named with the closest known one.
int RunApp(CLI::App& app, int& exitCode, const std::vector<std::string>& args, std::ostream& out,
           std::ostream& err);

} // namespace stravex::cli
