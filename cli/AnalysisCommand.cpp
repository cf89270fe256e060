#include "AnalysisCommand.h"

#include "Commands.h"
#include "ConsoleReporter.h"
#include "analysis/OutputCheck.h"
#include "base/AtomicFile.h"
#include "base/Errors.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace stravex::cli {

namespace {

namespace fs = std::filesystem;

const std::map<std::string, TConnectivityAlgorithm> kAlgorithms = {
    {"fixed", caFixedWidthStrip},
    {"ratio", caRatioStrip},
    {"least-cost", caLeastCostPath},
    {"exact", caExactLeastCost},
    {"resistance", caResistanceDistance}};
const std::map<std::string, int32_t> kCriteria = {{"sum", 0}, {"mean", 1}, {"sd", 2}};
const std::map<std::string, int32_t> kIgnoreUnits = {{"seconds", 0}, {"minutes", 1}, {"hours", 2},
                                                     {"days", 3},    {"months", 4},  {"years", 5}};

// An error of the command line itself (a missing map, a missing friction map).
class EUsage : public EStravexError {
public:
  using EStravexError::EStravexError;
};

void MakeAbsolute(std::vector<std::string>& names) {
  for (std::string& n : names) n = AbsolutePath(n);
}

} // namespace

const TAnalysisSettings& DefaultSettings() {
  static const TAnalysisSettings defaults;
  return defaults;
}

// The weights and the tolerance stay text in the settings: the window's edit
// boxes fall back to a default for a text that does not convert, and the
// user sees the box. A command line shows nothing back, so "2.5." would count
// as 0 and "1e" as 1 without a word: the whole text must be a number.
const CLI::Validator& RealNumber() {
  static const CLI::Validator validator(
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
  return validator;
}

// CLI11 alone reads whole numbers with strtoll in base 0, so "010" would be 8
// and "0x10" 16; blanks around and a "+" stay accepted.
const CLI::Validator& WholeNumber() {
  static const CLI::Validator validator(
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
  return validator;
}

CLI::Option* tLeastCostOnly::Corridor(CLI::Option* option) {
  CorridorOptions.push_back(option->get_name());
  return option;
}

CLI::Option* tLeastCostOnly::Search(CLI::Option* option) {
  SearchSettings.push_back(option->get_name());
  return option;
}

void tMapOptions::Declare(CLI::App& cmd, const char* dataHelp) {
  cmd.add_option("--binary", Binary, "Binary and count maps (each must overlay the one before)")
      ->expected(1, -1);
  cmd.add_option("--quantitative", Quantitative,
                 "Quantitative maps (each must overlay the one before)")
      ->expected(1, -1);
  cmd.add_option("--topography", Topography, "Topography map (DEM); scanned with strips only");
  cmd.add_option("--data", Data, dataHelp)->required();
  cmd.add_option("--project", Project,
                 "Project name, the prefix of every report (default: Friction-FixedStrip, "
                 "Friction-RatioStrip, Friction-LeastCost, Friction-ExactLeastCost or "
                 "Friction-Resistance after the algorithm)");
}

void tPathOptions::Declare(CLI::App& cmd, tLeastCostOnly& only) {
  cmd.add_option("--algorithm", Algorithm,
                 "Path between two points (exact: the least-cost path by a graph search, "
                 "criterion sum only; resistance: the effective resistance of the friction map "
                 "read as a grid of resistors, matrix only)")
      ->check(CLI::IsMember(Choices(kAlgorithms)))
      ->capture_default_str();
  cmd.add_option(
         "--width", Width,
         "Strip width in cells, length:width ratio, or number of least-cost paths; "
         "an even value is raised by one (with a note on stderr); not used by --algorithm exact "
         "(one path per pair: only 1 is accepted)")
      ->check(CLI::Range(kPathWidthRange.Min, kPathWidthRange.Max))
      ->transform(WholeNumber())
      ->capture_default_str();
  only.Search(cmd.add_option("--friction", Friction,
                             "Friction map of the least-cost search or the resistance distance "
                             "(must overlay the first map)"));
  only.Search(cmd.add_option("--seed", Seed,
                             "Seed of the least-cost search (not used by --algorithm "
                             "exact)"))
      ->check(CLI::Range(kSeedRange.Min, kSeedRange.Max))
      ->transform(WholeNumber())
      ->capture_default_str();
  only.Search(cmd.add_option("--minimise", Minimise,
                             "Least-cost criterion: friction sum, mean or SD (exact: sum only)"))
      ->check(CLI::IsMember(Choices(kCriteria)))
      ->capture_default_str();
  only.Search(cmd.add_option("--friction-weight", FrictionWeight,
                             "Weight of friction in the path cost"))
      ->check(RealNumber())
      ->capture_default_str();
  only.Search(
          cmd.add_option("--length-weight", LengthWeight, "Weight of path length in the path cost"))
      ->check(RealNumber())
      ->capture_default_str();
}

TConnectivityAlgorithm tPathOptions::Connectivity() const { return kAlgorithms.at(Algorithm); }

void tPathOptions::Apply(TAnalysisSettings& s) const {
  s.Connectivity = Connectivity();
  s.PathWidth = MakeOdd(Width);
  s.Seed = Seed;
  s.Minimise = kCriteria.at(Minimise);
  s.FrictionWeight = FrictionWeight;
  s.LengthWeight = LengthWeight;
  s.FrictionMapFile = Friction;
}

CLI::Option* DeclareCorridor(CLI::App& cmd, std::string& name, tLeastCostOnly& only) {
  return only.Corridor(cmd.add_option(
      "--corridor", name,
      "Corridor map to write (least-cost paths: the paths counted per cell; resistance: "
      "the cumulative current of all pairs, 32-bit reals)"));
}

void tSegmentOptions::Declare(CLI::App& cmd) {
  cmd.add_option("--ignore-time", IgnoreTime, "Segments shorter than this are ignored")
      ->check(CLI::Range(kIgnoreTimeRange.Min, kIgnoreTimeRange.Max))
      ->transform(WholeNumber())
      ->capture_default_str();
  cmd.add_option("--ignore-unit", IgnoreUnit,
                 "Unit of --ignore-time (a month is 30 days, a year 365)")
      ->check(CLI::IsMember(Choices(kIgnoreUnits)))
      ->capture_default_str();
}

void tSegmentOptions::Apply(TAnalysisSettings& s) const {
  s.IgnoreTime = IgnoreTime;
  s.IgnoreUnit = kIgnoreUnits.at(IgnoreUnit);
}

void tJournalOptions::Declare(CLI::App& cmd) {
  cmd.add_option("--threads", Threads,
                 "Worker threads (0: one per core); the report does not depend on it")
      ->check(CLI::Range(0, 1024))
      ->transform(WholeNumber())
      ->capture_default_str();
  cmd.add_flag("--resume", Resume,
               "Continue the report of an interrupted run with the same settings (its journal "
               "must be beside it); without a report, start anew");
  cmd.add_option("--shard", Shard,
                 "K/N: compute only rows K, K+N, K+2N, ... (1-based) into "
                 "PROJECT-...-shard-K-of-N.txt and the corridor map NAME-shard-K-of-N; "
                 "auto/N takes K from a job array (SLURM_ARRAY_TASK_ID, PBS_ARRAY_INDEX, "
                 "PBS_ARRAYID, SGE_TASK_ID, LSB_JOBINDEX). Put the shards together with merge.");
}

void tOutputOptions::Declare(CLI::App& cmd) {
  cmd.add_option("--cell-rule", CellRule,
                 "How points become map cells: the cell that contains the point, or the rounded "
                 "rule of earlier versions (to reproduce earlier studies)")
      ->check(CLI::IsMember({"containing", "rounded"}))
      ->capture_default_str();
  cmd.add_option("--log", Log, "Write the log of the run to this file (CR LF lines)");
  cmd.add_option("--workdir", WorkDir,
                 "Folder that receives the reports and corridor maps (default: current)");
  cmd.add_flag("--quiet", Quiet,
               "No progress bar; notes, warnings and errors still go to stderr, the "
               "report:/log: lines to stdout");
}

tAnalysisCommand::tAnalysisCommand(tAnalysisKind kind, std::string name, std::string description)
    : tCommand(std::move(name), std::move(description)), fKind(kind) {}

void tAnalysisCommand::DeclareFooter(CLI::App& cmd) {
  cmd.footer("Exit status: 0 done, 1 error (also a refused map or a usage error), 130 cancelled "
             "by Ctrl-C.\n");
}

void tAnalysisCommand::Reset() {
  fMaps = {};
  fPath = {};
  fOutput = {};
  ResetOwn();
}

// An option the chosen algorithm does not read would be ignored without a
// word (a corridor map never written, a seed that changes nothing): it is a
// usage error naming both. Only options given on the line count.
void tAnalysisCommand::Check(const CLI::App& cmd) {
  const TConnectivityAlgorithm algorithm = fPath.Connectivity();
  const std::string by = "--algorithm " + fPath.Algorithm + " (" +
                         (Given(cmd, "--algorithm") ? "" : "the default; ");
  const auto refuse = [&](const std::string& what, const char* verb, const char* why) {
    throw CLI::ValidationError(what + " " + verb + " " + by + why + ")");
  };
  if (algorithm == caResistanceDistance) {
    if (fKind != tAnalysisKind::PopulationMatrix)
      throw CLI::ValidationError("--algorithm resistance is not possible with " + cmd.get_name() +
                                 " (the resistance distance is computed by the population "
                                 "matrix analysis, matrix, only; sequence and bootstrap take "
                                 "fixed, ratio, least-cost or exact)");
    // It reads the friction map and writes current maps, nothing else of the search's.
    for (const std::string& option : fLeastCostOnly.SearchSettings)
      if (option != "--friction" && Given(cmd, option.c_str()))
        refuse(option, "is not used by", "it is a setting of the least-cost search");
    if (Given(cmd, "--width") && fPath.Width != 1)
      refuse("--width " + std::to_string(fPath.Width), "is not possible with",
             "it measures one resistance per pair");
    if (Given(cmd, "--topography"))
      refuse("--topography", "is not used by", "no path is scanned for its topography columns");
  } else if (!UsesFriction(algorithm)) {
    for (const std::string& option : fLeastCostOnly.CorridorOptions)
      if (Given(cmd, option.c_str()))
        refuse(option, "is not used by", "corridor maps come from least-cost paths");
    for (const std::string& option : fLeastCostOnly.SearchSettings)
      if (Given(cmd, option.c_str()))
        refuse(option, "is not used by", "it is a setting of the least-cost search");
  }
  if (algorithm == caExactLeastCost) {
    if (Given(cmd, "--seed")) refuse("--seed", "is not used by", "it draws no random paths");
    // The values that say what the exact search does anyway are accepted, so
    // that one line of options serves both least-cost algorithms.
    if (Given(cmd, "--width") && fPath.Width != 1)
      refuse("--width " + std::to_string(fPath.Width), "is not possible with",
             "it finds one path per pair");
    if (Given(cmd, "--minimise") && fPath.Minimise != "sum")
      refuse("--minimise " + fPath.Minimise, "is not possible with",
             "it minimises the friction sum only");
  }
}

int tAnalysisCommand::Run(const CLI::App& cmd) {
  const tJournalOptions* journal = Journal();
  tConsoleReporter reporter(IsTerminal(2) && !fOutput.Quiet);
  InstallInterruptHandler();
  try {
    if (Given(cmd, "--width") && fPath.Width % 2 == 0) {
      const TConnectivityAlgorithm a = fPath.Connectivity();
      const char* what = a == caFixedWidthStrip ? "strip widths"
                         : a == caRatioStrip    ? "length:width ratios"
                                                : "numbers of least-cost paths";
      reporter.Warning("--width " + std::to_string(fPath.Width) + " is even; " + what +
                       " are odd: using " + std::to_string(MakeOdd(fPath.Width)));
    }
    if (Given(cmd, "--project") && fMaps.Project.empty())
      throw EUsage("--project: the project name is empty");
    // An unset variable in a job script must not run the whole study in every task.
    if (journal && Given(cmd, "--shard") && journal->Shard.empty())
      throw EUsage("--shard: the value is empty; give K/N (K = 1..N) or auto/N");
    // Inputs are named from the caller's folder; reports and corridor maps
    // land in the working folder.
    if (!fOutput.WorkDir.empty()) {
      std::error_code ec;
      if (!fs::is_directory(fOutput.WorkDir, ec))
        throw EUsage("--workdir: " + fOutput.WorkDir + " is not a folder");
      MakeAbsolute(fMaps.Binary);
      MakeAbsolute(fMaps.Quantitative);
      fMaps.Topography = AbsolutePath(fMaps.Topography);
      fPath.Friction = AbsolutePath(fPath.Friction);
      fMaps.Data = AbsolutePath(fMaps.Data);
      fOutput.Log = AbsolutePath(fOutput.Log);
    }
    // Refused before anything is read or written: the log is written last.
    if (!fOutput.Log.empty()) RequireWritable(fOutput.Log);

    TAnalysisSettings settings;
    settings.DataStructure = DataStructureOf(fKind);
    fPath.Apply(settings);
    ApplyOwn(settings);
    settings.CellRule = fOutput.CellRule == "rounded" ? crRounded : crContaining;
    settings.DataFile = fMaps.Data;
    settings.ProjectName = fMaps.Project.empty() ? DefaultProjectName(settings.Connectivity)
                                                 : fMaps.Project;
    settings.NameOnCommandLine = !fMaps.Project.empty();
    settings.Validate();

    if (fMaps.Binary.empty() && fMaps.Quantitative.empty() && fMaps.Topography.empty())
      throw EUsage("no map to scan: give --binary, --quantitative or --topography");
    if (settings.Connectivity == caLeastCostPath && settings.FrictionMapFile.empty())
      throw EUsage("--algorithm least-cost needs --friction");
    if (settings.Connectivity == caExactLeastCost && settings.FrictionMapFile.empty())
      throw EUsage("--algorithm exact needs --friction");
    if (settings.Connectivity == caResistanceDistance && settings.FrictionMapFile.empty())
      throw EUsage("--algorithm resistance needs --friction");

    // The checks of the window, with its messages; on the command line a
    // refused map ends the program before anything is computed.
    tRunInputs inputs;
    inputs.Kind = fKind;
    inputs.BinaryMaps = fMaps.Binary;
    inputs.QuantitativeMaps = fMaps.Quantitative;
    inputs.TopographyMap = fMaps.Topography;
    inputs.FrictionMap = settings.FrictionMapFile;
    inputs.SequenceFile = settings.DataFile;
    tPreparedRun run;
    if (!PrepareRun(inputs, reporter, run)) return kExitError;

    // Reports and corridor maps are named in full on stdout.
    const std::string workDir = AbsolutePath(fOutput.WorkDir.empty() ? fs::current_path().string()
                                                                     : fOutput.WorkDir);
    tRunState state;
    tAnalysisContext ctx{settings, run.Maps, reporter,
                         state,    workDir,  journal ? journal->Threads : 1};
    // Every run that keeps a journal can be resumed after a kill.
    ctx.Journal = journal != nullptr;
    ctx.Resume = journal && journal->Resume;
    if (!fOutput.Log.empty()) ctx.LogFile = AbsolutePath(fOutput.Log);
    if (journal && Given(cmd, "--shard"))
      ctx.Shard = ParseShard(journal->Shard, [](const char* name) { return std::getenv(name); });
    // The result holds the log's lock until the log is saved.
    const tRunResult result = RunAnalysis(fKind, ctx, run.Sequence);
    reporter.ClearProgress();
    result.Rethrow();
    if (!fOutput.Log.empty()) reporter.SaveLog(fOutput.Log);
    PrintWrittenFiles(result.FilesWritten);
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

} // namespace stravex::cli
