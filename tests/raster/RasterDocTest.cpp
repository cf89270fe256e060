#include "TestSupport.h"
#include "base/Errors.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

using namespace stravex;
using stravex::test::ReadFileBytes;
using stravex::test::TempDir;
using stravex::test::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

class RasterDoc : public ::testing::Test {
protected:
  void SetUp() override { SetIdrisiExtensions(false); }
  void TearDown() override { SetIdrisiExtensions(false); }
  TempDir dir;
};

struct tBareRaster : tRaster {
  tBareRaster() : tRaster(tNoDefaults{}) {}
};

const std::string kGrid = "columns     : 4\r\nrows        : 3\r\n";

// Reads a documentation file holding the grid lines and one extra line.
std::unique_ptr<tRaster> ReadWith(const TempDir& dir, const std::string& line) {
  WriteFileBytes(dir.file("m.rdc"), kGrid + line + "\r\n");
  return std::make_unique<tRaster>(dir.file("m"));
}

std::string ExpectConvertError(const std::string& text) {
  try {
    StrToFloatTolerant(text);
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "read as a number: " + text;
}

// A record with every field set, Resolution left to be computed.
void FillRecord(tRaster& r, const std::string& fileName) {
  r.FileName = fileName;
  r.Title = "Forest cover";
  r.DataType = dtInteger;
  r.Columns = 4;
  r.Rows = 3;
  r.RefUnits = "m";
  r.MinX = 500;
  r.MaxX = 620;
  r.MinY = -30;
  r.MaxY = 30;
  r.MinValue = 0.5f;
  r.MaxValue = 17.25f;
  r.FlagDef = fdBackground;
  r.FlagValue = -9999;
  r.Legend = {"category 0 : open", "category 1 : forest"};
  r.Comments = {"made by a test"};
  r.Lineage = {"digitised"};
  r.Consistency = {"checked"};
}

const std::string kGoldenBody = "file title  : Forest cover\r\n"
                                "data type   : integer\r\n"
                                "file type   : binary\r\n"
                                "columns     : 4\r\n"
                                "rows        : 3\r\n"
                                "ref. system : plane\r\n"
                                "ref. units  : m\r\n"
                                "unit dist.  : 1\r\n"
                                "min. X      : 500\r\n"
                                "max. X      : 620\r\n"
                                "min. Y      : -30\r\n"
                                "max. Y      : 30\r\n"
                                "pos'n error : \r\n"
                                "resolution  : 25\r\n"
                                "min. value  : 0.5\r\n"
                                "max. value  : 17.25\r\n"
                                "@display"
                                "value units : unspecified\r\n"
                                "value error : unknown\r\n"
                                "flag value  : -9999\r\n"
                                "flag def'n  : background\r\n"
                                "legend cats : 2\r\n"
                                "category 0 : open\r\n"
                                "category 1 : forest\r\n"
                                "comment     : made by a test\r\n"
                                "lineage     : digitised\r\n"
                                "consistency : checked\r\n";

std::string Golden(bool classic) {
  std::string body = kGoldenBody;
  body.replace(body.find("@display"), 8,
               classic ? "" : "display min : 0.5\r\ndisplay max : 17.25\r\n");
  return classic ? body : "file format : IDRISI Raster A.1\r\n" + body;
}

} // namespace

TEST_F(RasterDoc, ConstructorsSetTheirDefaults) {
  tRaster blank;
  EXPECT_EQ(blank.FileFormat + blank.RefSystem + blank.UnitDist, "IDRISI Raster A.1plane1");
  EXPECT_EQ(blank.DataType, dtReal);
  EXPECT_EQ(blank.FileType, ftBinary);
  tBareRaster bare;
  EXPECT_EQ(bare.FileFormat + bare.RefSystem + bare.UnitDist, "");
  EXPECT_EQ(bare.DataType, dtUnknown);

  // From a file only FileFormat is defaulted: what the file lacks stays empty.
  WriteFileBytes(dir.file("m.rdc"), kGrid);
  tRaster fromFile(dir.file("m.rst"));
  EXPECT_EQ(fromFile.FileFormat + fromFile.RefSystem + fromFile.UnitDist, "IDRISI Raster A.1");
  EXPECT_EQ(fromFile.DataType, dtUnknown);
  EXPECT_EQ(fromFile.FlagDef, fdNone);
  EXPECT_EQ(fromFile.FileName, dir.file("m"));

  SetIdrisiExtensions(true);
  EXPECT_EQ(tRaster().FileFormat, "");
}

TEST_F(RasterDoc, WrittenFileIsTheGoldenTextOfBothGenerations) {
  tRaster r;
  FillRecord(r, dir.file("forest"));
  r.WriteDoc();
  EXPECT_EQ(ReadFileBytes(dir.file("forest.rdc")), Golden(false));
  // The defaults filled in while writing stay in the record.
  EXPECT_EQ(r.ValueUnits, "unspecified");
  EXPECT_EQ(r.ValueError, "unknown");
  EXPECT_EQ(r.Resolution, "25");
  EXPECT_FLOAT_EQ(r.DisplayMax, 17.25f);

  SetIdrisiExtensions(true);
  tRaster c;
  FillRecord(c, dir.file("old"));
  c.FileFormat = "kept";
  c.WriteDoc();
  EXPECT_EQ(ReadFileBytes(dir.file("old.doc")), Golden(true));
  EXPECT_FALSE(fs::exists(dir.file("old.rdc")));

  tRaster back;
  back.FileFormat = "earlier";
  back.ReadDoc(dir.file("old.img"));
  EXPECT_EQ(back.FileFormat, "earlier");
  EXPECT_EQ(back.Title, "Forest cover");
}

TEST_F(RasterDoc, EveryFieldSurvivesAWriteAndRead) {
  tRaster r;
  FillRecord(r, dir.file("site.2020")); // a "." in the map's own name
  r.Title = "  Forest, cover  ";
  r.FileType = ftPackedBinary;
  r.RefUnits = "km";
  r.MaxX = 0.1L;
  r.MinY = 5e-7L;
  r.MaxY = 1.5e20L;
  r.PosError = "unknown ";
  r.MinValue = 0.1f;
  r.DisplayMin = -3.75f;
  r.DisplayMax = 1e-3f;
  r.ValueError = " 0.5 ";
  r.Legend.push_back("code 2 = water ");
  r.Comments = {"first", "", "third  "};
  r.Completeness = {"c1", "c2"};
  r.WriteDoc();
  const std::string written = ReadFileBytes(dir.file("site.2020.rdc"));

  for (const std::string& name : {dir.file("site.2020.rst"), dir.file("site.2020")}) {
    tRaster b(name);
    EXPECT_EQ(b.FileName, r.FileName);
    EXPECT_EQ(b.MaxX, r.MaxX);
    EXPECT_EQ(b.MinY, r.MinY);
    EXPECT_EQ(b.MaxY, r.MaxY);
    EXPECT_EQ(b.MinValue, r.MinValue);
    EXPECT_EQ(b.DisplayMax, r.DisplayMax);
    EXPECT_EQ(b.UnitCode, ruKilometers);
    EXPECT_EQ(b.LegendCats, 3);
    EXPECT_EQ(b.Comments, r.Comments);
    EXPECT_FLOAT_EQ(b.CellHeight, static_cast<float>((1.5e20L - 5e-7L) / 3));
    // Written again, the record read back gives the same text: no field lost.
    b.FileName = dir.file("copy");
    b.WriteDoc();
    EXPECT_EQ(ReadFileBytes(dir.file("copy.rdc")), written);
  }

  // A line break in a value must not turn into a field of its own.
  r.Title = "two\r\nrows        : 0";
  r.Comments = {"a\nb"};
  r.WriteDoc();
  tRaster b(r.FileName);
  EXPECT_EQ(b.Rows, 3);
  EXPECT_EQ(b.Title, "two  rows        : 0");
  EXPECT_EQ(b.Comments, tStringList{"a b"});
}

TEST_F(RasterDoc, FilesOfOtherProgramsLoad) {
  // LF line ends, a blank after every value, decimal commas, exponents, capitals.
  WriteFileBytes(dir.file("gis.rdc"), "file title  : Slope \n"
                                      "data type   : INTEGER \n"
                                      "file type   : binary \n"
                                      "columns     :  10 \n"
                                      "rows        : 5 \n"
                                      "ref. units  : Meters \n"
                                      "min. X      : 512,5 \n"
                                      "max. X      :  1e3 \n"
                                      "min. Y      : -2,5E+1\n"
                                      "max. Y      : 2.5e+2\n"
                                      "flag value  : -9999 \n"
                                      "flag def'n  : no data \n"
                                      "legend cats : 1 \n"
                                      "category 1 : steep \n"
                                      "comment     :  spaced \n"
                                      "Columns     : 99\n"
                                      "data type   :real\n");
  tRaster r(dir.file("gis"));
  EXPECT_EQ(r.Title + "|" + r.RefUnits + "|" + r.Comments.at(0), "Slope |Meters | spaced ");
  EXPECT_EQ(r.DataType, dtInteger); // the last line lacks the blank after the key
  EXPECT_EQ(r.FileType, ftBinary);
  EXPECT_EQ(std::make_pair(r.Columns, r.Rows), std::make_pair(10, 5));
  EXPECT_EQ(r.UnitCode, ruMeters);
  EXPECT_EQ(r.MinX, 512.5L);
  EXPECT_EQ(r.MaxX, 1000.0L);
  EXPECT_EQ(r.MinY, -25.0L);
  EXPECT_EQ(r.MaxY, 250.0L);
  EXPECT_EQ(r.FlagValue, -9999.0f);
  EXPECT_EQ(r.FlagDef, fdBackground);
  EXPECT_EQ(r.LegendCats, 1);
  EXPECT_EQ(r.Legend, tStringList{"category 1 : steep "});
  EXPECT_FLOAT_EQ(r.CellWidth, 48.75f);
  EXPECT_FLOAT_EQ(r.CellHeight, 55.0f);
}

TEST_F(RasterDoc, StrToFloatTolerantReadsBothSeparators) {
  EXPECT_EQ(StrToFloatTolerant("512.5"), 512.5L);
  EXPECT_EQ(StrToFloatTolerant("512,5"), 512.5L);
  EXPECT_EQ(StrToFloatTolerant(" +7 "), 7.0L);
  EXPECT_EQ(StrToFloatTolerant("\t-2,5e-1 "), -0.25L);
  EXPECT_EQ(StrToFloatTolerant("-31415925"), -31415925.0L);
  const std::string message = "There was a problem with floating point values. It is probably "
                              "due to a bad decimal separator setting";
  for (const char* bad : {"abc", "", "1.5,3", "1,000,5", "12;5", "inf", "nan", "1e5000", "+-3",
                          "-31415926", "-31415926,0", "-31415926.0"})
    EXPECT_EQ(ExpectConvertError(bad), message) << bad;

  // Only the flag value survives a bad real; every other real stops the reading.
  EXPECT_THROW(ReadWith(dir, "min. X      : 12;5"), EConvertError);
  EXPECT_THROW(ReadWith(dir, "max. value  : -31415926"), EConvertError);
}

TEST_F(RasterDoc, FlagValueAndDefinition) {
  const std::pair<const char*, float> flags[] = {{"-9.6", -10}, {"2.5", 2},       {"3.5", 4},
                                                 {"none", 0},   {"-0,5", 0},      {"12,51", 13},
                                                 {"junk", 0},   {"-31415926", 0}, {"1e30", 0}};
  for (const auto& [text, expected] : flags)
    EXPECT_EQ(ReadWith(dir, std::string("flag value  : ") + text)->FlagValue, expected) << text;
  EXPECT_EQ(ReadWith(dir, "flag value  : junk\r\nfile title  : after")->Title, "after");

  auto r = ReadWith(dir, "flag value  : 5\r\nflag def'n  : missing data");
  EXPECT_EQ(r->FlagDef, fdBackground);
  r->FileName = dir.file("out");
  r->WriteDoc();
  std::string text = ReadFileBytes(dir.file("out.rdc"));
  EXPECT_NE(text.find("flag value  : 5\r\nflag def'n  : background\r\n"), std::string::npos);

  for (const char* def : {"background", "nodata", "no data"})
    EXPECT_EQ(ReadWith(dir, std::string("flag def'n  : ") + def)->FlagDef, fdBackground) << def;
  EXPECT_EQ(ReadWith(dir, "flag def'n  : no background")->FlagDef, fdNoBackground);
  EXPECT_EQ(ReadWith(dir, "flag def'n  : Background")->FlagDef, fdNone);

  auto none = ReadWith(dir, "flag value  : 5");
  EXPECT_EQ(none->FlagDef, fdNone);
  none->FileName = dir.file("none");
  none->WriteDoc();
  text = ReadFileBytes(dir.file("none.rdc"));
  EXPECT_NE(text.find("flag value  : none\r\nflag def'n  : none\r\n"), std::string::npos);
}

TEST_F(RasterDoc, WordsOfTypesAndUnits) {
  EXPECT_EQ(ReadWith(dir, "data type   : Real")->DataType, dtReal);
  EXPECT_EQ(ReadWith(dir, "data type   : byte ")->DataType, dtByte);
  EXPECT_EQ(ReadWith(dir, "data type   : dummy")->DataType, dtUnknown);
  EXPECT_EQ(ReadWith(dir, "file type   : Packed Binary")->FileType, ftPackedBinary);
  EXPECT_EQ(ReadWith(dir, "file type   : ascii")->FileType, ftAscii);
  const std::pair<const char*, tRefUnit> units[] = {
      {"m", ruMeters},        {"m\xE8tres", ruMeters}, {"KM", ruKilometers},
      {"degrees", ruDegrees}, {"Deg. dec", ruDegrees}, {" yards", ruYards},
      {"milles", ruMiles},    {"feet", ruOther},       {"", ruOther}};
  for (const auto& [text, unit] : units)
    EXPECT_EQ(ReadWith(dir, std::string("ref. units  : ") + text)->UnitCode, unit) << text;
  EXPECT_EQ(ReadWith(dir, "")->UnitCode, ruUnset);
}

TEST_F(RasterDoc, BadFilesAreRefused) {
  tRaster r;
  r.Title = "before";
  r.Comments = {"old"};
  try {
    r.ReadDoc(dir.file("absent.rst"));
    ADD_FAILURE() << "no error for a missing file";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()), dir.file("absent.rdc") + " not found.");
  }
  EXPECT_TRUE(r.DocMissing);
  EXPECT_EQ(r.FileName, dir.file("absent"));
  EXPECT_EQ(r.Title, "before");
  EXPECT_TRUE(r.Comments.empty());

  // Fields read before a bad whole number keep their new values.
  WriteFileBytes(dir.file("bad.rdc"),
                 "file title  : new\r\ncolumns     : ten\r\nrows        : 3\r\n");
  EXPECT_THROW(r.ReadDoc(dir.file("bad")), EConvertError);
  EXPECT_FALSE(r.DocMissing);
  EXPECT_EQ(r.Title, "new");
  EXPECT_EQ(r.Rows, 0);
  EXPECT_THROW(ReadWith(dir, "legend cats : 2.0"), EConvertError);
  EXPECT_THROW(ReadWith(dir, "rows        : 3 4"), EConvertError);
  EXPECT_THROW(ReadWith(dir, "rows        : 99999999999"), EConvertError);

  // A grid without cells cannot be loaded; the message names the file.
  for (const char* grid : {"columns     : 0\r\nrows        : 3", "columns     : 4",
                           "columns     : 4\r\nrows        : -3"}) {
    WriteFileBytes(dir.file("empty.rdc"), grid);
    try {
      tRaster loaded(dir.file("empty"));
      ADD_FAILURE() << grid;
    } catch (const EInOutError& e) {
      EXPECT_EQ(std::string(e.what()),
                dir.file("empty.rdc") + ": the number of columns and rows must be positive.");
    }
  }

  // Keys are case-sensitive: a capital C leaves Columns as it was.
  auto k = ReadWith(dir, "");
  WriteFileBytes(dir.file("caps.rdc"), "Columns     : 99\r\nrows        : 3\r\n");
  k->ReadDoc(dir.file("caps"));
  EXPECT_EQ(k->Columns, 4);

  // Writing: a record without cells cannot get a resolution, and no file is left.
  tRaster blank;
  blank.FileName = dir.file("blank");
  EXPECT_THROW(blank.WriteDoc(), EInvalidOperation);
  EXPECT_FALSE(fs::exists(dir.file("blank.rdc")));
  blank.Resolution = "1";
  EXPECT_NO_THROW(blank.WriteDoc());
  blank.FileName = dir.file("no/such/folder/map");
  EXPECT_THROW(blank.WriteDoc(), EInOutError);
}
