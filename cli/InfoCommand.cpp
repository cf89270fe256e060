// stravex-cli info MAP...: documentation, grid and valid-cell statistics of
// IDRISI raster maps, as plain "key: value" lines, one block per map.
#include "Commands.h"
#include "Errors.h"
#include "IdrisiEnv.h"
#include "Numeric.h"
#include "Raster.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace stravex::cli {
namespace {

namespace fs = std::filesystem;

const char* DataTypeWord(tDataType t) {
  switch (t) {
  case dtByte: return "byte";
  case dtInteger: return "integer";
  case dtDummy: return "dummy";
  case dtReal: return "real";
  default: return "unknown";
  }
}

const char* FileTypeWord(tFileType t) {
  switch (t) {
  case ftAscii: return "ascii";
  case ftBinary: return "binary";
  case ftPackedBinary: return "packed binary";
  default: return "unknown";
  }
}

const char* FlagDefWord(tFlagDef d) {
  switch (d) {
  case fdBackground: return "background";
  case fdNoBackground: return "no background";
  default: return "none";
  }
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Restores the process-wide file generation when a map of the other one has
// been read.
class tGenerationGuard {
public:
  tGenerationGuard() : fClassic(ClassicIdrisi()) {}
  ~tGenerationGuard() { SetIdrisiExtensions(fClassic); }
  tGenerationGuard(const tGenerationGuard&) = delete;
  tGenerationGuard& operator=(const tGenerationGuard&) = delete;

private:
  bool fClassic;
};

struct tMapName {
  std::string base; // path without extension
  bool classic;     // ".img"/".doc" generation
};

// A map may be named by its image or documentation file of either generation,
// or without extension; in that case the generation in force wins when its
// documentation file exists, the other one otherwise.
tMapName ResolveMapName(const std::string& name) {
  const std::string ext = Lower(fs::path(name).extension().string());
  if (ext == ".rst" || ext == ".rdc") return {StripExtension(name), false};
  if (ext == ".img" || ext == ".doc") return {StripExtension(name), true};
  const bool current = ClassicIdrisi();
  const char* currentDoc = current ? ".doc" : ".rdc";
  const char* otherDoc = current ? ".rdc" : ".doc";
  std::error_code ec;
  if (!fs::exists(name + currentDoc, ec) && fs::exists(name + otherDoc, ec)) return {name, !current};
  return {name, current};
}

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

void Line(std::ostream& out, const std::string& key, const std::string& value) {
  out << key << ':';
  if (!value.empty()) out << ' ' << value;
  out << '\n';
}

void Lines(std::ostream& out, const std::string& key, const tStringList& values) {
  for (const std::string& v : values) Line(out, key, v);
}

std::string Real(long double v) { return FormatGeneral(v); }

// 32-bit values (cells, documented range, cell size) in the shortest text that
// reads back as the same float: 320.87 rather than 320.869995117188.
std::string Single(double v) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<float>(v));
  return std::string(buf, res.ptr);
}

// Everything about one map, or an exception; nothing is printed for a map
// that fails half-way.
std::string DescribeMap(const std::string& name) {
  const tMapName resolved = ResolveMapName(name);
  tGenerationGuard guard;
  SetIdrisiExtensions(resolved.classic);

  // Naming the documentation file keeps a dot inside the map's own name intact.
  tLiveRaster map(resolved.base + DocExt());

  if (map.FileType != ftBinary) throw EInOutError(map.MapName() + " is not in binary format.");
  if (map.DataType != dtByte && map.DataType != dtInteger && map.DataType != dtReal)
    throw EInOutError(map.FileName + DocExt() + ": unsupported data type \"" + DataTypeWord(map.DataType) + "\".");

  // The image must hold exactly one record per cell, checked before any memory
  // is sized from the documentation alone (which would trust an arbitrary
  // header); a longer image means the documentation describes another grid.
  const std::string image = map.FileName + ImageExt();
  std::error_code ec;
  const uintmax_t actual = fs::file_size(image, ec);
  if (ec) throw EInOutError(image + " not found.");
  // Cannot wrap: below (2^31)^2 x 4 bytes.
  const uint64_t expected =
      static_cast<uint64_t>(map.Rows) * static_cast<uint64_t>(map.Columns) * static_cast<uint64_t>(map.DataType);
  if (actual != expected)
    throw EInOutError(image + " holds " + std::to_string(actual) + " bytes, " + std::to_string(expected) +
                      " expected for " + std::to_string(map.Rows) + " rows x " + std::to_string(map.Columns) +
                      " columns of " + DataTypeWord(map.DataType) + ".");

  map.LoadData();

  // Own min/max: ComputeMinMax counts flagged cells too.
  uint64_t valid = 0;
  double lo = 0, hi = 0;
  for (int32_t r = 0; r < map.Rows; ++r)
    for (int32_t c = 0; c < map.Columns; ++c) {
      const double v = map.GetCell(r, c);
      if (map.IsMissingValue(static_cast<float>(v))) continue;
      if (valid == 0 || v < lo) lo = v;
      if (valid == 0 || v > hi) hi = v;
      ++valid;
    }
  const uint64_t cells = static_cast<uint64_t>(map.Rows) * static_cast<uint64_t>(map.Columns);

  std::ostringstream out;
  Line(out, "map", map.MapName());
  Line(out, "file", image);
  Line(out, "title", map.Title);
  Line(out, "file format", map.FileFormat);
  Line(out, "data type", DataTypeWord(map.DataType));
  Line(out, "file type", FileTypeWord(map.FileType));
  Line(out, "columns", std::to_string(map.Columns));
  Line(out, "rows", std::to_string(map.Rows));
  Line(out, "cell width", Single(map.CellWidth));
  Line(out, "cell height", Single(map.CellHeight));
  Line(out, "min X", Real(map.MinX));
  Line(out, "max X", Real(map.MaxX));
  Line(out, "min Y", Real(map.MinY));
  Line(out, "max Y", Real(map.MaxY));
  Line(out, "reference system", map.RefSystem);
  Line(out, "reference units", map.RefUnits);
  Line(out, "unit distance", map.UnitDist);
  Line(out, "position error", map.PosError);
  Line(out, "resolution", map.Resolution);
  Line(out, "value units", map.ValueUnits);
  Line(out, "value error", map.ValueError);
  Line(out, "min value", Single(map.MinValue));
  Line(out, "max value", Single(map.MaxValue));
  Line(out, "display min", Single(map.DisplayMin));
  Line(out, "display max", Single(map.DisplayMax));
  Line(out, "flag value", Single(map.FlagValue));
  Line(out, "flag definition", FlagDefWord(map.FlagDef));
  Line(out, "legend categories", std::to_string(map.Legend.size()));
  Lines(out, "legend", map.Legend);
  Lines(out, "comment", map.Comments);
  Lines(out, "lineage", map.Lineage);
  Lines(out, "completeness", map.Completeness);
  Lines(out, "consistency", map.Consistency);
  Line(out, "valid cells", std::to_string(valid));
  Line(out, "missing cells", std::to_string(cells - valid));
  if (valid == 0) {
    Line(out, "statistics", "no valid cells");
  } else {
    map.ComputeMean();
    map.ComputeSD();
    Line(out, "mean", Real(map.Mean));
    Line(out, "SD", Real(map.SD));
    Line(out, "minimum", Single(lo));
    Line(out, "maximum", Single(hi));
  }
  return out.str();
}

void RunInfo(const std::vector<std::string>& maps, int& exitCode) {
  bool first = true;
  for (const std::string& name : maps) {
    try {
      const std::string text = DescribeMap(name);
      if (!first) std::cout << '\n';
      std::cout << text << std::flush;
      first = false;
    } catch (const std::exception& e) {
      // Some core messages ("'abc' is not a valid integer value") do not say
      // which map they are about.
      std::string message = e.what();
      if (message.find(fs::path(name).stem().string()) == std::string::npos) message = name + ": " + message;
      std::cerr << "stravex-cli: " << OneLine(message) << std::endl;
      exitCode = kExitError;
    }
  }
}

} // namespace

void AddInfoCommand(CLI::App& app, int& exitCode) {
  auto maps = std::make_shared<std::vector<std::string>>();
  CLI::App* cmd = app.add_subcommand(
      "info", "Print the documentation, grid and valid-cell statistics of IDRISI raster maps");
  cmd->add_option("MAP", *maps,
                  "Map, named by its .rst/.rdc (or classic .img/.doc) file or without extension")
      ->required();
  cmd->callback([maps, &exitCode] { RunInfo(*maps, exitCode); });
}

} // namespace stravex::cli
