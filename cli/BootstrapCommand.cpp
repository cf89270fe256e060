// stravex-cli bootstrap: random walks with the segment lengths of every
// track, the maps checked as the window checks them. It keeps no journal and
// runs on one thread: the walks continue one generator.
#include "AnalysisCommand.h"
#include "Commands.h"

namespace stravex::cli {

namespace {

class tBootstrapCommand final : public tAnalysisCommand {
public:
  tBootstrapCommand()
      : tAnalysisCommand(tAnalysisKind::Bootstrap, "bootstrap",
                         "Sequence bootstrap: random walks with the segment lengths of every "
                         "track (PROJECT-Bootstraps.txt)") {}

  void Declare(CLI::App& cmd) override {
    fMaps.Declare(cmd, "Location sequence file");
    fPath.Declare(cmd, fLeastCostOnly);
    fSegments.Declare(cmd);
    cmd.add_option("--replicates", fReplicates, "Random walks per individual")
        ->check(CLI::Range(kBootstrapsRange.Min, kBootstrapsRange.Max))
        ->transform(WholeNumber())
        ->capture_default_str();
    cmd.add_flag("--distance-distribution", fDistanceDistribution,
                 "Also write the segment lengths of every individual (PROJECT-Distances.txt)");
    fOutput.Declare(cmd);
    DeclareFooter(cmd);
  }

private:
  void ResetOwn() override {
    fSegments = {};
    fReplicates = DefaultSettings().Bootstraps;
    fDistanceDistribution = false;
  }

  void ApplyOwn(TAnalysisSettings& s) const override {
    fSegments.Apply(s);
    s.Bootstraps = fReplicates;
    s.DistanceDistribution = fDistanceDistribution;
  }

  tSegmentOptions fSegments;
  int fReplicates = DefaultSettings().Bootstraps;
  bool fDistanceDistribution = false;
};

} // namespace

void AddBootstrapCommand(CLI::App& app, int& exitCode) {
  AddCommand(app, exitCode, std::make_shared<tBootstrapCommand>());
}

} // namespace stravex::cli
