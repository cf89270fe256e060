// Maps exchanged with GDAL, an independent reader and writer of the format.
#include "CliSupport.h"
#include "TestSupport.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

using namespace stravex;
using namespace stravex::test;

namespace {

// What gdalinfo -json reports about band 1, as "key=value" lines.
const char* const kFlatten = R"(import json, sys
d = json.load(sys.stdin); b = d["bands"][0]
print("size=%d %d" % tuple(d["size"])); print("type=" + b["type"])
print("gt=" + " ".join(repr(float(v)) for v in d["geoTransform"]))
for k in ("noDataValue", "minimum", "maximum", "mean", "stdDev"): print(k + "=" + repr(b.get(k)))
)";

std::map<std::string, std::string> GdalInfo(const TempDir& dir, const std::string& image) {
  WriteFileBytes(dir.file("flatten.py"), kFlatten);
  // The paths reach the shell as positional arguments, never as program text.
  const tCliRun r = RunProgram("/bin/sh",
                               {"-c", "gdalinfo -json -stats \"$1\" 2>/dev/null | python3 \"$2\"",
                                "sh", image, dir.file("flatten.py")},
                               "/");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const std::string& out = r.out;
  std::map<std::string, std::string> info;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (const auto eq = line.find('='); eq != std::string::npos)
      info[line.substr(0, eq)] = line.substr(eq + 1);
  return info;
}

// GDAL knows the current generation's ".rst" / ".rdc" pair.
struct tCurrentGeneration {
  bool was = ClassicIdrisi();
  tCurrentGeneration() { SetIdrisiExtensions(false); }
  ~tCurrentGeneration() { SetIdrisiExtensions(was); }
};

double Num(const std::map<std::string, std::string>& info, const std::string& key) {
  const auto it = info.find(key);
  return it == info.end() || it->second == "None" ? std::nan("") : std::stod(it->second);
}

} // namespace

TEST(GdalInterop, GdalReadsStravexMapsOfEveryType) {
  if (!HaveProgram("gdalinfo") || !HaveProgram("python3")) GTEST_SKIP() << "no gdalinfo";
  const tCurrentGeneration current;
  TempDir dir;
  const struct {
    tDataType type;
    const char* gdalType;
    float flag;
    std::vector<float> cells; // 3 rows x 4 columns
  } cases[] = {
      {dtByte, "Byte", 255, {0, 1, 2, 255, 10, 20, 30, 40, 250, 255, 7, 8}},
      {dtInteger, "Int16", -9999, {-32768, 5, -9999, 32767, 0, -1, 2, 3, 100, -9999, -200, 17}},
      {dtReal, "Float32", -1, {0.5f, -1, 3.25f, -2.5e6f, 1e-3f, 7, -1, 42.125f, 9, 10, 11, 12}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.gdalType);
    tLiveRaster m;
    m.FileName = dir.file(std::string("stravex_") + c.gdalType);
    m.DataType = c.type;
    m.Rows = 3;
    m.Columns = 4;
    m.MinX = 1000;
    m.MaxX = 1100; // 25 wide
    m.MinY = 2000;
    m.MaxY = 2030; // 10 high
    m.RefSystem = "plane";
    m.RefUnits = "m";
    m.FlagDef = fdBackground;
    m.FlagValue = c.flag;
    m.FillConstant(0);
    m.LoadData();
    for (int32_t k = 0; k < 12; ++k) m.SetCell(k / 4, k % 4, c.cells[static_cast<std::size_t>(k)]);
    m.SaveData();
    m.ComputeSD();
    float lo = 3.4e38f, hi = -3.4e38f;
    for (const float v : c.cells)
      if (v != c.flag) lo = std::min(lo, v), hi = std::max(hi, v);
    m.MinValue = lo;
    m.MaxValue = hi;
    m.WriteDoc();

    auto info = GdalInfo(dir, m.FileName + ImageExt());
    EXPECT_EQ(info["size"], "4 3");
    EXPECT_EQ(info["type"], c.gdalType);
    EXPECT_EQ(info["gt"], "1000.0 25.0 0.0 2030.0 0.0 -10.0");
    EXPECT_EQ(Num(info, "noDataValue"), c.flag);
    EXPECT_EQ(Num(info, "minimum"), lo);
    EXPECT_EQ(Num(info, "maximum"), hi);
    // gdalinfo prints its statistics with three decimals.
    EXPECT_NEAR(Num(info, "mean"), m.Mean, 5.1e-4);
    EXPECT_NEAR(Num(info, "stdDev"), m.SD, 5.1e-4);
  }
}

TEST(GdalInterop, StravexReadsMapsWrittenByGdal) {
  if (!HaveProgram("gdal_translate")) GTEST_SKIP() << "no gdal_translate";
  const tCurrentGeneration current;
  TempDir dir;
  // An ASCII grid, 3 rows x 4 columns of 10-unit cells, south-west corner (100, 200).
  const std::string header =
      "ncols 4\nnrows 3\nxllcorner 100\nyllcorner 200\ncellsize 10\nNODATA_value ";
  const struct {
    const char* gdalType;
    tDataType type;
    float flag;
    std::vector<float> cells;
  } cases[] = {
      {"Byte", dtByte, 255, {1, 2, 3, 4, 0, 255, 7, 8, 9, 10, 11, 254}},
      {"Int16", dtInteger, -9999, {1, -2, 3, -32768, -5, -9999, 7, 8, 9, 10, 32767, 1200}},
      {"Float32", dtReal, -9999, {0.5f, -1.25f, 3, 4, -5, -9999, 7, 8, 9.75f, 10, 11, 1e6f}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.gdalType);
    std::ostringstream asc;
    asc << header << c.flag << "\n";
    for (int32_t k = 0; k < 12; ++k)
      asc << c.cells[static_cast<std::size_t>(k)] << (k % 4 == 3 ? "\n" : " ");
    const std::string ascPath = dir.file(std::string("in_") + c.gdalType + ".asc");
    WriteFileBytes(ascPath, asc.str());
    const std::string base = dir.file(std::string("gdal_") + c.gdalType);
    const tCliRun r = RunProgram(
        "/usr/bin/env",
        {"gdal_translate", "-q", "-of", "RST", "-ot", c.gdalType, ascPath, base + ".rst"}, "/");
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    tLiveRaster m(base + ".rst");
    EXPECT_EQ(m.DataType, c.type);
    EXPECT_EQ(m.Rows, 3);
    EXPECT_EQ(m.Columns, 4);
    EXPECT_EQ(m.MinX, 100);
    EXPECT_EQ(m.MaxY, 230);
    EXPECT_EQ(m.ColOfX(125), 2); // (125 - 100) / 10 = 2.5: the cell that holds it
    EXPECT_EQ(m.RowOfY(215), 1); // (230 - 215) / 10 = 1.5
    EXPECT_EQ(m.FlagDef, fdBackground);
    EXPECT_EQ(m.FlagValue, c.flag);
    for (const bool loaded : {false, true}) {
      if (loaded) m.LoadData();
      for (int32_t k = 0; k < 12; ++k)
        EXPECT_EQ(m.GetCell(k / 4, k % 4), c.cells[static_cast<std::size_t>(k)])
            << "cell " << k << (loaded ? " loaded" : " released");
      EXPECT_TRUE(m.IsFlagged(1, 1));
      EXPECT_FALSE(m.IsFlagged(1, 0));
    }
  }
}
