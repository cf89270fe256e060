#pragma once
// Each subcommand of stravex-cli registers itself on the application and
// delegates its work to the core.
#include <CLI/CLI.hpp>

namespace stravex::cli {

// Exit statuses shared by every command.
constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitCancelled = 130;

void AddInfoCommand(CLI::App& app, int& exitCode);

} // namespace stravex::cli
