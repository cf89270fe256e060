#include "analysis/BatchLine.h"

#include "base/Errors.h"
#include "base/TextUtils.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

namespace stravex {

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string Flag(bool on) { return on ? "1" : "0"; }

} // namespace

bool IsBatchCommandLine(const std::vector<std::string>& args) {
  return args.size() > 1 && LowerAscii(args[1]) == "x";
}

std::optional<tBatchHead> ParseBatchHead(const std::vector<std::string>& args) {
  if (args.size() < 6) return std::nullopt;
  tBatchHead head;
  head.MapListFile = args[2];
  head.LogFile = args[3];
  head.DataFile = args[4];
  head.NameOnCommandLine = LowerAscii(args[5]) != "none";
  if (head.NameOnCommandLine) head.ProjectName = args[5];
  return head;
}

std::string MissingBatchPositionsMessage(const std::vector<std::string>& args) {
  const std::size_t given = args.size() < 2 ? 0 : args.size() - 2;
  return "x needs MAPLIST LOG DATA NAME (positions 2 to 5); " + std::to_string(given) +
         (given == 1 ? " was" : " were") + " given";
}

void ApplyBatchHead(const tBatchHead& head, TAnalysisSettings& settings) {
  settings.ProjectName = DefaultProjectName(settings.Connectivity);
  settings.DataFile = head.DataFile;
  settings.NameOnCommandLine = head.NameOnCommandLine;
  if (head.NameOnCommandLine) settings.ProjectName = head.ProjectName;
}

int64_t BatchInteger(const std::string& text, int position) {
  std::string_view s = text;
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  if (!s.empty() && s.front() == '+' && s.size() > 1 && s[1] != '-') s.remove_prefix(1);
  int64_t v = 0;
  const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || res.ec != std::errc() || res.ptr != s.data() + s.size())
    throw EConvertError("Position " + std::to_string(position) + ": '" + text +
                        "' is not a valid integer value");
  return v;
}

void ApplyBatchSettings(const std::vector<std::string>& args, TAnalysisSettings& settings) {
  TAnalysisSettings s = settings;
  const int last = std::min<int>(kBatchLastPosition, static_cast<int>(args.size()) - 1);
  for (int pos = kBatchFirstSettingPosition; pos <= last; ++pos) {
    const std::string& text = args[static_cast<size_t>(pos)];
    if (pos == kBatchFillerPosition) continue;
    if (pos == 9) {
      // The friction field drops surrounding blanks whenever its text changes.
      std::string_view name = text;
      while (!name.empty() && static_cast<unsigned char>(name.front()) <= ' ')
        name.remove_prefix(1);
      while (!name.empty() && static_cast<unsigned char>(name.back()) <= ' ') name.remove_suffix(1);
      s.FrictionMapFile = std::string(name);
      continue;
    }
    const int64_t v = BatchInteger(text, pos);
    const bool on = v == 1;
    switch (pos) {
    case 6:
      if (v < caFixedWidthStrip || v > caResistanceDistance)
        throw ERangeError("Position 6: connectivity algorithm " + std::to_string(v) +
                          " is out of range (allowed 0..4)");
      s.Connectivity = static_cast<TConnectivityAlgorithm>(v);
      break;
    case 7:
      if (!kFittingFunctionRange.Contains(v))
        throw ERangeError("Position 7: fitting function " + std::to_string(v) +
                          " is out of range (allowed 0..1)");
      s.FittingFunction = static_cast<int32_t>(v);
      break;
    case 8: s.Stepwise = on; break;
    case 10: s.PathWidth = ClampPathWidth(v); break;
    case 11: s.FrequencyThreshold = kFrequencyThresholdRange.Clamp(v); break;
    case 12: s.SignificantOnly = on; break;
    case 13: s.SignificanceThreshold = kSignificanceThresholdRange.Clamp(v); break;
    case 14: s.IncludeGeographicDistance = on; break;
    case 16: s.Replicates = kReplicatesRange.Clamp(v); break;
    case 17: s.Iterations = kIterationsRange.Clamp(v); break;
    case 18: s.ConnectivityDataset = on; break;
    case 19: s.EcoDistanceMatrix = on; break;
    case 20: s.EchoMatrices = on; break;
    case 21: s.EchoSamplePoints = on; break;
    case 22:
      if (v != crContaining && v != crRounded)
        throw ERangeError("Position 22: cell rule " + std::to_string(v) +
                          " is out of range (allowed 0 containing, 1 rounded)");
      s.CellRule = static_cast<tCellRule>(v);
      break;
    default: break;
    }
  }
  settings = s;
}

std::string BuildBatchCommand(const TAnalysisSettings& settings, const std::string& programPath,
                              const std::string& mapListFile) {
  std::string line = Quoted(programPath) + " x";
  auto add = [&line](const std::string& item) { line += " " + item; };
  add(Quoted(mapListFile));
  add(Quoted(kBatchLogFileName));
  add(Quoted(settings.DataFile));
  add(settings.NameOnCommandLine ? Quoted(settings.ProjectName) : std::string("none"));
  add(std::to_string(settings.Connectivity));          // 6
  add(std::to_string(settings.FittingFunction));       // 7
  add(Flag(settings.Stepwise));                        // 8
  add(Quoted(settings.FrictionMapFile));               // 9
  add(std::to_string(settings.PathWidth));             // 10
  add(std::to_string(settings.FrequencyThreshold));    // 11
  add(Flag(settings.SignificantOnly));                 // 12
  add(std::to_string(settings.SignificanceThreshold)); // 13
  add(Flag(settings.IncludeGeographicDistance));       // 14
  add(kBatchFiller);                                   // 15
  add(std::to_string(settings.Replicates));            // 16
  add(std::to_string(settings.Iterations));            // 17
  add(Flag(settings.ConnectivityDataset));             // 18
  add(Flag(settings.EcoDistanceMatrix));               // 19
  add(Flag(settings.EchoMatrices));                    // 20
  add(Flag(settings.EchoSamplePoints));                // 21
  // Absent means the containing cell, so lines of that rule read as before.
  if (settings.CellRule != crContaining) add(std::to_string(settings.CellRule)); // 22
  return line;
}

std::vector<std::string> BatchCommandLogLines(const TAnalysisSettings& settings,
                                              const std::string& programPath,
                                              const std::string& mapListFile) {
  return {"", "Batch command for the current settings:",
          BuildBatchCommand(settings, programPath, mapListFile)};
}

} // namespace stravex
