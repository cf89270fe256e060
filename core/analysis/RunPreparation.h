#pragma once
// One way into a run for every front end: the maps of each role loaded and
// checked as the window checks them, the friction map checked, the map list
// built and, for the kinds that walk tracks, the location sequence read; then
// any kind of analysis run on what was prepared.
#include "analysis/Analyses.h"
#include "analysis/AnalysisSettings.h"
#include "analysis/LocationSequence.h"
#include "analysis/MapSet.h"
#include "base/Reporter.h"

#include <string>
#include <vector>

namespace stravex {

// The sequence and the bootstrap read a location sequence file.
constexpr bool ReadsSequence(tAnalysisKind kind) { return kind != tAnalysisKind::PopulationMatrix; }
// The data structure of the settings a kind runs with.
constexpr TDataStructure DataStructureOf(tAnalysisKind kind) {
  return ReadsSequence(kind) ? dsLocationSequence : dsPopulationMatrix;
}

// The inputs of a run, named as the maps' and files' readers take them.
struct tRunInputs {
  tAnalysisKind Kind = tAnalysisKind::PopulationMatrix;
  std::vector<std::string> BinaryMaps;
  std::vector<std::string> QuantitativeMaps;
  std::string TopographyMap; // empty: none
  std::string FrictionMap;   // checked against the first map; empty: none
  std::string SequenceFile;  // read for the kinds that read a sequence
  // Batch mode runs on the maps that pass; elsewhere a refused map ends the
  // preparation once every map has been checked, so that all refusals show.
  bool SkipRefusedMaps = false;
};

// What a run reads besides its settings.
struct tPreparedRun {
  tMapSet Maps;
  tLocationSequence Sequence;
};

// Loads the roles in the window's order (binary, quantitative, topography),
// checks the friction map, then builds the map list and reads the sequence.
// Every refusal is shown through reporter.ErrorBox with the window's message;
// false when a refusal ends the preparation (nothing after the checks is
// read). Other errors (a file that cannot be read, a sequence that does not
// parse) propagate.
[[nodiscard]] bool PrepareRun(const tRunInputs& inputs, tReporter& reporter, tPreparedRun& run);

// Runs the analysis of a kind; the sequence is read by the kinds that walk
// tracks only. Never throws: an error, even one outside the analyses' own
// contract, ends it as a Failed result.
tRunResult RunAnalysis(tAnalysisKind kind, tAnalysisContext& ctx,
                       const tLocationSequence& sequence);

// Why a resumed run of these settings could not continue the report it
// would write in workDir: the refusal the resumed run itself would end with
// (no report or journal, changed settings or inputs, edited rows), or empty
// when it could. Reads the inputs as the run does and writes nothing. The
// bootstrap keeps no journal and is never resumed.
std::string ResumeRefusal(tAnalysisKind kind, const TAnalysisSettings& settings, tMapSet& maps,
                          const std::string& workDir, const tLocationSequence& sequence);

} // namespace stravex
