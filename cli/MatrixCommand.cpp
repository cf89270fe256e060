// stravex-cli matrix: the population matrix analysis with every setting of
// the window, the maps checked as the window checks them.
#include "AnalysisCommand.h"
#include "Commands.h"

namespace stravex::cli {

namespace {

const std::map<std::string, TResistanceSolver> kSolvers = {
    {"auto", rsAuto}, {"direct", rsDirect}, {"iterative", rsIterative}};
const std::map<std::string, int32_t> kDirections = {{"up", 1}, {"down", -1}, {"both", 0}};
const std::map<std::string, TDelaunayUse> kDelaunay = {
    {"none", duNone}, {"include", duInclude}, {"restrict", duRestrict}};

class tMatrixCommand final : public tAnalysisCommand {
public:
  tMatrixCommand()
      : tAnalysisCommand(tAnalysisKind::PopulationMatrix, "matrix",
                         "Population matrix analysis: one report row per pair of sample points "
                         "(PROJECT-MatrixAnalysis.txt)") {}

  void Declare(CLI::App& cmd) override {
    fMaps.Declare(cmd, "Population data file");
    fPath.Declare(cmd, fLeastCostOnly);
    DeclareCorridor(cmd, fOwn.Corridor, fLeastCostOnly);
    cmd.add_option("--solver", fOwn.Solver,
                   "Solver of --algorithm resistance: direct (sparse Cholesky), iterative "
                   "(conjugate gradients with algebraic multigrid, for maps whose factor does "
                   "not fit in memory), or auto (direct unless its factor would exceed 4 GiB)")
        ->check(CLI::IsMember(Choices(kSolvers)))
        ->capture_default_str();
    fLeastCostOnly.Corridor(cmd.add_flag("--one-map-per-pair", fOwn.OneMapPerPair,
                                         "One corridor map per pair, NAME_iii_jjj"));
    fLeastCostOnly
        .Search(cmd.add_option("--direction", fOwn.Direction,
                               "Least-cost paths with a topography map: uphill, downhill or both"))
        ->check(CLI::IsMember(Choices(kDirections)))
        ->capture_default_str();
    fLeastCostOnly
        .Search(cmd.add_option("--tolerance", fOwn.Tolerance,
                               "Elevation tolerance of the direction test"))
        ->check(RealNumber())
        ->capture_default_str();
    cmd.add_option("--delaunay", fOwn.Delaunay,
                   "Delaunay column (include) or Delaunay pairs only (restrict)")
        ->check(CLI::IsMember(Choices(kDelaunay)))
        ->capture_default_str();
    cmd.add_option("--max-distance", fOwn.MaxDistance,
                   "Pairs farther apart than this (map units) are skipped")
        ->check(CLI::Range(kPairDistanceThresholdRange.Min, kPairDistanceThresholdRange.Max))
        ->transform(WholeNumber())
        ->capture_default_str();
    cmd.add_flag("--pair-matrices", fOwn.PairMatrices,
                 "Also write an N x N matrix per pair column (GenDist, GeoDist, every map "
                 "statistic) as PROJECT-COLUMN-matrix.csv beside the report, for R or pandas; "
                 "not written by a cancelled run or a shard");
    cmd.add_flag("--echo-points", fOwn.EchoPoints, "Copy the sample coordinates to the log");
    cmd.add_flag("!--no-echo-matrices", fOwn.EchoMatrices,
                 "Do not copy the distance matrices to the log");
    fJournal.Declare(cmd);
    fOutput.Declare(cmd);
    DeclareFooter(cmd);
  }

  // Options that need another option to mean anything.
  void Check(const CLI::App& cmd) override {
    tAnalysisCommand::Check(cmd);
    if (Given(cmd, "--solver") && fPath.Connectivity() != caResistanceDistance)
      throw CLI::ValidationError("--solver is not used by --algorithm " + fPath.Algorithm +
                                 " (it chooses the solver of the resistance distance)");
    if (Given(cmd, "--one-map-per-pair") && fOwn.Corridor.empty())
      throw CLI::ValidationError("--one-map-per-pair needs --corridor NAME (the pair maps are "
                                 "named NAME_iii_jjj)");
    for (const char* option : {"--direction", "--tolerance"})
      if (Given(cmd, option) && fMaps.Topography.empty())
        throw CLI::ValidationError(std::string(option) +
                                   " is not used without --topography (uphill and downhill are "
                                   "read on the topography map)");
  }

private:
  struct tOwn {
    std::string Corridor;
    std::string Solver = "auto";
    bool OneMapPerPair = false;
    std::string Direction = "both";
    std::string Tolerance = DefaultSettings().ElevationTolerance;
    std::string Delaunay = "none";
    int MaxDistance = DefaultSettings().PairDistanceThreshold;
    bool PairMatrices = false;
    bool EchoPoints = DefaultSettings().EchoSamplePoints;
    bool EchoMatrices = DefaultSettings().EchoMatrices;
  };

  void ResetOwn() override {
    fOwn = {};
    fJournal = {};
  }

  void ApplyOwn(TAnalysisSettings& s) const override {
    s.CorridorMapName = fOwn.Corridor;
    s.ResistanceSolver = kSolvers.at(fOwn.Solver);
    s.OneMapPerPair = fOwn.OneMapPerPair;
    s.Direction = kDirections.at(fOwn.Direction);
    s.ElevationTolerance = fOwn.Tolerance;
    s.DelaunayUse = kDelaunay.at(fOwn.Delaunay);
    s.PairDistanceThreshold = fOwn.MaxDistance;
    s.PairMatrices = fOwn.PairMatrices;
    s.EchoSamplePoints = fOwn.EchoPoints;
    s.EchoMatrices = fOwn.EchoMatrices;
  }

  const tJournalOptions* Journal() const override { return &fJournal; }

  tOwn fOwn;
  tJournalOptions fJournal;
};

} // namespace

void AddMatrixCommand(CLI::App& app, int& exitCode) {
  AddCommand(app, exitCode, std::make_shared<tMatrixCommand>());
}

} // namespace stravex::cli
