#include "analysis/MapSet.h"

#include "MapFixtures.h"
#include "base/Errors.h"
#include "raster/IdrisiEnv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace stravex;
using namespace stravex::test;

namespace {

float Ones(int32_t, int32_t) { return 1; }

// A map whose documentation declares an ASCII image.
std::string WriteAsciiMap(const TempDir& dir, const std::string& name) {
  const std::string file = WriteMap(dir, name, 3, 4, dtByte, Ones);
  tRaster r(file);
  r.FileType = ftAscii;
  r.WriteDoc();
  return file;
}

} // namespace

TEST(MapSet, LoadingRefusesMapsThatDoNotFitAndKeepsTheRest) {
  TempDir dir;
  RecordingReporter rep;
  const std::string a = WriteMap(dir, "a", 3, 4, dtByte, Ones);
  const std::string shifted = WriteMap(dir, "shifted", 3, 4, dtByte, Ones, fdNoBackground, 0, 1);
  const std::string c = WriteMap(dir, "c", 3, 4, dtInteger, Ones);
  const std::string ascii = WriteAsciiMap(dir, "text");

  tMapSet maps;
  // The third map is compared with the last accepted one (the first), so it loads.
  maps.LoadBinaryMaps({a, shifted, ascii, c}, rep);
  ASSERT_EQ(maps.BinaryMaps.size(), 2u);
  EXPECT_EQ(maps.BinaryMaps[0]->MapName(), "a");
  EXPECT_EQ(maps.BinaryMaps[1]->MapName(), "c");
  EXPECT_TRUE(maps.BinaryMaps[1]->Loaded());
  const std::string geometryA =
      "a: 4 columns, 3 rows, X 0 to 4, Y 0 to 3, reference system \"plane\"";
  const std::string geometryShifted =
      "shifted: 4 columns, 3 rows, X 1 to 5, Y 0 to 3, reference system \"plane\"";
  EXPECT_EQ(rep.errors, (std::vector<std::string>{
                            "shifted cannot be overlaid on the previous maps. Differs in min X, "
                            "max X: " +
                                geometryShifted + "; " + geometryA + ".",
                            "text is not in binary format."}));
  EXPECT_EQ(rep.labels.front(), "Verifying maps");
  EXPECT_EQ(rep.labels.back(), "Ready");
  EXPECT_EQ(rep.progress, (std::vector<int>{0, 25, 100, 0}));

  // Quantitative maps are not compared with the binary ones; the topography
  // map is compared with nothing; both refuse an ASCII image.
  rep.errors.clear();
  maps.LoadQuantitativeMaps({shifted, ascii}, rep);
  EXPECT_EQ(maps.QuantitativeMaps.size(), 1u);
  EXPECT_FALSE(maps.LoadTopographyMap(ascii, rep));
  EXPECT_FALSE(maps.TopographyMap);
  EXPECT_TRUE(maps.LoadTopographyMap(shifted, rep));
  EXPECT_EQ(rep.errors, (std::vector<std::string>{"text is not in binary format.",
                                                  "text is not in binary format."}));
  EXPECT_EQ(maps.MapCount(), 4);
  maps.BuildMapList();
  ASSERT_EQ(maps.AllMaps.size(), 4u);
  EXPECT_EQ(maps.AllMaps[2], maps.QuantitativeMaps[0].get());
  EXPECT_EQ(maps.AllMaps[3], maps.TopographyMap.get());

  // The friction map is checked against the first map of AllMaps: the first
  // binary map, else the first quantitative map.
  rep.errors.clear();
  EXPECT_TRUE(maps.CheckFrictionMap(a, rep));
  EXPECT_FALSE(maps.CheckFrictionMap(shifted, rep));
  EXPECT_FALSE(maps.CheckFrictionMap(ascii, rep));
  maps.LoadBinaryMaps({}, rep);
  EXPECT_TRUE(maps.CheckFrictionMap(shifted, rep));
  EXPECT_EQ(rep.errors, (std::vector<std::string>{
                            "shifted cannot be overlaid on the ecogeographical maps. Differs in "
                            "min X, max X: " +
                                geometryShifted + "; " + geometryA + ".",
                            "text is not in binary format."}));

  // A documentation file that cannot be read ends the loading; the maps
  // accepted before it stay, and the label is back to "Ready".
  rep.labels.clear();
  EXPECT_THROW(maps.LoadBinaryMaps({a, dir.file("missing"), c}, rep), EStravexError);
  EXPECT_EQ(maps.BinaryMaps.size(), 1u);
  EXPECT_EQ(rep.labels.back(), "Ready");
}

TEST(MapSet, OverlayRefusalsNameEveryDifference) {
  TempDir dir;
  RecordingReporter rep;
  const std::string a = WriteMap(dir, "a", 3, 4, dtByte, Ones);
  const std::string wide = WriteMap(dir, "wide", 3, 5, dtByte, Ones);
  const std::string other = WriteMap(dir, "other", 4, 4, dtByte, Ones);
  {
    tRaster r(other);
    r.RefSystem = "utm-30n";
    r.MaxY = 3.00005; // within the tolerance of the comparison
    r.WriteDoc();
  }
  tMapSet maps;
  maps.LoadBinaryMaps({a, wide, other}, rep);
  ASSERT_EQ(rep.errors.size(), 2u);
  EXPECT_EQ(rep.errors[0], "wide cannot be overlaid on the previous maps. Differs in columns, max "
                           "X: wide: 5 columns, 3 rows, X 0 to 5, Y 0 to 3, reference system "
                           "\"plane\"; a: 4 columns, 3 rows, X 0 to 4, Y 0 to 3, reference "
                           "system \"plane\".");
  EXPECT_EQ(rep.errors[1], "other cannot be overlaid on the previous maps. Differs in rows, "
                           "reference system: other: 4 columns, 4 rows, X 0 to 4, Y 0 to "
                           "3.00005, reference system \"utm-30n\"; a: 4 columns, 3 rows, X 0 to "
                           "4, Y 0 to 3, reference system \"plane\".");
  // The reference system is compared without regard to case.
  tRaster upper(a), lower(a);
  upper.RefSystem = "PLANE";
  EXPECT_TRUE(GeometryDifferences(upper, lower).empty());
  EXPECT_TRUE(SameGeometry(upper, lower));
  upper.MinY = -0.0001;
  EXPECT_EQ(GeometryDifferences(upper, lower), std::vector<std::string>{"min Y"});
  EXPECT_FALSE(SameGeometry(upper, lower));
}

TEST(MapSet, AddingAppendsAndAFailedAddKeepsTheRole) {
  TempDir dir;
  RecordingReporter rep;
  const std::string a = WriteMap(dir, "a", 3, 4, dtByte, Ones);
  const std::string b = WriteMap(dir, "b", 3, 4, dtByte, Ones);
  const std::string c = WriteMap(dir, "c", 3, 4, dtByte, Ones);
  const std::string shifted = WriteMap(dir, "shifted", 3, 4, dtByte, Ones, fdNoBackground, 0, 1);

  tMapSet maps;
  maps.LoadQuantitativeMaps({a}, rep);
  // The first added map is compared with the role's last one.
  maps.AddQuantitativeMaps({shifted, b}, rep);
  ASSERT_EQ(maps.QuantitativeMaps.size(), 2u);
  EXPECT_EQ(maps.QuantitativeMaps[1]->MapName(), "b");
  EXPECT_EQ(rep.errors.size(), 1u);
  EXPECT_TRUE(maps.QuantitativeMaps[1]->Loaded());

  // A missing file ends the add; what it had accepted goes, what was there stays.
  maps.LoadBinaryMaps({a}, rep);
  EXPECT_THROW(maps.AddBinaryMaps({b, dir.file("gone.rst"), c}, rep), EStravexError);
  ASSERT_EQ(maps.BinaryMaps.size(), 1u);
  EXPECT_EQ(maps.BinaryMaps[0]->MapName(), "a");
  EXPECT_EQ(rep.labels.back(), "Ready");
  maps.BuildMapList();
  EXPECT_EQ(maps.MapCount(), 3);
}

TEST(MapSet, RunningOutOfMemoryEmptiesTheRole) {
  if (std::ifstream("/proc/sys/vm/overcommit_memory").get() == '1')
    GTEST_SKIP() << "the system grants any allocation";
  TempDir dir;
  RecordingReporter rep;
  const std::string small = WriteMap(dir, "small", 3, 4, dtByte, Ones);
  // A sparse image of 4 * 10^12 cells: far more than any machine's memory.
  const std::string huge = WriteMap(dir, "huge", 3, 4, dtByte, Ones);
  tRaster doc(huge);
  doc.Rows = 2000000;
  doc.Columns = 2000000;
  doc.WriteDoc();
  std::filesystem::resize_file(huge + ImageExt(), 4000000000000ull);

  tMapSet maps;
  maps.LoadBinaryMaps({small}, rep);
  try {
    maps.LoadBinaryMaps({huge}, rep);
    FAIL() << "no error";
  } catch (const EOutOfMemory& e) {
    EXPECT_STREQ(e.what(), kCannotLoadAllMaps);
  }
  EXPECT_TRUE(maps.BinaryMaps.empty());
  EXPECT_THROW(maps.LoadTopographyMap(huge, rep), EOutOfMemory);
  EXPECT_FALSE(maps.TopographyMap);
  EXPECT_EQ(rep.labels.back(), "Ready");
}

TEST(MapSet, MapListFiles) {
  TempDir dir;
  RecordingReporter rep;
  tMapSet maps;
  maps.LoadBinaryMaps(
      {WriteMap(dir, "forest", 2, 2, dtByte, Ones), WriteMap(dir, "roads", 2, 2, dtByte, Ones)},
      rep);
  maps.SaveMapList(dir.file("list.txt"));
  // Bare names (no folder), CR LF.
  EXPECT_EQ(ReadFileBytes(dir.file("list.txt")), "forest\r\nroads\r\n");
  const std::string nowhere = dir.file("no/such/folder/list.txt");
  try {
    maps.SaveMapList(nowhere);
    ADD_FAILURE() << "a list was written into a missing folder";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot write to file \"" + nowhere + "\": No such file or directory");
  }

  // LF or CR LF ends, trailing blanks dropped, blank lines name no map.
  WriteFileBytes(dir.file("edited.txt"),
                 "forest  \r\n\r\n  \nroads\t\n\n" + dir.file("x") + ".rst");
  EXPECT_EQ(tMapSet::ReadMapList(dir.file("edited.txt")),
            (std::vector<std::string>{"forest", "roads", dir.file("x") + ".rst"}));
  EXPECT_EQ(tMapSet::ReadMapList(dir.file("list.txt")),
            (std::vector<std::string>{"forest", "roads"}));
  EXPECT_THROW(tMapSet::ReadMapList(dir.file("absent.txt")), EInOutError);
}
