#pragma once
// Each subcommand of stravex-cli registers itself on the application and
// delegates its work to the core.
#include "analysis/Analyses.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace stravex::cli {

// Exit statuses shared by every command. Usage errors (an unknown option, a
// value outside its range or choices) also end with kExitError.
constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitCancelled = 130;

void AddInfoCommand(CLI::App& app, int& exitCode);

// Every file a run wrote on stdout: "report: PATH" lines, then "corridor map:
// PATH" (a map's name without extension), "journal: PATH", "log: PATH".
void PrintWrittenFiles(const std::vector<tWrittenFile>& files);

// "x": registered for its help text only; the batch line itself is read
// position by position, not by the option parser (see IsBatchInvocation).
void AddBatchCommand(CLI::App& app);
// True when argv[1] is "x" (any case) and the line is not just a request for
// the help of "x".
bool IsBatchInvocation(const std::vector<std::string>& args);
// Runs the batch line (element k = position k); returns the exit status.
int RunBatchCommand(const std::vector<std::string>& args);

// "matrix", "sequence", "bootstrap": the three analyses through the core's run path.
void AddMatrixCommand(CLI::App& app, int& exitCode);
void AddSequenceCommand(CLI::App& app, int& exitCode);
void AddBootstrapCommand(CLI::App& app, int& exitCode);

// "merge": the shards of a sharded matrix or sequence run into its report
// and corridor map.
void AddMergeCommand(CLI::App& app, int& exitCode);

} // namespace stravex::cli
