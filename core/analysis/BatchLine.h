#pragma once
// The unattended command line: "x" MAPLIST LOG DATA NAME, then the settings
// by position (6..22), and the builder of the line that reproduces the
// current settings.
//
// A command line is handled as a vector whose element k is position k;
// element 0 is the program itself.
#include "analysis/AnalysisSettings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace stravex {

inline constexpr int kBatchFirstSettingPosition = 6;
// Position 22, optional, is the cell rule (0 containing, 1 rounded).
inline constexpr int kBatchLastPosition = 22;
// Position 15 is not read; the builder writes this filler there.
inline constexpr int kBatchFillerPosition = 15;
inline constexpr const char* kBatchFiller = "0";
// Log file name written by the command builder.
inline constexpr const char* kBatchLogFileName = "Stravex.txt";

// True when position 1 is "x" in any letter case.
bool IsBatchCommandLine(const std::vector<std::string>& args);

// Positions 2 to 5.
struct tBatchHead {
  std::string MapListFile;
  std::string LogFile;
  std::string DataFile;
  // Position 5 unless it reads "none" in any letter case.
  std::string ProjectName;
  bool NameOnCommandLine = false;
};

// Positions 2 to 5; nullopt when fewer than five arguments follow the
// program name (the front ends then refuse the line).
std::optional<tBatchHead> ParseBatchHead(const std::vector<std::string>& args);
// Why ParseBatchHead found no head: "x needs MAPLIST LOG DATA NAME (positions
// 2 to 5); 1 was given".
std::string MissingBatchPositionsMessage(const std::vector<std::string>& args);

// Applies positions 4 and 5. Call it after the map list of position 2 has
// been loaded: that load resets the project name to the default of the
// algorithm selected at that moment (position 6 is not applied yet), which is
// repeated here so that "none" always leaves that default in place.
void ApplyBatchHead(const tBatchHead& head, TAnalysisSettings& settings);

// Applies each of positions 6..22 that is present, in increasing order.
// The friction map name (9) loses surrounding blanks. Flags: 1 is on, any
// other integer off. Spin settings are clamped into their range and the path
// width made odd. The settings are left untouched when a
// position fails: a text that is not an integer raises EConvertError; an
// algorithm outside 0..2 (position 6) or a fitting function outside 0..1
// (position 7) raises ERangeError, since no setting stands for them.
void ApplyBatchSettings(const std::vector<std::string>& args, TAnalysisSettings& settings);

// The integer of a position's text (blanks around it allowed); EConvertError
// naming the position and the text when it is not one.
int64_t BatchInteger(const std::string& text, int position);

// The line that reproduces the settings: program in quotes, " x", the
// map-list file, "Stravex.txt", the data file, the project name (or none),
// then positions 6..21 each after one blank, and 22 unless it is 0.
std::string BuildBatchCommand(const TAnalysisSettings& settings, const std::string& programPath,
                              const std::string& mapListFile);

// The lines the batch command appends to the log: an empty line, the caption
// and the command.
std::vector<std::string> BatchCommandLogLines(const TAnalysisSettings& settings,
                                              const std::string& programPath,
                                              const std::string& mapListFile);

} // namespace stravex
