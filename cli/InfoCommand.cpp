// stravex-cli info MAP...: documentation, grid and valid-cell statistics of
// raster maps (IDRISI or read through GDAL), as plain "key: value" lines, one block per map.
#include "Command.h"
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

class tInfoCommand final : public tCommand {
public:
  tInfoCommand()
      : tCommand("info", "Print the documentation, grid and valid-cell statistics of raster maps") {
  }

  void Declare(CLI::App& cmd) override {
    cmd.add_option("MAP", fMaps,
                   "Map, named by its .rst/.rdc (or classic .img/.doc) file or without "
                   "extension, or any raster file GDAL reads")
        ->required();
  }

  void Reset() override { fMaps.clear(); }

  // Every map is described, also after one that cannot be.
  int Run(const CLI::App&) override {
    int status = kExitOk;
    bool first = true;
    for (const std::string& name : fMaps) {
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
        status = kExitError;
      }
    }
    return status;
  }

private:
  std::vector<std::string> fMaps;
};

} // namespace

void AddInfoCommand(CLI::App& app, int& exitCode) {
  AddCommand(app, exitCode, std::make_shared<tInfoCommand>());
}

} // namespace stravex::cli
