// stravex-cli info MAP...: documentation, grid and valid-cell statistics of
// raster maps (IDRISI or read through GDAL), as plain "key: value" lines, one block per map.
#include "Commands.h"
#include "raster/MapInfo.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace stravex::cli {
namespace {

namespace fs = std::filesystem;

// One line even when the core's message holds line breaks.
std::string OneLine(std::string message) {
  std::string out;
  bool pendingBreak = false;
  for (char c : message) {
    if (c == '\r' || c == '\n') {
      pendingBreak = true;
      continue;
    }
    if (pendingBreak && !out.empty()) out += ' ';
    pendingBreak = false;
    out += c;
  }
  return out;
}

void RunInfo(const std::vector<std::string>& maps, int& exitCode) {
  bool first = true;
  for (const std::string& name : maps) {
    try {
      const std::string text = FormatMapInfo(DescribeMap(name));
      if (!first) std::cout << '\n';
      std::cout << text << std::flush;
      first = false;
    } catch (const std::exception& e) {
      // Some core messages ("'abc' is not a valid integer value") do not say
      // which map they are about.
      std::string message = e.what();
      if (message.find(fs::path(name).stem().string()) == std::string::npos)
        message = name + ": " + message;
      std::cerr << "stravex-cli: " << OneLine(message) << std::endl;
      exitCode = kExitError;
    }
  }
}

} // namespace

void AddInfoCommand(CLI::App& app, int& exitCode) {
  auto maps = std::make_shared<std::vector<std::string>>();
  CLI::App* cmd = app.add_subcommand(
      "info", "Print the documentation, grid and valid-cell statistics of raster maps");
  cmd->add_option("MAP", *maps,
                  "Map, named by its .rst/.rdc (or classic .img/.doc) file or without extension, "
                  "or any raster file GDAL reads")
      ->required();
  cmd->preparse_callback([maps](std::size_t) { maps->clear(); });
  cmd->callback([maps, &exitCode] { RunInfo(*maps, exitCode); });
}

} // namespace stravex::cli
