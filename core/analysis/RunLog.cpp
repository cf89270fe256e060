#include "analysis/RunLog.h"

#include "analysis/RunSupport.h"
#include "base/AtomicFile.h"
#include "base/Numeric.h"
#include "base/Version.h"
#include "raster/GdalMap.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace stravex {

namespace {

std::string YesNo(bool v) { return v ? "yes" : "no"; }

// "Label:\tfirst", then "\tnext" for each further value.
void AddList(std::vector<std::string>& lines, const std::string& label,
             const std::vector<std::string>& values) {
  for (std::size_t i = 0; i < values.size(); ++i)
    lines.push_back((i == 0 ? label + ":" : std::string()) + "\t" + values[i]);
}

// IDRISI maps are named without their extensions: the image file names them.
std::string MapFile(const std::string& name) {
  const std::string path = AbsolutePath(name);
  std::error_code ec;
  if (path.empty() || std::filesystem::is_regular_file(path, ec)) return path;
  const std::string image = path + tRaster().ImageExtension();
  return std::filesystem::is_regular_file(image, ec) ? image : path;
}

std::vector<std::string> MapFiles(const std::vector<std::unique_ptr<tLiveRaster>>& maps) {
  std::vector<std::string> files;
  for (const auto& m : maps) files.push_back(MapFile(*m));
  return files;
}

std::string WidthLabel(tAnalysisKind kind) {
  switch (kind) {
  case tAnalysisKind::PopulationMatrix: return "Paths per pair";
  case tAnalysisKind::Sequence: return "Paths per segment";
  case tAnalysisKind::Bootstrap: break;
  }
  return "Paths per walk step";
}

std::string DirectionText(const TAnalysisSettings& s) {
  if (s.Direction == 0) return "both ways";
  return std::string(s.Direction > 0 ? "uphill" : "downhill") + " only, elevation tolerance " +
         FormatGeneral(s.ElevationToleranceValue());
}

} // namespace

std::string MapFile(const tRaster& map) {
  // A map read through GDAL keeps the name of its own file.
  if (const auto* gdal = dynamic_cast<const tGdalRaster*>(&map))
    return AbsolutePath(gdal->SourcePath());
  return MapFile(map.FileName);
}

std::string ProgramText() { return std::string("Stravex ") + kVersionText; }

std::string TimestampText(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&t, &local);
  char text[64];
  if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local) == 0) return "unknown";
  return text;
}

std::string ElapsedText(double seconds) {
  char text[80];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  if (seconds < 60) return text;
  const auto whole = static_cast<long long>(std::llround(seconds));
  char parts[48];
  if (whole >= 3600)
    std::snprintf(parts, sizeof parts, " (%lld h %02lld min %02lld s)", whole / 3600,
                  whole / 60 % 60, whole % 60);
  else
    std::snprintf(parts, sizeof parts, " (%lld min %02lld s)", whole / 60, whole % 60);
  return text + std::string(parts);
}

const char* FileKindLabel(tFileKind kind) {
  switch (kind) {
  case tFileKind::Report: return "report";
  case tFileKind::CorridorMap: return "corridor map";
  case tFileKind::Log: return "log";
  case tFileKind::Journal: return "journal";
  case tFileKind::PairMatrix: return "pair matrix";
  case tFileKind::RowDigests: return "row digests";
  case tFileKind::WorkingCopy: return "corridor working copy";
  }
  return "file";
}

std::vector<std::string> RunSettingsLines(const tRunRecord& r) {
  const TAnalysisSettings& s = r.Settings;
  const bool matrix = r.Kind == tAnalysisKind::PopulationMatrix;
  const bool leastCost = UsesFriction(s.Connectivity);
  std::vector<std::string> lines{"", "Run settings", "************", "Program:\t" + ProgramText(),
                                 "Started:\t" + TimestampText(r.Started)};
  const std::vector<std::string> binary = MapFiles(r.Maps.BinaryMaps);
  const std::vector<std::string> quantitative = MapFiles(r.Maps.QuantitativeMaps);
  AddList(lines, "Binary map files", binary);
  AddList(lines, "Quantitative map files", quantitative);
  if (r.Maps.TopographyMap)
    lines.push_back("Topography map file:\t" + MapFile(*r.Maps.TopographyMap));
  if (binary.empty() && quantitative.empty() && !r.Maps.TopographyMap)
    lines.push_back("Map files:\tnone");
  lines.push_back("Data file:\t" + r.Path(s.DataFile));

  switch (s.Connectivity) {
  case caFixedWidthStrip:
    lines.push_back("Strip width:\t" + std::to_string(s.PathWidth) +
                    (s.PathWidth == 1 ? " cell" : " cells"));
    break;
  case caRatioStrip: lines.push_back("Length:width ratio:\t" + std::to_string(s.PathWidth)); break;
  case caLeastCostPath:
    lines.push_back(WidthLabel(r.Kind) + ":\t" + std::to_string(s.PathWidth));
    lines.push_back("Seed:\t" + std::to_string(s.Seed));
    break;
  default: break;
  }
  if (leastCost) {
    lines.push_back("Friction map file:\t" + MapFile(r.Path(s.FrictionMapFile)));
    // The other runs log their criterion with the algorithm.
    if (r.Kind == tAnalysisKind::Bootstrap)
      lines.push_back("Minimization criterion:\t" + CriterionName(s.Minimise));
    lines.push_back("Friction weight:\t" + FormatGeneral(s.FrictionWeightValue()));
    lines.push_back("Length weight:\t" + FormatGeneral(s.LengthWeightValue(!matrix)));
    if (matrix && r.Maps.TopographyMap) lines.push_back("Direction:\t" + DirectionText(s));
  }
  const bool resistance = s.Connectivity == caResistanceDistance;
  if (resistance) {
    lines.push_back("Friction map file:\t" + MapFile(r.Path(s.FrictionMapFile)));
    lines.push_back(std::string("Resistance solver asked for:\t") +
                    (s.ResistanceSolver >= rsAuto && s.ResistanceSolver <= rsIterative
                         ? kResistanceSolverNames[static_cast<std::size_t>(s.ResistanceSolver)]
                         : "unknown"));
  }
  if (matrix) {
    static const char* const kDelaunay[] = {"none", "column of Delaunay neighbours",
                                            "Delaunay neighbours only"};
    lines.push_back("Delaunay pairs:\t" +
                    std::string(s.DelaunayUse >= duNone && s.DelaunayUse <= duRestrict
                                    ? kDelaunay[s.DelaunayUse]
                                    : "unknown"));
    lines.push_back("Pair distance threshold:\t" + std::to_string(s.PairDistanceThreshold));
  } else {
    lines.push_back("Ignore segments shorter than:\t" +
                    (s.IgnoreTime < 1 ? std::string("none ignored") : IgnoreTimeText(s)));
  }
  if (r.Kind == tAnalysisKind::Bootstrap) {
    lines.push_back("Bootstraps:\t" + std::to_string(s.Bootstraps));
    lines.push_back("Distance distribution:\t" + YesNo(s.DistanceDistribution));
    if (r.Walks) {
      const tRandomState& w = r.Walks->State();
      lines.push_back("Random walks drawn from:\t" +
                      (w == tRandomGenerator().State()
                           ? std::string("the generator's start-up state")
                           : "the generator as earlier runs of this session left it (x0 " +
                                 std::to_string(w.x0) + ", x1 " + std::to_string(w.x1) + ", x2 " +
                                 std::to_string(w.x2) + ", x3 " + std::to_string(w.x3) +
                                 ", carry " + std::to_string(w.carry) + ")"));
    }
  } else if (leastCost || resistance) {
    lines.push_back(
        "Corridor map:\t" +
        (s.CorridorMapName.empty()
             ? std::string("none")
             : s.CorridorMapName + (matrix && s.OneMapPerPair ? " (one map per pair)" : "")));
  }
  if (matrix) lines.push_back("Pair matrices:\t" + YesNo(s.PairMatrices));
  return lines;
}

std::vector<std::string> FilesWrittenLines(const std::vector<tWrittenFile>& files) {
  std::vector<std::string> lines{""};
  if (files.empty())
    lines.push_back("Files written:\tnone");
  else
    lines.push_back("Files written:");
  for (const tFileKind kind : kFileKindOrder)
    for (const tWrittenFile& f : files)
      if (f.Kind == kind) lines.push_back(std::string("- ") + FileKindLabel(kind) + ":\t" + f.Path);
  return lines;
}

std::vector<std::string> RunEndLines(const std::vector<tWrittenFile>& files, tRunOutcome outcome,
                                     double seconds, const std::string& error) {
  std::vector<std::string> lines = FilesWrittenLines(files);
  switch (outcome) {
  case tRunOutcome::Completed: lines.push_back("Run completed in " + ElapsedText(seconds)); break;
  case tRunOutcome::Cancelled:
    lines.push_back("Run cancelled after " + ElapsedText(seconds));
    break;
  case tRunOutcome::Failed:
    lines.push_back("Run failed after " + ElapsedText(seconds) + ": " + error);
    break;
  }
  return lines;
}

} // namespace stravex
