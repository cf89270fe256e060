#include "raster/MapInfo.h"

#include "TestSupport.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <map>

using namespace stravex;
using stravex::test::TempDir;

namespace {

std::map<std::string, std::string> AsMap(const std::vector<tMapInfoLine>& lines) {
  std::map<std::string, std::string> m;
  for (const auto& [k, v] : lines) m.emplace(k, v);
  return m;
}

} // namespace

TEST(MapInfo, MapsOfTheOtherGenerationLeaveTheProgramsAlone) {
  TempDir dir;
  SetIdrisiExtensions(true);
  {
    tLiveRaster r; // a classic ".doc"/".img" map, 2 x 3 bytes, one missing cell
    r.FileName = dir.file("old");
    r.Rows = 2;
    r.Columns = 3;
    r.MaxX = 3;
    r.MaxY = 2;
    r.DataType = dtByte;
    r.FlagDef = fdBackground;
    r.FlagValue = 0;
    r.FillConstant(4);
    r.LoadData();
    r.SetCell(1, 2, 0);
    r.SetCell(0, 0, 7);
    r.SaveData();
  }
  SetIdrisiExtensions(false);

  for (const std::string& name : {dir.file("old.img"), dir.file("old.doc"), dir.file("old")}) {
    const auto info = AsMap(DescribeMap(name));
    EXPECT_EQ(info.at("file"), dir.file("old.img")) << name;
    EXPECT_EQ(info.at("valid cells"), "5");
    EXPECT_EQ(info.at("missing cells"), "1");
    EXPECT_EQ(info.at("minimum"), "4");
    EXPECT_EQ(info.at("maximum"), "7");
    EXPECT_FALSE(ClassicIdrisi()) << "the program's generation is never switched";
  }
  const std::string text = FormatMapInfo({{"map", "old"}, {"title", ""}});
  EXPECT_EQ(text, "map: old\ntitle:\n");
}
