// stravex-cli matrix | sequence | bootstrap: the three analyses with every
// setting of the window, the maps checked as the window checks them.
#include "Commands.h"
#include "ConsoleReporter.h"
#include "analysis/Analyses.h"
#include "analysis/AnalysisSettings.h"
#include "analysis/LocationSequence.h"
#include "analysis/MapSet.h"
#include "analysis/OutputCheck.h"
#include "analysis/ReportWriter.h"
#include "base/AtomicFile.h"
#include "base/Errors.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace stravex::cli {

namespace {

namespace fs = std::filesystem;

enum class tCommand { Matrix, Sequence, Bootstrap };

// The option values of one command, starting at the window's defaults.
struct tRunOptions {
  explicit tRunOptions(const TAnalysisSettings& d)
      : Width(d.PathWidth), Seed(d.Seed), FrictionWeight(d.FrictionWeight),
        LengthWeight(d.LengthWeight), Tolerance(d.ElevationTolerance),
        MaxDistance(d.PairDistanceThreshold), IgnoreTime(d.IgnoreTime), Replicates(d.Bootstraps),
        EchoPoints(d.EchoSamplePoints), EchoMatrices(d.EchoMatrices) {}

  std::vector<std::string> Binary, Quantitative;
  std::string Topography, Data, Project, Friction, Corridor, Log, WorkDir;
  std::string Algorithm = "fixed";
  int Width;
  int Seed;
  std::string Minimise = "sum";
  std::string FrictionWeight, LengthWeight, Tolerance;
  bool OneMapPerPair = false;
  bool PairMatrices = false;
  std::string Direction = "both";
  std::string CellRule = "containing";
  std::string Delaunay = "none";
  int MaxDistance;
  int IgnoreTime;
  std::string IgnoreUnit = "days";
  int Replicates;
  bool DistanceDistribution = false;
  bool Resume = false;
  std::string Shard;
  int Threads = 0;
  bool Quiet = false;
  bool ProjectGiven = false;
  bool ShardGiven = false;
  bool WidthGiven = false;
  bool EchoPoints;
  bool EchoMatrices;
};

const std::map<std::string, TConnectivityAlgorithm> kAlgorithms = {{"fixed", caFixedWidthStrip},
                                                                   {"ratio", caRatioStrip},
                                                                   {"least-cost", caLeastCostPath},
                                                                   {"exact", caExactLeastCost}};
const std::map<std::string, int32_t> kCriteria = {{"sum", 0}, {"mean", 1}, {"sd", 2}};
const std::map<std::string, int32_t> kDirections = {{"up", 1}, {"down", -1}, {"both", 0}};
const std::map<std::string, TDelaunayUse> kDelaunay = {
    {"none", duNone}, {"include", duInclude}, {"restrict", duRestrict}};
const std::map<std::string, int32_t> kIgnoreUnits = {{"seconds", 0}, {"minutes", 1}, {"hours", 2},
                                                     {"days", 3},    {"months", 4},  {"years", 5}};

template <typename T>
std::vector<std::string> Keys(const std::map<std::string, T>& m) {
  std::vector<std::string> keys;
  for (const auto& [k, v] : m) keys.push_back(k);
  return keys;
}

// The weights and the tolerance stay text in the settings: the window's edit
// boxes fall back to a default for a text that does not convert, and the
// user sees the box. A command line shows nothing back, so "2.5." would count
// as 0 and "1e" as 1 without a word: the whole text must be a number.
const CLI::Validator kRealNumber(
    [](std::string& text) {
      const bool plain = !text.empty() &&
                         text.find_first_not_of("0123456789+-.Ee") == std::string::npos;
      if (plain && ParseDecimalText(text)) return std::string();
      std::string_view s = text;
      if (s.size() > 1 && s[0] == '+' && s[1] != '-' && s[1] != '+') s.remove_prefix(1);
      double v = 0;
      const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
      if (plain && res.ec == std::errc::result_out_of_range && res.ptr == s.data() + s.size())
        return "'" + text + "' is out of range";
      return "'" + text + "' is not a number";
    },
    "NUMBER", "");

// Whole numbers in decimal. CLI11 alone reads them with strtoll in base 0,
// so "010" would be 8 and "0x10" 16; blanks around and a "+" stay accepted.
const CLI::Validator kWholeNumber(
    [](std::string& text) {
      std::string_view s = text;
      while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
      while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
      if (s.size() > 1 && s[0] == '+' && s[1] != '-') s.remove_prefix(1);
      int64_t v = 0;
      const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
      if (s.empty() || res.ptr != s.data() + s.size())
        return "'" + text + "' is not a whole number";
      // Beyond 64 bits: left to the range check, which names the range.
      if (res.ec == std::errc()) text = std::to_string(v);
      return std::string();
    },
    "", "");

void AddOptions(CLI::App& cmd, tRunOptions& o, tCommand kind) {
  const bool matrix = kind == tCommand::Matrix;
  const bool bootstrap = kind == tCommand::Bootstrap;

  cmd.add_option("--binary", o.Binary, "Binary and count maps (each must overlay the one before)")
      ->expected(1, -1);
  cmd.add_option("--quantitative", o.Quantitative,
                 "Quantitative maps (each must overlay the one before)")
      ->expected(1, -1);
  cmd.add_option("--topography", o.Topography, "Topography map (DEM); scanned with strips only");
  cmd.add_option("--data", o.Data, matrix ? "Population data file" : "Location sequence file")
      ->required();
  cmd.add_option("--project", o.Project,
                 "Project name, the prefix of every report (default: Friction-FixedStrip, "
                 "Friction-RatioStrip, Friction-LeastCost or Friction-ExactLeastCost after the "
                 "algorithm)");
  cmd.add_option("--algorithm", o.Algorithm,
                 "Path between two points (exact: the least-cost path by a graph search, "
                 "criterion sum only)")
      ->check(CLI::IsMember(Keys(kAlgorithms)))
      ->capture_default_str();
  cmd.add_option(
         "--width", o.Width,
         "Strip width in cells, length:width ratio, or number of least-cost paths; "
         "an even value is raised by one (with a note on stderr); not used by --algorithm exact "
         "(one path per pair: only 1 is accepted)")
      ->check(CLI::Range(kPathWidthRange.Min, kPathWidthRange.Max))
      ->transform(kWholeNumber)
      ->capture_default_str();
  // The options of the least-cost search are refused with strips (see
  // CheckUnusedOptions).
  cmd.add_option("--friction", o.Friction,
                 "Friction map of the least-cost search (must overlay the first map)");
  cmd.add_option("--seed", o.Seed, "Seed of the least-cost search (not used by --algorithm exact)")
      ->check(CLI::Range(kSeedRange.Min, kSeedRange.Max))
      ->transform(kWholeNumber)
      ->capture_default_str();
  cmd.add_option("--minimise", o.Minimise,
                 "Least-cost criterion: friction sum, mean or SD (exact: sum only)")
      ->check(CLI::IsMember(Keys(kCriteria)))
      ->capture_default_str();
  cmd.add_option("--friction-weight", o.FrictionWeight, "Weight of friction in the path cost")
      ->check(kRealNumber)
      ->capture_default_str();
  cmd.add_option("--length-weight", o.LengthWeight, "Weight of path length in the path cost")
      ->check(kRealNumber)
      ->capture_default_str();
  if (!bootstrap)
    cmd.add_option("--corridor", o.Corridor, "Corridor map to write (least-cost paths only)");
  if (matrix) {
    cmd.add_flag("--one-map-per-pair", o.OneMapPerPair, "One corridor map per pair, NAME_iii_jjj");
    cmd.add_option("--direction", o.Direction,
                   "Least-cost paths with a topography map: uphill, downhill or both")
        ->check(CLI::IsMember(Keys(kDirections)))
        ->capture_default_str();
    cmd.add_option("--tolerance", o.Tolerance, "Elevation tolerance of the direction test")
        ->check(kRealNumber)
        ->capture_default_str();
    cmd.add_option("--delaunay", o.Delaunay,
                   "Delaunay column (include) or Delaunay pairs only (restrict)")
        ->check(CLI::IsMember(Keys(kDelaunay)))
        ->capture_default_str();
    cmd.add_option("--max-distance", o.MaxDistance,
                   "Pairs farther apart than this (map units) are skipped")
        ->check(CLI::Range(kPairDistanceThresholdRange.Min, kPairDistanceThresholdRange.Max))
        ->transform(kWholeNumber)
        ->capture_default_str();
    cmd.add_flag("--pair-matrices", o.PairMatrices,
                 "Also write an N x N matrix per pair column (GenDist, GeoDist, every map "
                 "statistic) as PROJECT-COLUMN-matrix.csv beside the report, for R or pandas; "
                 "not written by a cancelled run or a shard");
    cmd.add_flag("--echo-points", o.EchoPoints, "Copy the sample coordinates to the log");
    cmd.add_flag("!--no-echo-matrices", o.EchoMatrices,
                 "Do not copy the distance matrices to the log");
  } else {
    cmd.add_option("--ignore-time", o.IgnoreTime, "Segments shorter than this are ignored")
        ->check(CLI::Range(kIgnoreTimeRange.Min, kIgnoreTimeRange.Max))
        ->transform(kWholeNumber)
        ->capture_default_str();
    cmd.add_option("--ignore-unit", o.IgnoreUnit,
                   "Unit of --ignore-time (a month is 30 days, a year 365)")
        ->check(CLI::IsMember(Keys(kIgnoreUnits)))
        ->capture_default_str();
  }
  if (bootstrap) {
    cmd.add_option("--replicates", o.Replicates, "Random walks per individual")
        ->check(CLI::Range(kBootstrapsRange.Min, kBootstrapsRange.Max))
        ->transform(kWholeNumber)
        ->capture_default_str();
    cmd.add_flag("--distance-distribution", o.DistanceDistribution,
                 "Also write the segment lengths of every individual (PROJECT-Distances.txt)");
  } else {
    cmd.add_option("--threads", o.Threads,
                   "Worker threads (0: one per core); the report does not depend on it")
        ->check(CLI::Range(0, 1024))
        ->transform(kWholeNumber)
        ->capture_default_str();
  }
  if (!bootstrap) {
    cmd.add_flag("--resume", o.Resume,
                 "Continue the report of an interrupted run with the same settings (its journal "
                 "must be beside it); without a report, start anew");
    cmd.add_option("--shard", o.Shard,
                   "K/N: compute only rows K, K+N, K+2N, ... (1-based) into "
                   "PROJECT-...-shard-K-of-N.txt and the corridor map NAME-shard-K-of-N; "
                   "auto/N takes K from a job array (SLURM_ARRAY_TASK_ID, PBS_ARRAY_INDEX, "
                   "PBS_ARRAYID, SGE_TASK_ID, LSB_JOBINDEX). Put the shards together with merge.");
  }
  cmd.add_option("--cell-rule", o.CellRule,
                 "How points become map cells: the cell that contains the point, or the rounded "
                 "rule of earlier versions (to reproduce earlier studies)")
      ->check(CLI::IsMember({"containing", "rounded"}))
      ->capture_default_str();
  cmd.add_option("--log", o.Log, "Write the log of the run to this file (CR LF lines)");
  cmd.add_option("--workdir", o.WorkDir,
                 "Folder that receives the reports and corridor maps (default: current)");
  cmd.add_flag("--quiet", o.Quiet,
               "No progress bar; notes, warnings and errors still go to stderr, the "
               "report:/log: lines to stdout");
}

bool Given(const CLI::App& cmd, const char* option) {
  const CLI::Option* opt = cmd.get_option_no_throw(option);
  return opt && opt->count() > 0;
}

// An option the chosen algorithm does not read would be ignored without a
// word (a corridor map never written, a seed that changes nothing): it is a
// usage error naming both. Only options given on the line count.
void CheckUnusedOptions(const CLI::App& cmd, const tRunOptions& o) {
  const TConnectivityAlgorithm algorithm = kAlgorithms.at(o.Algorithm);
  const std::string by = "--algorithm " + o.Algorithm + " (" +
                         (Given(cmd, "--algorithm") ? "" : "the default; ");
  const auto refuse = [&](const std::string& what, const char* verb, const char* why) {
    throw CLI::ValidationError(what + " " + verb + " " + by + why + ")");
  };
  if (!UsesFriction(algorithm)) {
    for (const char* option : {"--corridor", "--one-map-per-pair"})
      if (Given(cmd, option))
        refuse(option, "is not used by", "corridor maps come from least-cost paths");
    for (const char* option : {"--friction", "--seed", "--minimise", "--friction-weight",
                               "--length-weight", "--direction", "--tolerance"})
      if (Given(cmd, option))
        refuse(option, "is not used by", "it is a setting of the least-cost search");
  }
  if (algorithm == caExactLeastCost) {
    if (Given(cmd, "--seed")) refuse("--seed", "is not used by", "it draws no random paths");
    // The values that say what the exact search does anyway are accepted, so
    // that one line of options serves both least-cost algorithms.
    if (Given(cmd, "--width") && o.Width != 1)
      refuse("--width " + std::to_string(o.Width), "is not possible with",
             "it finds one path per pair");
    if (Given(cmd, "--minimise") && o.Minimise != "sum")
      refuse("--minimise " + o.Minimise, "is not possible with",
             "it minimises the friction sum only");
  }
  // Options that need another option to mean anything.
  if (Given(cmd, "--one-map-per-pair") && o.Corridor.empty())
    throw CLI::ValidationError("--one-map-per-pair needs --corridor NAME (the pair maps are "
                               "named NAME_iii_jjj)");
  for (const char* option : {"--direction", "--tolerance"})
    if (Given(cmd, option) && o.Topography.empty())
      throw CLI::ValidationError(std::string(option) +
                                 " is not used without --topography (uphill and downhill are "
                                 "read on the topography map)");
}

TAnalysisSettings BuildSettings(const tRunOptions& o, tCommand kind) {
  TAnalysisSettings s;
  s.DataStructure = kind == tCommand::Matrix ? dsPopulationMatrix : dsLocationSequence;
  s.Connectivity = kAlgorithms.at(o.Algorithm);
  s.PathWidth = MakeOdd(o.Width);
  s.Seed = o.Seed;
  s.Minimise = kCriteria.at(o.Minimise);
  s.FrictionWeight = o.FrictionWeight;
  s.LengthWeight = o.LengthWeight;
  s.FrictionMapFile = o.Friction;
  s.CorridorMapName = o.Corridor;
  s.OneMapPerPair = o.OneMapPerPair;
  s.PairMatrices = o.PairMatrices;
  s.Direction = kDirections.at(o.Direction);
  s.CellRule = o.CellRule == "rounded" ? crRounded : crContaining;
  s.ElevationTolerance = o.Tolerance;
  s.DelaunayUse = kDelaunay.at(o.Delaunay);
  s.PairDistanceThreshold = o.MaxDistance;
  s.IgnoreTime = o.IgnoreTime;
  s.IgnoreUnit = kIgnoreUnits.at(o.IgnoreUnit);
  s.Bootstraps = o.Replicates;
  s.DistanceDistribution = o.DistanceDistribution;
  s.DataFile = o.Data;
  s.EchoSamplePoints = o.EchoPoints;
  s.EchoMatrices = o.EchoMatrices;
  s.ProjectName = o.Project.empty() ? DefaultProjectName(s.Connectivity) : o.Project;
  s.NameOnCommandLine = !o.Project.empty();
  s.Validate();
  return s;
}

// An error of the command line itself (a missing map, a missing friction map).
class EUsage : public EStravexError {
public:
  using EStravexError::EStravexError;
};

std::string Absolute(const std::string& name) { return AbsolutePath(name); }

std::vector<std::string> Absolute(std::vector<std::string> names) {
  for (std::string& n : names) n = Absolute(n);
  return names;
}

int Run(tRunOptions o, tCommand kind) {
  tConsoleReporter reporter(IsTerminal(2) && !o.Quiet);
  InstallInterruptHandler();
  try {
    if (o.WidthGiven && o.Width % 2 == 0) {
      const TConnectivityAlgorithm a = kAlgorithms.at(o.Algorithm);
      const char* what = a == caFixedWidthStrip ? "strip widths"
                         : a == caRatioStrip    ? "length:width ratios"
                                                : "numbers of least-cost paths";
      reporter.Warning("--width " + std::to_string(o.Width) + " is even; " + what +
                       " are odd: using " + std::to_string(MakeOdd(o.Width)));
    }
    if (o.ProjectGiven && o.Project.empty()) throw EUsage("--project: the project name is empty");
    // An unset variable in a job script must not run the whole study in every task.
    if (o.ShardGiven && o.Shard.empty())
      throw EUsage("--shard: the value is empty; give K/N (K = 1..N) or auto/N");
    // Inputs are named from the caller's folder; reports and corridor maps
    // land in the working folder.
    if (!o.WorkDir.empty()) {
      std::error_code ec;
      if (!fs::is_directory(o.WorkDir, ec))
        throw EUsage("--workdir: " + o.WorkDir + " is not a folder");
      o.Binary = Absolute(o.Binary);
      o.Quantitative = Absolute(o.Quantitative);
      o.Topography = Absolute(o.Topography);
      o.Friction = Absolute(o.Friction);
      o.Data = Absolute(o.Data);
      o.Log = Absolute(o.Log);
    }
    // Refused before anything is read or written: the log is written last.
    if (!o.Log.empty()) RequireWritable(o.Log);
    TAnalysisSettings settings = BuildSettings(o, kind);
    if (o.Binary.empty() && o.Quantitative.empty() && o.Topography.empty())
      throw EUsage("no map to scan: give --binary, --quantitative or --topography");
    if (settings.Connectivity == caLeastCostPath && settings.FrictionMapFile.empty())
      throw EUsage("--algorithm least-cost needs --friction");
    if (settings.Connectivity == caExactLeastCost && settings.FrictionMapFile.empty())
      throw EUsage("--algorithm exact needs --friction");

    // The checks of the window, with its messages; on the command line a
    // refused map ends the program before anything is computed.
    tMapSet maps;
    if (!o.Binary.empty()) maps.LoadBinaryMaps(o.Binary, reporter);
    if (!o.Quantitative.empty()) maps.LoadQuantitativeMaps(o.Quantitative, reporter);
    if (!o.Topography.empty()) maps.LoadTopographyMap(o.Topography, reporter);
    if (!settings.FrictionMapFile.empty())
      maps.CheckFrictionMap(settings.FrictionMapFile, reporter);
    if (reporter.ErrorBoxes() > 0) return kExitError;
    maps.BuildMapList();

    tLocationSequence sequence;
    if (kind != tCommand::Matrix) ReadLocationSequence(settings.DataFile, sequence);

    // Reports and corridor maps are named in full on stdout.
    const std::string workDir = Absolute(o.WorkDir.empty() ? fs::current_path().string()
                                                           : o.WorkDir);
    tRunState state;
    tAnalysisContext ctx{settings, maps,    reporter,
                         state,    workDir, kind == tCommand::Bootstrap ? 1 : o.Threads};
    // Every matrix and sequence run can be resumed after a kill.
    ctx.Journal = kind != tCommand::Bootstrap;
    ctx.Resume = o.Resume;
    if (!o.Log.empty()) ctx.LogFile = Absolute(o.Log);
    if (o.ShardGiven)
      ctx.Shard = ParseShard(o.Shard, [](const char* name) { return std::getenv(name); });
    tRunResult result;
    switch (kind) {
    case tCommand::Matrix: result = PopulationMatrixAnalysis(ctx); break;
    case tCommand::Sequence: result = SequenceAnalysis(ctx, sequence); break;
    case tCommand::Bootstrap: result = SequenceBootstrap(ctx, sequence); break;
    }
    reporter.ClearProgress();
    result.Rethrow();
    std::vector<tWrittenFile> files = result.FilesWritten;
    if (!o.Log.empty()) {
      reporter.SaveLog(o.Log);
      files.push_back({tFileKind::Log, Absolute(o.Log)});
    }
    PrintWrittenFiles(files);
    if (result.Outcome == tRunOutcome::Cancelled) {
      reporter.Error("cancelled; the reports hold the rows written so far");
      return kExitCancelled;
    }
    return kExitOk;
  } catch (const std::exception& e) {
    reporter.ClearProgress();
    reporter.Error(e.what());
    return kExitError;
  }
}

void AddCommand(CLI::App& app, int& exitCode, const char* name, const char* description,
                tCommand kind) {
  auto options = std::make_shared<tRunOptions>(TAnalysisSettings{});
  CLI::App* cmd = app.add_subcommand(name, description);
  AddOptions(*cmd, *options, kind);
  // An app parsed more than once (the option fuzzer's) starts every parse
  // from the defaults: CLI11 leaves options that are not given untouched.
  cmd->preparse_callback([options](std::size_t) { *options = tRunOptions(TAnalysisSettings{}); });
  // Once the command's options are read and checked, also in a parse-only run.
  cmd->parse_complete_callback([cmd, options] { CheckUnusedOptions(*cmd, *options); });
  cmd->footer("Exit status: 0 done, 1 error (also a refused map or a usage error), 130 cancelled "
              "by Ctrl-C.\n");
  cmd->callback([cmd, options, kind, &exitCode] {
    options->ProjectGiven = cmd->count("--project") > 0;
    const CLI::Option* shard = cmd->get_option_no_throw("--shard");
    options->ShardGiven = shard && shard->count() > 0;
    options->WidthGiven = cmd->count("--width") > 0;
    exitCode = Run(*options, kind);
  });
}

} // namespace

void AddMatrixCommand(CLI::App& app, int& exitCode) {
  AddCommand(app, exitCode, "matrix",
             "Population matrix analysis: one report row per pair of sample points "
             "(PROJECT-MatrixAnalysis.txt)",
             tCommand::Matrix);
}

void AddSequenceCommand(CLI::App& app, int& exitCode) {
  AddCommand(app, exitCode, "sequence",
             "Location sequence analysis: one report row per segment of a track "
             "(PROJECT-SequenceAnalysis.txt)",
             tCommand::Sequence);
}

void AddBootstrapCommand(CLI::App& app, int& exitCode) {
  AddCommand(app, exitCode, "bootstrap",
             "Sequence bootstrap: random walks with the segment lengths of every track "
             "(PROJECT-Bootstraps.txt)",
             tCommand::Bootstrap);
}

} // namespace stravex::cli
