#include "FuzzTargets.h"

#include "App.h"
#include "Commands.h"
#include "analysis/BatchLine.h"
#include "analysis/LocationSequence.h"
#include "analysis/MapSet.h"
#include "analysis/PopulationFile.h"
#include "base/Errors.h"
#include "raster/IdrisiEnv.h"
#include "raster/MapInfo.h"
#include "raster/Raster.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>

namespace stravex::fuzz {

namespace {

namespace fs = std::filesystem;

void Require(bool promise, const std::string& what) {
  if (!promise) throw EFuzzFinding(what);
}

// One folder per process for the files the readers open, removed at exit.
// The map generation is fixed so that a harness does not depend on an
// idrisi.env next to it.
class tScratch {
public:
  tScratch() {
    SetIdrisiExtensions(false);
    fDir = fs::temp_directory_path() / ("stravex-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(fDir);
  }
  ~tScratch() {
    std::error_code ec;
    fs::remove_all(fDir, ec);
  }
  tScratch(const tScratch&) = delete;
  tScratch& operator=(const tScratch&) = delete;

  std::string Write(const std::string& name, std::string_view bytes) const {
    const std::string path = (fDir / name).string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    Require(f != nullptr, "cannot create " + path);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    Require(std::fclose(f) == 0 && written, "cannot write " + path);
    return path;
  }
  std::string Path(const std::string& name) const { return (fDir / name).string(); }

private:
  fs::path fDir;
};

const tScratch& Scratch() {
  static const tScratch scratch;
  return scratch;
}

std::vector<std::string> Lines(std::string_view input) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos <= input.size()) {
    std::size_t end = input.find('\n', pos);
    if (end == std::string_view::npos) end = input.size();
    lines.emplace_back(input.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

// Counts the log lines so that an echo that was asked for is seen to happen.
class tCountingReporter : public tReporter {
public:
  void Log(const std::string&) override { ++LogLines; }
  void Warning(const std::string&) override { ++Warnings; }
  int LogLines = 0;
  int Warnings = 0;
};

bool Symmetric(const tMatrixOfDouble& m, std::size_t n) {
  if (m.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (m[i].size() != n) return false;
    for (std::size_t j = 0; j < i; ++j)
      if (!(m[i][j] == m[j][i] || (std::isnan(m[i][j]) && std::isnan(m[j][i])))) return false;
  }
  return true;
}

// The batch line as a shell would split the built command: blanks between
// arguments, double quotes around one that may hold blanks.
std::vector<std::string> SplitBuiltLine(const std::string& line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ') {
      ++i;
      continue;
    }
    std::string arg;
    if (line[i] == '"') {
      const std::size_t close = line.find('"', i + 1);
      Require(close != std::string::npos, "unbalanced quote in the built batch line");
      arg = line.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      const std::size_t blank = std::min(line.find(' ', i), line.size());
      arg = line.substr(i, blank - i);
      i = blank;
    }
    args.push_back(arg);
  }
  return args;
}

bool HasQuote(const std::string& s) { return s.find('"') != std::string::npos; }

} // namespace

void RunReadDoc(std::string_view input) {
  const tScratch& scratch = Scratch();
  const std::size_t nul = input.find('\0');
  scratch.Write("map.rdc", input.substr(0, nul));
  const std::string image = scratch.Path("map.rst");
  std::error_code ec;
  fs::remove(image, ec);
  if (nul != std::string_view::npos) scratch.Write("map.rst", input.substr(nul + 1));

  tRaster doc;
  try {
    doc.ReadDoc(scratch.Path("map.rdc"));
  } catch (const EStravexError&) {
    return;
  }
  Require(doc.Columns > 0 && doc.Rows > 0, "ReadDoc accepted a grid without cells");
  Require(!doc.DocMissing, "ReadDoc succeeded on a missing file");

  try {
    const std::string text = FormatMapInfo(DescribeMap(image));
    Require(text.compare(0, 5, "map: ") == 0, "DescribeMap does not start with the map");
  } catch (const EStravexError&) {
    return;
  }
  // Described only when the image holds one record per cell.
  const uintmax_t bytes = fs::file_size(image);
  Require(bytes == static_cast<uint64_t>(doc.Rows) * static_cast<uint64_t>(doc.Columns) *
                       static_cast<uint64_t>(doc.DataType),
          "DescribeMap accepted an image of the wrong size");
}

void RunPopulation(std::string_view input) {
  TAnalysisSettings settings;
  settings.DataFile = Scratch().Write("data.txt", input);
  settings.EchoSamplePoints = true;
  settings.EchoMatrices = true;
  settings.SignificantOnly = true;
  tPopulationData data;
  tCountingReporter reporter;
  tPointFilter filter;
  if (input.size() % 2 == 1) filter = [](double x, double y) { return x <= y; };
  try {
    ReadPopulationFile(settings, data, reporter, filter);
  } catch (const EStravexError&) {
    return;
  }
  const auto n = static_cast<std::size_t>(data.SampleSize);
  Require(data.SampleSize >= 0 && data.SamplePoints.size() == n, "sample points lost");
  Require(Symmetric(data.GeneticDistance, n), "genetic distance not n x n symmetric");
  Require(Symmetric(data.Significance, n), "significance not n x n symmetric");
  Require(data.HasSignificance || !settings.SignificantOnly,
          "SignificantOnly kept without a significance section");
  // A heading and one line per point, a heading and one line per matrix row.
  Require(reporter.LogLines >= 4 + static_cast<int>(n) + 3 + static_cast<int>(n),
          "echo lines missing");
}

void RunSequence(std::string_view input) {
  tLocationSequence seq;
  seq.Locations.push_back({}); // must be replaced whatever happens
  seq.LocationsLoaded = true;
  try {
    ReadLocationSequence(Scratch().Write("tracks.txt", input), seq);
  } catch (const EStravexError&) {
    Require(seq.Locations.empty() && !seq.LocationsLoaded, "a failed read left locations");
    return;
  }
  Require(seq.LocationsLoaded, "a complete read is not marked loaded");
  for (const tLocation& l : seq.Locations)
    Require(std::isfinite(l.Time) && l.Time >= -693593.0 && l.Time < 2958466.0,
            "a location time outside the years 1..9999");
}

void RunMapList(std::string_view input) {
  std::vector<std::string> names;
  try {
    names = tMapSet::ReadMapList(Scratch().Write("maps.txt", input));
  } catch (const EStravexError&) {
    return;
  }
  for (const std::string& name : names) {
    Require(!name.empty(), "an empty map name");
    Require(name.find('\n') == std::string::npos, "a map name across lines");
    const char last = name.back();
    Require(last != '\r' && last != ' ' && last != '\t', "a map name with a trailing blank");
  }
}

void RunBatchLine(std::string_view input) {
  const std::vector<std::string> args = Lines(input);
  const std::optional<tBatchHead> head = ParseBatchHead(args);
  Require(head.has_value() == (args.size() >= 6), "head read with the wrong number of positions");
  if (!head) return;
  (void)IsBatchCommandLine(args);

  TAnalysisSettings settings;
  ApplyBatchHead(*head, settings);
  const std::string before = BuildBatchCommand(settings, "stravex-cli", head->MapListFile);
  try {
    ApplyBatchSettings(args, settings);
  } catch (const EStravexError&) {
    Require(BuildBatchCommand(settings, "stravex-cli", head->MapListFile) == before,
            "a failed position changed the settings");
    return;
  }
  Require(settings.ValidationMessage().empty(), "batch settings out of range");

  // The built line read back gives the same settings, unless a name holds a
  // quote that the line cannot carry.
  const std::string line = BuildBatchCommand(settings, "stravex-cli", head->MapListFile);
  if (HasQuote(head->MapListFile) || HasQuote(settings.DataFile) ||
      HasQuote(settings.ProjectName) || HasQuote(settings.FrictionMapFile))
    return;
  const std::vector<std::string> again = SplitBuiltLine(line);
  // Position 22 (the cell rule) is written only when it is not the default.
  const std::size_t positions = static_cast<std::size_t>(kBatchLastPosition) +
                                (settings.CellRule == crContaining ? 0 : 1);
  Require(again.size() == positions, "the built line does not hold every position");
  const std::optional<tBatchHead> head2 = ParseBatchHead(again);
  Require(head2.has_value(), "the built line has no head");
  TAnalysisSettings reread;
  ApplyBatchHead(*head2, reread);
  try {
    ApplyBatchSettings(again, reread);
  } catch (const EStravexError& e) {
    throw EFuzzFinding(std::string("the built line does not read back: ") + e.what());
  }
  Require(BuildBatchCommand(reread, "stravex-cli", head2->MapListFile) == line,
          "the built line reads back as other settings");
}

void RunCliOptions(std::string_view input) {
  const std::vector<std::string> args = Lines(input);
  // The batch line never reaches the option parser.
  if (cli::IsBatchInvocation(args)) return;
  // Built once: building the app costs far more than parsing a line, and
  // every command starts each parse from its defaults.
  static int exitCode = cli::kExitOk;
  static CLI::App app{"Stravex", "stravex-cli"};
  static const bool built = (cli::BuildApp(app, exitCode, true), true);
  (void)built;
  exitCode = cli::kExitOk;
  std::ostringstream out, err;
  int status = cli::kExitError;
  try {
    status = cli::RunApp(app, exitCode, args, out, err);
  } catch (const CLI::Error&) {
    return;
  }
  Require(status == cli::kExitOk || status == cli::kExitError, "an exit status outside 0, 1");
  Require(status == cli::kExitOk || !err.str().empty(), "a usage error without a message");
}

const std::vector<tFuzzTarget>& FuzzTargets() {
  static const std::vector<tFuzzTarget> targets = {
      {"fuzz_readdoc", RunReadDoc},     {"fuzz_population", RunPopulation},
      {"fuzz_sequence", RunSequence},   {"fuzz_maplist", RunMapList},
      {"fuzz_batchline", RunBatchLine}, {"fuzz_cli_options", RunCliOptions},
  };
  return targets;
}

} // namespace stravex::fuzz
