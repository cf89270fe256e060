// Maps in other raster formats (converted from the example landscape with
// GDAL's own tools) give the same reports as the IDRISI originals; grids and
// types that cannot be read as they are, are refused with their reason.
#include "CliSupport.h"
#include "ExampleArgs.h"
#include "TestSupport.h"
#include "raster/GdalMap.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

const fs::path kLandscape = fs::path(STRAVEX_EXAMPLES_DIR) / "landscape";
const fs::path kExpected = fs::path(STRAVEX_EXAMPLES_DIR) / "expected";
const std::vector<std::string> kMaps = {"forest_BL", "roads_NB", "landuse_CL",
                                        "cover_QT",  "dem",      "friction"};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

bool HaveGdal() { return HaveProgram("gdal_translate") && HaveProgram("gdalinfo"); }

// Every example map as <dir>/<name><ext> in the given GDAL format.
void ConvertExamples(const fs::path& dir, const std::string& format, const std::string& ext) {
  fs::create_directories(dir);
  for (const std::string& name : kMaps) {
    std::vector<std::string> options = GdalNoDataOptions((kLandscape / (name + ".rdc")).string());
    options.insert(options.end(), {"-of", format});
    GdalTranslate(options, (kLandscape / (name + ".rst")).string(), (dir / (name + ext)).string());
  }
}

std::vector<std::string> LeastCostArgs(const fs::path& dir, const std::string& ext,
                                       const std::string& corridor) {
  auto m = [&](const char* name) { return (dir / (name + ext)).string(); };
  return {"matrix",         "--binary",
          m("forest_BL"),   m("roads_NB"),
          "--quantitative", m("cover_QT"),
          "--topography",   m("dem"),
          "--data",         (kLandscape / "samples.txt").string(),
          "--algorithm",    "least-cost",
          "--friction",     m("friction"),
          "--width",        "3",
          "--corridor",     corridor};
}

TEST(GdalMapsCli, ConvertedMapsGiveTheReportsOfTheOriginals) {
  if (!HaveGdal()) GTEST_SKIP() << "no GDAL tools";
  TempDir tmp;
  const struct {
    const char* format;
    const char* ext;
  } formats[] = {{"GTiff", ".tif"}, {"AAIGrid", ".asc"}, {"VRT", ".vrt"}, {"HFA", ".img"}};
  for (const auto& f : formats) {
    SCOPED_TRACE(f.format);
    const fs::path dir = tmp.path() / f.format;
    ConvertExamples(dir, f.format, f.ext);
    const tCliRun r = RunCli(StripArgs(dir, f.ext), dir.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ExpectSameFile((dir / "strips-MatrixAnalysis.txt").string(),
                   (kExpected / "strips-MatrixAnalysis.txt").string());
  }
  // Least-cost paths read the whole friction map from the GeoTIFF.
  const fs::path dir = tmp.path() / "GTiff";
  const tCliRun lc = RunCli(LeastCostArgs(dir, ".tif", "corridor"), dir.string());
  ASSERT_EQ(lc.status, 0) << lc.err;
  ExpectSameFile((dir / "Friction-LeastCost-MatrixAnalysis.txt").string(),
                 (kExpected / "Friction-LeastCost-MatrixAnalysis.txt").string());

  // A corridor map named ".tif" ends as a tiled, compressed GeoTIFF with the
  // counts of the IDRISI one; the working copy is gone after a completed run.
  const tCliRun tif = RunCli(With(LeastCostArgs(dir, ".tif", "corridor.tif"), {"--project", "t"}),
                             dir.string());
  ASSERT_EQ(tif.status, 0) << tif.err;
  ExpectSameFile((dir / "t-MatrixAnalysis.txt").string(),
                 (kExpected / "Friction-LeastCost-MatrixAnalysis.txt").string());
  EXPECT_FALSE(fs::exists(dir / "corridor.tif.rst"));
  EXPECT_FALSE(fs::exists(dir / "corridor.tif.rdc"));
  EXPECT_FALSE(fs::exists(dir / "corridor.tif.part"));
  tLiveRaster idrisi((dir / "corridor").string());
  idrisi.LoadData();
  const auto read = OpenLiveMap((dir / "corridor.tif").string());
  ASSERT_NE(dynamic_cast<tGdalRaster*>(read.get()), nullptr);
  read->LoadData();
  EXPECT_EQ(read->DataType, dtInteger);
  EXPECT_TRUE(SameGeometry(*read, idrisi));
  int differing = 0;
  double total = 0;
  for (int32_t r = 0; r < idrisi.Rows; ++r)
    for (int32_t c = 0; c < idrisi.Columns; ++c) {
      differing += read->GetCell(r, c) != idrisi.GetCell(r, c);
      total += idrisi.GetCell(r, c);
    }
  EXPECT_EQ(differing, 0);
  EXPECT_GT(total, 0);
  const tCliRun info = RunProgram("/usr/bin/env", {"gdalinfo", (dir / "corridor.tif").string()},
                                  "/");
  EXPECT_NE(info.out.find("Block=256x256 Type=Int16"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("COMPRESSION=DEFLATE"), std::string::npos) << info.out;
}

TEST(GdalMapsCli, WiderTypesAreReadWhenEveryValueIsExactInFloat) {
  if (!HaveGdal()) GTEST_SKIP() << "no GDAL tools";
  TempDir tmp;
  const fs::path dir = tmp.path();
  ConvertExamples(dir, "GTiff", ".tif");
  // Float64 and Int32 copies hold the same (exact) values: same report.
  GdalTranslate({"-ot", "Float64"}, (kLandscape / "cover_QT.rst").string(),
                tmp.file("cover_QT.tif"));
  GdalTranslate({"-ot", "Int32"}, (kLandscape / "forest_BL.rst").string(),
                tmp.file("forest_BL.tif"));
  const tCliRun r = RunCli(StripArgs(dir, ".tif"), dir.string());
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectSameFile(tmp.file("strips-MatrixAnalysis.txt"),
                 (kExpected / "strips-MatrixAnalysis.txt").string());
}

TEST(GdalMapsCli, RotatedGridsAndInexactTypesAreRefused) {
  if (!HaveGdal()) GTEST_SKIP() << "no GDAL tools";
  TempDir tmp;
  const std::string forest = (kLandscape / "forest_BL.rst").string();
  // A VRT whose geotransform has rotation terms.
  GdalTranslate({"-of", "VRT"}, forest, tmp.file("rotated.vrt"));
  std::string vrt = ReadFileBytes(tmp.file("rotated.vrt"));
  const auto open = vrt.find("<GeoTransform>");
  const auto close = vrt.find("</GeoTransform>");
  ASSERT_NE(open, std::string::npos);
  vrt.replace(open, close - open, "<GeoTransform> 5.0e+05, 10, 2, 4.0015e+06, 2, -10 ");
  WriteFileBytes(tmp.file("rotated.vrt"), vrt);
  // Values that a 32-bit real does not hold: 0.1 in Float64, and complex cells.
  WriteFileBytes(tmp.file("tenths.asc"),
                 "ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n0.1 1\n2 3\n");
  GdalTranslate({"-oo", "DATATYPE=Float64", "-ot", "Float64"}, tmp.file("tenths.asc"),
                tmp.file("tenths.tif"));
  GdalTranslate({"-ot", "CFloat32"}, forest, tmp.file("complex.tif"));

  const std::map<std::string, std::string> refusals = {
      {"rotated.vrt",
       tmp.file("rotated.vrt") + " is a rotated grid; only north-up maps can be read."},
      {"tenths.tif", tmp.file("tenths.tif") +
                         ": data type Float64 is not supported: the value 0.10000000000000001 "
                         "(row 0, column 0) is not exact as a 32-bit real."},
      {"complex.tif", tmp.file("complex.tif") + ": data type CFloat32 is not supported."}};
  for (const auto& [name, message] : refusals) {
    SCOPED_TRACE(name);
    const tCliRun matrix = RunCli({"matrix", "--binary", tmp.file(name), "--data",
                                   (kLandscape / "samples.txt").string(), "--project", "refused"},
                                  tmp.path().string());
    EXPECT_NE(matrix.status, 0);
    EXPECT_NE(matrix.err.find(message), std::string::npos) << matrix.err;
    EXPECT_FALSE(fs::exists(tmp.path() / "refused-MatrixAnalysis.txt"));
    const tCliRun info = RunCli({"info", tmp.file(name)}, "/");
    EXPECT_EQ(info.status, 1);
    EXPECT_EQ(info.err, "stravex-cli: " + message + "\n");
  }
}

TEST(GdalMapsCli, SequenceCorridorAsGeoTiffAndAFrictionMapThatDoesNotOverlay) {
  if (!HaveGdal()) GTEST_SKIP() << "no GDAL tools";
  TempDir tmp;
  const std::vector<std::string> run = {"sequence",
                                        "--binary",
                                        (kLandscape / "forest_BL").string(),
                                        (kLandscape / "roads_NB").string(),
                                        "--data",
                                        (kLandscape / "tracks.txt").string(),
                                        "--algorithm",
                                        "least-cost",
                                        "--friction",
                                        (kLandscape / "friction").string(),
                                        "--width",
                                        "3"};
  tCliRun r = RunCli(With(run, {"--corridor", "lc", "--project", "a"}), tmp.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunCli(With(run, {"--corridor", "lc.tif", "--project", "b"}), tmp.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectSameFile(tmp.file("a-SequenceAnalysis.txt"), tmp.file("b-SequenceAnalysis.txt"));
  tLiveRaster idrisi(tmp.file("lc"));
  idrisi.LoadData();
  const auto tif = OpenLiveMap(tmp.file("lc.tif"));
  tif->LoadData();
  ASSERT_TRUE(SameGeometry(*tif, idrisi));
  int differing = 0;
  double total = 0;
  for (int32_t row = 0; row < idrisi.Rows; ++row)
    for (int32_t col = 0; col < idrisi.Columns; ++col) {
      differing += tif->GetCell(row, col) != idrisi.GetCell(row, col);
      total += idrisi.GetCell(row, col);
    }
  EXPECT_EQ(differing, 0);
  EXPECT_GT(total, 0);

  // A friction GeoTIFF shifted by one cell is refused with the window's message.
  GdalTranslate({"-a_ullr", "500010", "4001500", "502010", "4000000"},
                (kLandscape / "friction.rst").string(), tmp.file("shifted.tif"));
  r = RunCli({"matrix", "--binary", (kLandscape / "forest_BL").string(), "--data",
              (kLandscape / "samples.txt").string(), "--algorithm", "least-cost", "--friction",
              tmp.file("shifted.tif"), "--project", "c"},
             tmp.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("shifted cannot be overlaid on the ecogeographical maps. Differs in min X, "
                       "max X: shifted: 200 columns, 150 rows, X 500010 to 502010"),
            std::string::npos)
      << r.err;
}

// "key: value" lines of one info block.
std::map<std::string, std::string> InfoLines(const std::string& text) {
  std::map<std::string, std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const auto colon = line.find(':');
    if (colon != std::string::npos)
      out[line.substr(0, colon)] = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
  }
  return out;
}

TEST(GdalMapsCli, InfoOnAGeoTiffAgreesWithTheOriginal) {
  if (!HaveGdal()) GTEST_SKIP() << "no GDAL tools";
  TempDir tmp;
  ConvertExamples(tmp.path(), "GTiff", ".tif");
  for (const std::string& name : {std::string("cover_QT"), std::string("landuse_CL")}) {
    SCOPED_TRACE(name);
    const tCliRun tif = RunCli({"info", tmp.file(name + ".tif")}, "/");
    const tCliRun rst = RunCli({"info", (kLandscape / name).string()}, "/");
    ASSERT_EQ(tif.status, 0) << tif.err;
    ASSERT_EQ(rst.status, 0) << rst.err;
    const auto a = InfoLines(tif.out);
    const auto b = InfoLines(rst.out);
    EXPECT_EQ(a.at("file"), tmp.file(name + ".tif"));
    EXPECT_EQ(a.at("file format"), "GeoTIFF");
    for (const char* key : {"map",
                            "data type",
                            "file type",
                            "columns",
                            "rows",
                            "cell width",
                            "cell height",
                            "min X",
                            "max X",
                            "min Y",
                            "max Y",
                            "reference system",
                            "flag definition",
                            "valid cells",
                            "missing cells",
                            "mean",
                            "SD",
                            "min value",
                            "max value",
                            "minimum",
                            "maximum"})
      EXPECT_EQ(a.at(key), b.at(key)) << key;
    if (b.at("flag definition") == "background") {
      EXPECT_EQ(a.at("flag value"), b.at("flag value"));
    }
  }
}

} // namespace
} // namespace stravex::test
