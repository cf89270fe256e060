#pragma once
// What matrix, sequence and bootstrap share: the option groups they declare
// (maps, path and least-cost search, track segments, journal, output) and
// their run, through the core's one run path. Each command's own file
// declares which groups it has, in --help order, and its own options.
#include "Command.h"
#include "analysis/AnalysisSettings.h"
#include "analysis/RunPreparation.h"

#include <map>
#include <string>
#include <vector>

namespace stravex::cli {

// The window's defaults, the start of every option value.
const TAnalysisSettings& DefaultSettings();

// A number as the window's decimal edit boxes take it, the whole text.
const CLI::Validator& RealNumber();
// A whole number in decimal (CLI11 alone would read "010" as 8).
const CLI::Validator& WholeNumber();

// The names of a choice option, for CLI::IsMember.
template <typename T>
std::vector<std::string> Choices(const std::map<std::string, T>& choices) {
  std::vector<std::string> names;
  for (const auto& [name, value] : choices) names.push_back(name);
  return names;
}

// The options only the least-cost search reads, refused with strips: those of
// corridor maps are named before the search's settings.
struct tLeastCostOnly {
  std::vector<std::string> CorridorOptions;
  std::vector<std::string> SearchSettings;
  CLI::Option* Corridor(CLI::Option* option);
  CLI::Option* Search(CLI::Option* option);
};

// --binary --quantitative --topography --data --project
struct tMapOptions {
  std::vector<std::string> Binary, Quantitative;
  std::string Topography, Data, Project;
  void Declare(CLI::App& cmd, const char* dataHelp);
};

// --algorithm --width --friction --seed --minimise --friction-weight --length-weight
struct tPathOptions {
  std::string Algorithm = "fixed";
  int Width = DefaultSettings().PathWidth;
  std::string Friction;
  int Seed = DefaultSettings().Seed;
  std::string Minimise = "sum";
  std::string FrictionWeight = DefaultSettings().FrictionWeight;
  std::string LengthWeight = DefaultSettings().LengthWeight;
  void Declare(CLI::App& cmd, tLeastCostOnly& only);
  TConnectivityAlgorithm Connectivity() const;
  void Apply(TAnalysisSettings& s) const;
};

// --corridor: the corridor map of the least-cost paths.
CLI::Option* DeclareCorridor(CLI::App& cmd, std::string& name, tLeastCostOnly& only);

// --ignore-time --ignore-unit: the segments of a track that count.
struct tSegmentOptions {
  int IgnoreTime = DefaultSettings().IgnoreTime;
  std::string IgnoreUnit = "days";
  void Declare(CLI::App& cmd);
  void Apply(TAnalysisSettings& s) const;
};

// --threads --resume --shard: the runs that keep a journal.
struct tJournalOptions {
  int Threads = 0;
  bool Resume = false;
  std::string Shard;
  void Declare(CLI::App& cmd);
};

// --cell-rule --log --workdir --quiet
struct tOutputOptions {
  std::string CellRule = "containing";
  std::string Log, WorkDir;
  bool Quiet = false;
  void Declare(CLI::App& cmd);
};

// The matrix, sequence and bootstrap commands.
class tAnalysisCommand : public tCommand {
public:
  void Reset() final;
  void Check(const CLI::App& cmd) override;
  int Run(const CLI::App& cmd) final;

protected:
  tAnalysisCommand(tAnalysisKind kind, std::string name, std::string description);
  // The command's own values back to their defaults.
  virtual void ResetOwn() = 0;
  // The settings of the command's own options.
  virtual void ApplyOwn(TAnalysisSettings& s) const = 0;
  // The journal options of a command that keeps a journal, else null.
  virtual const tJournalOptions* Journal() const { return nullptr; }
  // The footer every analysis command shows under its options.
  static void DeclareFooter(CLI::App& cmd);

  tMapOptions fMaps;
  tPathOptions fPath;
  tOutputOptions fOutput;
  tLeastCostOnly fLeastCostOnly;

private:
  tAnalysisKind fKind;
};

} // namespace stravex::cli
