// Maps opened through GDAL: which names stay IDRISI maps, what the
// documentation fields and cells become, and the dialog's filter.
#include "raster/GdalMap.h"
#include "CliSupport.h"
#include "RasterFixtures.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "raster/IdrisiEnv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace stravex;
using namespace stravex::test;

namespace {

namespace fs = std::filesystem;

const fs::path kLandscape = fs::path(STRAVEX_EXAMPLES_DIR) / "landscape";

class GdalMap : public ::testing::Test {
protected:
  void SetUp() override {
    SetIdrisiExtensions(false);
    if (!HaveProgram("gdal_translate")) GTEST_SKIP() << "no gdal_translate";
  }
  void TearDown() override { SetIdrisiExtensions(false); }

  TempDir tmp;
};

TEST_F(GdalMap, CellsAndFieldsMatchTheIdrisiOriginal) {
  for (const char* name : {"cover_QT", "landuse_CL", "roads_NB"}) {
    SCOPED_TRACE(name);
    const std::string tif = tmp.file(std::string(name) + ".tif");
    GdalTranslate(GdalNoDataOptions((kLandscape / (std::string(name) + ".rdc")).string()),
                  (kLandscape / (std::string(name) + ".rst")).string(), tif);
    tLiveRaster original((kLandscape / name).string());
    original.LoadData();
    const std::unique_ptr<tLiveRaster> map = OpenLiveMap(tif);
    ASSERT_NE(dynamic_cast<tGdalRaster*>(map.get()), nullptr);
    EXPECT_EQ(map->MapName(), name);
    EXPECT_EQ(map->DataType, original.DataType);
    EXPECT_EQ(map->FileType, ftBinary);
    EXPECT_EQ(map->FlagDef == fdBackground, original.FlagDef == fdBackground);
    if (original.FlagDef == fdBackground) {
      EXPECT_EQ(map->FlagValue, original.FlagValue);
    }
    EXPECT_EQ(map->RefSystem, "plane");
    EXPECT_TRUE(SameGeometry(*map, original));
    EXPECT_EQ(map->CellWidth, original.CellWidth);
    EXPECT_EQ(map->ColOfX(500123), original.ColOfX(500123));
    EXPECT_EQ(map->RowOfY(4000777), original.RowOfY(4000777));
    // Released cells are read one by one, loaded ones from memory: the same values.
    EXPECT_EQ(map->GetCell(75, 120), original.GetCell(75, 120));
    map->LoadData();
    int differing = 0;
    for (int32_t r = 0; r < original.Rows; ++r)
      for (int32_t c = 0; c < original.Columns; ++c)
        differing += map->GetCell(r, c) != original.GetCell(r, c);
    EXPECT_EQ(differing, 0);
    // The friction map is read whole through the base class.
    const std::unique_ptr<tRaster> asBase = OpenMap(tif);
    tMatrixOfSingle m;
    asBase->ReadSingleMatrix(m);
    ASSERT_EQ(m.size(), static_cast<std::size_t>(original.Rows));
    EXPECT_EQ(m[149][199], static_cast<float>(original.GetCell(149, 199)));
    EXPECT_DOUBLE_EQ(asBase->GetMean(), original.GetMean());
  }
}

TEST_F(GdalMap, ShiftedGridDoesNotOverlayAndChangesInMemoryOnly) {
  const std::string tif = tmp.file("dem.tif");
  GdalTranslate({"-a_ullr", "500010", "4001500", "502010", "4000000"},
                (kLandscape / "dem.rst").string(), tif);
  const tLiveRaster original((kLandscape / "dem").string());
  tGdalRaster map(tif);
  EXPECT_FALSE(SameGeometry(map, original));
  const auto before = fs::last_write_time(tif);
  map.SetCell(0, 0, 42.5f);
  EXPECT_TRUE(map.Loaded());
  EXPECT_EQ(map.GetCell(0, 0), 42.5);
  EXPECT_THROW(map.SaveData(), EInOutError);
  EXPECT_EQ(fs::last_write_time(tif), before);
  EXPECT_FALSE(fs::exists(tmp.file("dem.rst")));
}

TEST_F(GdalMap, IdrisiNamesKeepTheirMeaning) {
  // The classic pair ".doc"/".img" stays IDRISI, an ".img" without
  // documentation is ERDAS Imagine.
  const std::string forest = (kLandscape / "forest_BL").string();
  fs::copy_file(forest + ".rdc", tmp.file("classic.doc"));
  fs::copy_file(forest + ".rst", tmp.file("classic.img"));
  GdalTranslate({"-of", "HFA"}, forest + ".rst", tmp.file("erdas.img"));
  EXPECT_TRUE(IsIdrisiMapName(tmp.file("classic.img")));
  EXPECT_FALSE(IsIdrisiMapName(tmp.file("erdas.img")));
  EXPECT_TRUE(IsIdrisiMapName(forest));
  EXPECT_TRUE(IsIdrisiMapName(forest + ".rst"));
  // A missing file is left to the IDRISI reader and its message.
  EXPECT_TRUE(IsIdrisiMapName(tmp.file("nothing.tif")));
  EXPECT_EQ(MessageOf<EInOutError>([&] { OpenLiveMap(tmp.file("nothing.tif")); }),
            tmp.file("nothing.tif") + ".rdc not found.");
  const auto erdas = OpenLiveMap(tmp.file("erdas.img"));
  EXPECT_NE(dynamic_cast<tGdalRaster*>(erdas.get()), nullptr);
  EXPECT_EQ(dynamic_cast<tGdalRaster&>(*erdas).FormatName(), "Erdas Imagine Images (.img)");
  // The classic pair is read in either generation, named with or without extension.
  for (const bool classicProgram : {false, true}) {
    SetIdrisiExtensions(classicProgram);
    for (const char* name : {"classic.img", "classic.doc", "classic"}) {
      SCOPED_TRACE(name);
      const auto classic = OpenLiveMap(tmp.file(name));
      EXPECT_EQ(dynamic_cast<tGdalRaster*>(classic.get()), nullptr);
      EXPECT_TRUE(classic->Classic);
      EXPECT_EQ(classic->MapName(), "classic");
      classic->LoadData();
      EXPECT_EQ(classic->GetCell(10, 10), OpenMap(forest)->GetCell(10, 10));
    }
  }
  // A file GDAL does not know is refused with GDAL's reason.
  WriteFileBytes(tmp.file("notes.txt"), "no map here\n");
  EXPECT_NE(MessageOf<EInOutError>([&] {
              OpenLiveMap(tmp.file("notes.txt"));
            }).find(tmp.file("notes.txt") + " cannot be opened as a raster map"),
            std::string::npos);
}

TEST_F(GdalMap, NoDataTypesAndReferenceSystems) {
  // Int16 with a nodata value: integer cells, flag = nodata.
  WriteFileBytes(tmp.file("small.asc"), "ncols 3\nnrows 2\nxllcorner 10\nyllcorner 20\n"
                                        "cellsize 5\nNODATA_value -1\n1 -1 300\n-7 0 2\n");
  GdalTranslate({"-ot", "Int16", "-a_srs", "EPSG:32630"}, tmp.file("small.asc"),
                tmp.file("i16.tif"));
  tGdalRaster i16(tmp.file("i16.tif"));
  EXPECT_EQ(i16.DataType, dtInteger);
  EXPECT_EQ(i16.FlagDef, fdBackground);
  EXPECT_EQ(i16.FlagValue, -1.0f);
  EXPECT_EQ(i16.RefSystem, "utm-30n");
  EXPECT_EQ(i16.RefUnits, "m");
  EXPECT_EQ(i16.MinX, 10);
  EXPECT_EQ(i16.MaxY, 30);
  EXPECT_EQ(i16.MaxX, 25);
  EXPECT_EQ(i16.MinY, 20);
  i16.LoadData();
  EXPECT_TRUE(i16.IsFlagged(0, 1));
  EXPECT_EQ(i16.GetCell(1, 0), -7);
  EXPECT_EQ(i16.GetCell(0, 2), 300);

  // UInt16 is read as real; a NaN nodata becomes a flag that cells can equal.
  GdalTranslate({"-ot", "UInt16", "-a_srs", "EPSG:4326", "-a_nodata", "none"},
                tmp.file("small.asc"), tmp.file("u16.tif"));
  tGdalRaster u16(tmp.file("u16.tif"));
  EXPECT_EQ(u16.DataType, dtReal);
  EXPECT_EQ(u16.FlagDef, fdNone);
  EXPECT_EQ(u16.RefSystem, "latlong");
  u16.LoadData();
  EXPECT_EQ(u16.GetCell(0, 2), 300);
  EXPECT_EQ(u16.GetCell(1, 0), 0); // -7 clamped by the conversion
  GdalTranslate({"-ot", "Float64", "-a_nodata", "nan"}, tmp.file("small.asc"), tmp.file("nan.tif"));
  tGdalRaster nan(tmp.file("nan.tif"));
  EXPECT_EQ(nan.DataType, dtReal);
  EXPECT_EQ(nan.FlagDef, fdBackground);
  EXPECT_FALSE(std::isnan(nan.FlagValue));

  // Bytes stay bytes; a georeference-free grid is laid out in cell units.
  GdalTranslate({"-of", "PNG", "-ot", "Byte", "-a_nodata", "none"}, tmp.file("small.asc"),
                tmp.file("plain.png"));
  fs::remove(tmp.file("plain.png.aux.xml"));
  tGdalRaster png(tmp.file("plain.png"));
  EXPECT_EQ(png.DataType, dtByte);
  EXPECT_EQ(png.RefSystem, "plane");
  EXPECT_EQ(png.MaxX, 3);
  EXPECT_EQ(png.MaxY, 2);
  EXPECT_EQ(png.GetCell(0, 0), 1);
}

TEST(GdalMapNames, GeoTiffByExtension) {
  EXPECT_TRUE(IsGeoTiffName("c.TIFF"));
  EXPECT_TRUE(IsGeoTiffName("dir.x/c.tif"));
  EXPECT_FALSE(IsGeoTiffName("c.tif.rst"));
}

} // namespace
