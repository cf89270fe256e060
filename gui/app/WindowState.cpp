#include "WindowState.h"

namespace stravex::gui {

tWindowView ComputeWindowView(const tWindowInputs& in) {
  tWindowView v;
  const bool leastCost = UsesFriction(in.Algorithm);
  const bool exact = in.Algorithm == caExactLeastCost;
  v.ComputeEnabled = !in.Running && in.MapCount > 0 && in.HasProjectName && in.HasDataFile &&
                     (in.HasFrictionMap || !leastCost);
  v.ViewDataEnabled = in.HasDataFile;
  v.CancelEnabled = in.Running && !in.CancelPending;
  v.MatrixPagesVisible = in.DataStructure == dsPopulationMatrix;
  v.SequencePagesVisible = in.DataStructure == dsLocationSequence;
  v.LeastCostControlsVisible = leastCost;
  v.TopographyVisible = leastCost && in.HasTopography;
  v.PathCaption = leastCost                      ? tPathCaption::PathCount
                  : in.Algorithm == caRatioStrip ? tPathCaption::Ratio
                                                 : tPathCaption::StripWidth;
  v.GeographicDistEnabled = !leastCost;
  v.GeographicDistCleared = leastCost;
  v.JackKnifeEnabled = !leastCost;
  // The exact search finds the one optimal path of a pair and draws no
  // random numbers; only the friction-sum criterion has an exact search,
  // the others are refused when the run starts.
  v.PathWidthEnabled = !exact;
  v.SeedEnabled = !exact;
  v.PathWidthTip = exact ? "Not used by the exact least-cost path: it finds one path, the "
                           "cheapest, per pair or segment"
                         : "Width of the scanned path band";
  v.PathLabelTip = exact ? v.PathWidthTip : std::string();
  v.SeedTip = exact ? "Not used by the exact least-cost path: it draws no random numbers" : "";
  v.MinimiseTip = exact ? "The exact least-cost path minimises the friction sum only" : "";
  v.SignificanceEnabled = in.SignificantOnly;
  v.PartitionsEnabled = in.JackKnife;
  v.EcoMatrixEnabled = in.FitModel;
  v.FrictionMapEnabled = in.FitModel;
  v.ChoicesEnabled = !in.Running;
  return v;
}

bool tBatchSequence::Begin(bool batchLine) {
  if (fStarted || !batchLine) return false;
  fStarted = true;
  fStep = tBatchStep::Prepare;
  return true;
}

tBatchStep tBatchSequence::Advance(bool succeeded) {
  if (!Active()) return fStep;
  if (!succeeded) return fStep = tBatchStep::Stopped;
  switch (fStep) {
  case tBatchStep::Prepare: fStep = tBatchStep::LoadMaps; break;
  case tBatchStep::LoadMaps: fStep = tBatchStep::Apply; break;
  case tBatchStep::Apply: fStep = tBatchStep::Run; break;
  case tBatchStep::Run: fStep = tBatchStep::SaveLog; break;
  case tBatchStep::SaveLog: fStep = tBatchStep::Quit; break;
  default: break;
  }
  return fStep;
}

} // namespace stravex::gui
