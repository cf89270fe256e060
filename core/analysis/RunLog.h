#pragma once
// The part of a run's log that lets it be reproduced and accounted for: the
// program and start time, the settings that shape the results with the files
// they name, and at the end every file written and the time taken. The
// analyses' own banner and setting lines come first; these complete them.
#include "analysis/Analyses.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace stravex {

// The absolute path of the file a map was read from (an IDRISI map's image).
std::string MapFile(const tRaster& map);
// "Stravex 1.2.3".
std::string ProgramText();
// Local time with its offset from UTC: "2026-12-07 23:41:07 +0100".
std::string TimestampText(std::chrono::system_clock::time_point when);
// "0.84 s"; from a minute on also "(1 h 02 min 05 s)".
std::string ElapsedText(double seconds);
// What a written file is, as the front ends list it: "report", "corridor map", ...
const char* FileKindLabel(tFileKind kind);
// The order the front ends and the log list written files in.
inline constexpr tFileKind kFileKindOrder[] = {
    tFileKind::Report,  tFileKind::PairMatrix, tFileKind::CorridorMap, tFileKind::WorkingCopy,
    tFileKind::Journal, tFileKind::RowDigests, tFileKind::Log};

struct tRunRecord {
  const TAnalysisSettings& Settings;
  const tMapSet& Maps;
  tAnalysisKind Kind;
  std::chrono::system_clock::time_point Started;
  // The absolute path of a file name of the settings (taken from the run's
  // working folder when relative).
  std::function<std::string(const std::string&)> Path;
  // Bootstrap: the generator the walks are drawn from, as the run starts.
  const tRandomGenerator* Walks = nullptr;
};

// The "Run settings" block: every setting of this kind of run and algorithm
// that shapes its results and is not already on an analysis's own lines.
std::vector<std::string> RunSettingsLines(const tRunRecord& record);

// "", then "Files written:" with one "- <kind>:\t<path>" line per file in
// kFileKindOrder (none: "Files written:\tnone").
std::vector<std::string> FilesWrittenLines(const std::vector<tWrittenFile>& files);
// The closing block: "Files written:" with one "- <kind>:\t<path>" line per
// file (none: "Files written:\tnone"), then "Run completed in 0.84 s",
// "Run cancelled after ..." or "Run failed after ...: <error>".
std::vector<std::string> RunEndLines(const std::vector<tWrittenFile>& files, tRunOutcome outcome,
                                     double seconds, const std::string& error);

} // namespace stravex
