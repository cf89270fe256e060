// stravex-cli sequence: the location sequence analysis with every setting of
// the window, the maps checked as the window checks them.
#include "AnalysisCommand.h"
#include "Commands.h"

namespace stravex::cli {

namespace {

class tSequenceCommand final : public tAnalysisCommand {
public:
  tSequenceCommand()
      : tAnalysisCommand(tAnalysisKind::Sequence, "sequence",
                         "Location sequence analysis: one report row per segment of a track "
                         "(PROJECT-SequenceAnalysis.txt)") {}

  void Declare(CLI::App& cmd) override {
    fMaps.Declare(cmd, "Location sequence file");
    fPath.Declare(cmd, fLeastCostOnly);
    DeclareCorridor(cmd, fCorridor, fLeastCostOnly);
    fSegments.Declare(cmd);
    fJournal.Declare(cmd);
    fOutput.Declare(cmd);
    DeclareFooter(cmd);
  }

private:
  void ResetOwn() override {
    fCorridor.clear();
    fSegments = {};
    fJournal = {};
  }

  void ApplyOwn(TAnalysisSettings& s) const override {
    s.CorridorMapName = fCorridor;
    fSegments.Apply(s);
  }

  const tJournalOptions* Journal() const override { return &fJournal; }

  std::string fCorridor;
  tSegmentOptions fSegments;
  tJournalOptions fJournal;
};

} // namespace

void AddSequenceCommand(CLI::App& app, int& exitCode) {
  AddCommand(app, exitCode, std::make_shared<tSequenceCommand>());
}

} // namespace stravex::cli
