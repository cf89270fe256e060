// Cells that are not numbers (NaN, as GIS tools write no data, and infinite
// values) are missing cells in every report and in `info`, in IDRISI maps and
// GeoTIFFs alike; points off the maps are refused by strips as by the other
// algorithms.
#include "CliSupport.h"
#include "ExampleArgs.h"
#include "TestSupport.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <sstream>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

const fs::path kLandscape = fs::path(STRAVEX_EXAMPLES_DIR) / "landscape";
const fs::path kExpected = fs::path(STRAVEX_EXAMPLES_DIR) / "expected";
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The value a missing cell gets in the non-number maps: mostly NaN, some infinities.
float NonNumber(int32_t row, int32_t col) {
  const int k = (row + col) % 7;
  return k == 0 ? kInf : k == 1 ? -kInf : kNaN;
}

// Writes example map `name` into dir as 32-bit reals with the given flag;
// value(row, col, v, missing) gives each cell from the original's value and
// whether the original has it missing.
void WriteVariant(const fs::path& dir, const std::string& name, tFlagDef def, float flag,
                  const std::function<float(int32_t, int32_t, float, bool)>& value) {
  tLiveRaster src((kLandscape / name).string());
  src.LoadData();
  tLiveRaster out;
  out.CopyGeometry(src);
  out.FileName = (dir / name).string();
  out.Title = src.Title;
  out.ValueUnits = src.ValueUnits;
  out.DataType = dtReal;
  out.FlagDef = def;
  out.FlagValue = flag;
  out.FillConstant(0);
  out.LoadData();
  for (int32_t r = 0; r < src.Rows; ++r)
    for (int32_t c = 0; c < src.Columns; ++c)
      out.SetCell(r, c, value(r, c, static_cast<float>(src.GetCell(r, c)), src.IsFlagged(r, c)));
  out.SaveData();
  out.WriteDoc();
}

void CopyMap(const fs::path& dir, const std::string& name) {
  for (const char* ext : {".rst", ".rdc"})
    fs::copy_file(kLandscape / (name + ext), dir / (name + ext));
}

// The example landscape with the missing cells of forest_BL (255) and cover_QT
// (-9999) turned into non-numbers and their flags dropped.
void NonNumberLandscape(const fs::path& dir) {
  fs::create_directories(dir);
  const auto nonNumber = [](int32_t r, int32_t c, float v, bool missing) {
    return missing ? NonNumber(r, c) : v;
  };
  WriteVariant(dir, "forest_BL", fdNone, 0, nonNumber);
  WriteVariant(dir, "cover_QT", fdNone, 0, nonNumber);
  for (const char* name : {"roads_NB", "landuse_CL", "dem", "friction"}) CopyMap(dir, name);
}

// A band of cells across the map, open in the middle, that the sample points'
// paths cross.
bool InBand(int32_t r, int32_t c) { return c >= 90 && c < 94 && !(r >= 70 && r < 80); }

// dem and friction with the band missing: flagged (-9999, background) or
// non-numbers without a flag; the other maps as they are.
void BandLandscape(const fs::path& dir, bool flagged) {
  fs::create_directories(dir);
  for (const char* name : {"dem", "friction"})
    WriteVariant(dir, name, flagged ? fdBackground : fdNone, flagged ? -9999 : 0,
                 [flagged](int32_t r, int32_t c, float v, bool) {
                   if (!InBand(r, c)) return v;
                   return flagged ? -9999.0f : NonNumber(r, c);
                 });
  for (const char* name : {"forest_BL", "roads_NB", "landuse_CL", "cover_QT"}) CopyMap(dir, name);
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

void ExpectOnlyNumbers(const fs::path& report) {
  const std::string text = Lower(ReadFileBytes(report.string()));
  ASSERT_FALSE(text.empty()) << report;
  EXPECT_EQ(text.find("nan"), std::string::npos) << report;
  EXPECT_EQ(text.find("inf"), std::string::npos) << report;
}

std::vector<std::string> LeastCostArgs(const fs::path& dir, const std::string& ext) {
  auto m = [&](const char* name) { return (dir / (name + ext)).string(); };
  return {"matrix",      "--binary",     m("forest_BL"), m("roads_NB"), "--quantitative",
          m("cover_QT"), "--topography", m("dem"),       "--data",      Land("samples.txt"),
          "--algorithm", "least-cost",   "--friction",   m("friction"), "--width",
          "3",           "--corridor",   "corridor"};
}

std::vector<std::string> FrictionArgs(const fs::path& dir, const char* algorithm,
                                      const std::string& ext = "") {
  auto m = [&](const char* name) { return (dir / (name + ext)).string(); };
  return {"matrix",      "--binary",    m("forest_BL"),      m("roads_NB"), "--quantitative",
          m("cover_QT"), "--data",      Land("samples.txt"), "--algorithm", algorithm,
          "--friction",  m("friction"), "--project",         algorithm};
}

bool HaveGdal() { return HaveProgram("gdal_translate") && HaveProgram("gdalinfo"); }

TEST(MissingCellsCli, NonNumberCellsGiveTheReportsOfFlaggedOnes) {
  TempDir tmp;
  const fs::path dir = tmp.path() / "idrisi";
  NonNumberLandscape(dir);
  // The same maps with their flags: the committed reports, byte for byte.
  tCliRun r = RunCli(StripArgs(dir, ""), dir.string());
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectSameFile((dir / "strips-MatrixAnalysis.txt").string(),
                 (kExpected / "strips-MatrixAnalysis.txt").string());
  ExpectOnlyNumbers(dir / "strips-MatrixAnalysis.txt");
  r = RunCli(LeastCostArgs(dir, ""), dir.string());
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectSameFile((dir / "Friction-LeastCost-MatrixAnalysis.txt").string(),
                 (kExpected / "Friction-LeastCost-MatrixAnalysis.txt").string());
  // The current means and the exact paths' statistics against the flagged originals.
  const fs::path original = tmp.path() / "original";
  fs::create_directories(original);
  for (const char* algorithm : {"resistance", "exact"}) {
    SCOPED_TRACE(algorithm);
    r = RunCli(FrictionArgs(kLandscape, algorithm), original.string());
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunCli(With(FrictionArgs(dir, algorithm), {"--pair-matrices"}), dir.string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string report = std::string(algorithm) + "-MatrixAnalysis.txt";
    ExpectOnlyNumbers(dir / report);
    ExpectSameFile((dir / report).string(), (original / report).string());
  }
  // No pair without a value: the NA of a matrix would come from a report's Nan.
  int matrices = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().extension() != ".csv") continue;
    ++matrices;
    EXPECT_EQ(ReadFileBytes(e.path().string()).find("NA"), std::string::npos) << e.path();
  }
  EXPECT_GT(matrices, 0);

  // The same maps as GeoTIFFs through GDAL, which marks no nodata for them.
  if (!HaveGdal()) GTEST_SKIP() << "no GDAL tools";
  const fs::path tif = tmp.path() / "tif";
  fs::create_directories(tif);
  for (const char* name : {"forest_BL", "roads_NB", "landuse_CL", "cover_QT", "dem", "friction"})
    GdalTranslate({"-of", "GTiff"}, (dir / (std::string(name) + ".rst")).string(),
                  (tif / (std::string(name) + ".tif")).string());
  const tCliRun info = RunProgram("/usr/bin/env", {"gdalinfo", (tif / "cover_QT.tif").string()},
                                  "/");
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out.find("NoData"), std::string::npos) << info.out;
  r = RunCli(StripArgs(tif, ".tif"), tif.string());
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectSameFile((tif / "strips-MatrixAnalysis.txt").string(),
                 (kExpected / "strips-MatrixAnalysis.txt").string());
  r = RunCli(LeastCostArgs(tif, ".tif"), tif.string());
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectSameFile((tif / "Friction-LeastCost-MatrixAnalysis.txt").string(),
                 (kExpected / "Friction-LeastCost-MatrixAnalysis.txt").string());
  r = RunCli(FrictionArgs(tif, "resistance", ".tif"), tif.string());
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectSameFile((tif / "resistance-MatrixAnalysis.txt").string(),
                 (dir / "resistance-MatrixAnalysis.txt").string());
}

TEST(MissingCellsCli, NonNumberTopographyAndFrictionAreMissingAsFlaggedCells) {
  TempDir tmp;
  const fs::path flagged = tmp.path() / "flagged", nonNumber = tmp.path() / "nan";
  BandLandscape(flagged, true);
  BandLandscape(nonNumber, false);
  const std::vector<std::vector<std::string>> runs = {
      StripArgs(flagged, ""), FrictionArgs(flagged, "exact"), FrictionArgs(flagged, "resistance")};
  const std::vector<std::string> reports = {"strips-MatrixAnalysis.txt", "exact-MatrixAnalysis.txt",
                                            "resistance-MatrixAnalysis.txt"};
  for (std::size_t k = 0; k < runs.size(); ++k) {
    SCOPED_TRACE(reports[k]);
    std::vector<std::string> args = runs[k];
    tCliRun r = RunCli(args, flagged.string());
    ASSERT_EQ(r.status, 0) << r.err;
    for (std::string& a : args)
      if (a.rfind(flagged.string(), 0) == 0)
        a = nonNumber.string() + a.substr(flagged.string().size());
    r = RunCli(args, nonNumber.string());
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectOnlyNumbers(nonNumber / reports[k]);
    ExpectSameFile((nonNumber / reports[k]).string(), (flagged / reports[k]).string());
  }
  // The band is crossed: the strips' topography columns differ from the whole map's.
  EXPECT_NE(ReadFileBytes((flagged / reports[0]).string()),
            ReadFileBytes((kExpected / "strips-MatrixAnalysis.txt").string()));
}

using tBlock = std::map<std::string, std::string>;
tBlock InfoBlock(const std::string& map, const std::string& cwd) {
  const tCliRun r = RunCli({"info", map}, cwd);
  EXPECT_EQ(r.status, 0) << r.err;
  tBlock b;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    const auto colon = line.find(':');
    if (colon != std::string::npos) b[line.substr(0, colon)] = line.substr(colon + 1);
  }
  return b;
}

TEST(MissingCellsCli, InfoCountsNonNumbersAsMissingAndNotesGdalFlags) {
  TempDir tmp;
  const fs::path dir = tmp.path();
  NonNumberLandscape(dir);
  const tBlock original = InfoBlock((kLandscape / "cover_QT").string(), dir.string());
  const tBlock nan = InfoBlock((dir / "cover_QT").string(), dir.string());
  ASSERT_NE(original.count("valid cells"), 0u);
  for (const char* key : {"valid cells", "missing cells", "mean", "SD", "minimum", "maximum"})
    EXPECT_EQ(nan.count(key) ? nan.at(key) : "", original.at(key)) << key;
  EXPECT_NE(original.at("missing cells"), " 0");
  EXPECT_EQ(nan.at("flag definition"), " none");
  for (const auto& [key, value] : nan) {
    EXPECT_EQ(Lower(value).find("nan"), std::string::npos) << key;
    EXPECT_EQ(Lower(value).find("inf"), std::string::npos) << key;
  }
  if (HaveGdal()) {
    GdalTranslate({"-of", "GTiff"}, (dir / "cover_QT.rst").string(), (dir / "c.tif").string());
    const tBlock tif = InfoBlock((dir / "c.tif").string(), dir.string());
    for (const char* key : {"valid cells", "missing cells", "mean", "SD"})
      EXPECT_EQ(tif.count(key) ? tif.at(key) : "", original.at(key)) << key;
  }

  // No note for the example maps, which say "none"; one naming the value GDAL
  // takes for a map that says "no background".
  EXPECT_EQ(InfoBlock((kLandscape / "roads_NB").string(), dir.string()).count("flag note"), 0u);
  std::string doc = ReadFileBytes((kLandscape / "roads_NB.rdc").string());
  const std::string none = "flag def'n  : none";
  ASSERT_NE(doc.find(none), std::string::npos);
  doc.replace(doc.find(none), none.size(), "flag def'n  : no background");
  WriteFileBytes((dir / "old.rdc").string(), doc);
  fs::copy_file(kLandscape / "roads_NB.rst", dir / "old.rst");
  const tBlock old = InfoBlock((dir / "old").string(), dir.string());
  ASSERT_NE(old.count("flag note"), 0u);
  EXPECT_NE(old.at("flag note").find("no-data = 0 "), std::string::npos) << old.at("flag note");
  if (HaveGdal()) {
    // What the note says is what GDAL does.
    const tCliRun g = RunProgram("/usr/bin/env", {"gdalinfo", (dir / "old.rst").string()}, "/");
    ASSERT_EQ(g.status, 0) << g.err;
    EXPECT_NE(g.out.find("NoData Value=0"), std::string::npos) << g.out;
  }
}

// Every file of a folder with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(dir))
    files[e.path().filename().string()] = ReadFileBytes(e.path().string());
  return files;
}

TEST(MissingCellsCli, StripsRefusePointsOffTheMap) {
  TempDir tmp;
  const fs::path dir = tmp.path();
  // Longitude and latitude over maps in metres.
  WriteFileBytes((dir / "lonlat.txt").string(),
                 "[Sample size]\n3\n[Coordinates]\n-3.75 40.25\n-3.5 40.5\n-3.625 40.375\n"
                 "[Genetic distance]\n0\n1 0\n1 1 0\n");
  // One point off the map among points on it.
  WriteFileBytes((dir / "one.txt").string(),
                 "[Sample size]\n3\n[Coordinates]\n500385 4000235\n502500 4000500\n"
                 "500985 4000905\n[Genetic distance]\n0\n1 0\n1 1 0\n");
  WriteFileBytes((dir / "tracks.txt").string(), "X\tY\tID\tDay\tMonth\tYear\tHour\tMinute\tSecond\n"
                                                "500420\t4001100\t1\t3\t5\t2021\t6\t0\t0\n"
                                                "499000\t4000500\t1\t3\t5\t2021\t10\t0\t0\n"
                                                "500306\t4000969\t1\t3\t5\t2021\t14\t0\t0\n");
  WriteFileBytes((dir / "strips-MatrixAnalysis.txt").string(), "an earlier report\n");
  const auto before = Snapshot(dir);
  const std::string prefix = "stravex-cli: Some points were outside of the map. Process is "
                             "interrupted. Outside: ";
  for (const char* algorithm : {"fixed", "ratio"}) {
    SCOPED_TRACE(algorithm);
    const std::vector<std::string> base = {"matrix",
                                           "--binary",
                                           Land("forest_BL"),
                                           "--quantitative",
                                           Land("cover_QT"),
                                           "--algorithm",
                                           algorithm,
                                           "--project",
                                           "strips",
                                           "--log",
                                           (dir / "strips.log").string()};
    tCliRun r = RunCli(With(base, {"--data", (dir / "lonlat.txt").string()}), dir.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(prefix +
                         "point 0 at (-3.75, 40.25), point 1 at (-3.5, 40.5), point 2 at "
                         "(-3.625, 40.375). None of the 3 points lies on the map forest_BL "
                         "(x 500000..502000, y 4000000..4001500, plane, m): are the "
                         "points in the map's coordinate system?\n"),
              std::string::npos)
        << r.err;
    r = RunCli(With(base, {"--data", (dir / "one.txt").string()}), dir.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(prefix + "point 1 at (502500, 4000500)\n"), std::string::npos) << r.err;
    r = RunCli({"sequence", "--binary", Land("forest_BL"), "--algorithm", algorithm, "--data",
                (dir / "tracks.txt").string(), "--project", "seq"},
               dir.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(prefix + "location 1 (ID 1) at (499000, 4000500)\n"), std::string::npos)
        << r.err;
    // A walk starts at the individual's second location, here the only start.
    r = RunCli({"bootstrap", "--binary", Land("forest_BL"), "--algorithm", algorithm, "--data",
                (dir / "tracks.txt").string(), "--replicates", "2", "--project", "walks"},
               dir.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(prefix + "location 1 (ID 1) at (499000, 4000500). The only location "
                                  "does not lie on the map forest_BL (x 500000..502000, y "
                                  "4000000..4001500, plane, m): is it in the map's coordinate "
                                  "system?\n"),
              std::string::npos)
        << r.err;
  }
  EXPECT_EQ(Snapshot(dir), before);
}

} // namespace
} // namespace stravex::test
