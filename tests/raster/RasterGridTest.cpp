// tRaster on disk: grid geometry, single-cell access, whole-map passes and the
// image-file stream.
#include "CliSupport.h"
#include "RasterFixtures.h"
#include "TestSupport.h"
#include "raster/IdrisiEnv.h"
#include "raster/IdrisiFile.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

using namespace stravex;
using namespace stravex::test;

namespace {

// Raw little-endian records, written without the code under test.
std::string Records(tDataType t, const std::vector<double>& values) {
  std::string out;
  for (const double v : values) {
    const auto f = static_cast<float>(v);
    uint32_t u = 0;
    if (t == dtReal)
      std::memcpy(&u, &f, 4);
    else
      u = static_cast<uint16_t>(static_cast<int16_t>(v));
    for (int i = 0; i < t; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
  }
  return out;
}

// A rows x cols map of 10 x 10 cells whose image holds the given records.
void MakeMap(tRaster& r, const std::string& name, tDataType t, int32_t rows, int32_t cols,
             const std::vector<double>& values) {
  SetGrid(r, name, t, rows, cols);
  r.CellWidth = r.CellHeight = 10;
  WriteFileBytes(name + ImageExt(), Records(t, values));
}

} // namespace

TEST(RasterGrid, PointsBecomeTheCellThatContainsThem) {
  tRaster r; // 3 rows x 2 columns of 10 x 10 from (0, 0) to (20, 30)
  r.Rows = 3;
  r.Columns = 2;
  r.MaxX = 20;
  r.MaxY = 30;
  r.ComputeResolution();
  ASSERT_EQ(r.CellRule, crContaining);
  // Centres, the western and northern edges, inner cell edges (the next cell).
  EXPECT_EQ(r.ColOfX(5), 0);
  EXPECT_EQ(r.ColOfX(15), 1);
  EXPECT_EQ(r.ColOfX(0), 0);
  EXPECT_EQ(r.ColOfX(10), 1);
  EXPECT_EQ(r.RowOfY(30), 0);
  EXPECT_EQ(r.RowOfY(25), 0);
  EXPECT_EQ(r.RowOfY(20), 1);
  // The last half cell and the eastern and southern edges are in the last cell.
  EXPECT_EQ(r.ColOfX(19.99), 1);
  EXPECT_EQ(r.ColOfX(20), 1);
  EXPECT_EQ(r.RowOfY(0.5), 2);
  EXPECT_EQ(r.RowOfY(0), 2);
  // Beyond the edges: off the grid on every side.
  EXPECT_EQ(r.ColOfX(20.001), 2);
  EXPECT_EQ(r.ColOfX(-0.001), -1);
  EXPECT_EQ(r.RowOfY(30.001), -1);
  EXPECT_EQ(r.RowOfY(-0.001), 3);
  EXPECT_THROW(r.ColOfX(1e12), ERangeError);

  // The rule of earlier versions sends the eastern and southern half cells on.
  r.CellRule = crRounded;
  EXPECT_EQ(r.ColOfX(19.99), 2);
  EXPECT_EQ(r.RowOfY(0.5), 3);
  EXPECT_EQ(tRaster::CreateLike(r)->CellRule, crRounded);
}

// GDAL's reading of a point's cell is the containing rule's, for every point
// inside the grid (GDAL counts the far edges as off the map).
TEST(RasterGrid, ContainingCellsAreTheCellsGdalReads) {
  TempDir dir;
  tRaster r;
  SetGrid(r, dir.file("m"), dtByte, 3, 4);
  r.MinX = 500000;
  r.MaxX = 500040;
  r.MinY = 4000000;
  r.MaxY = 4000030;
  r.FileType = ftBinary;
  r.WriteDoc();
  std::vector<double> values;
  for (int k = 0; k < 12; ++k) values.push_back(10 + k);
  WriteFileBytes(r.FileName + ImageExt(), Records(dtByte, values));
  tRaster map(r.FileName);
  for (const double x : {500000.0, 500004.5, 500005.0, 500009.99, 500010.0, 500035.0, 500039.9}) {
    for (const double y : {4000030.0, 4000025.0, 4000020.0, 4000000.5, 4000014.99}) {
      const tCliRun gdal =
          RunProgram("/usr/bin/env",
                     {"gdallocationinfo", "-valonly", "-geoloc", map.FileName + ImageExt(),
                      std::to_string(x), std::to_string(y)},
                     "/");
      ASSERT_EQ(gdal.status, 0) << gdal.err;
      EXPECT_EQ(std::stod(gdal.out), map.GetCell(map.RowOfY(y), map.ColOfX(x)))
          << "(" << x << ", " << y << ")";
    }
  }
}

TEST(RasterGrid, GeometryRoundsHalvesToEvenAndComparesWithTolerance) {
  tRaster r;
  r.Rows = 3;
  r.Columns = 2;
  r.MaxX = 20;
  r.MaxY = 30;
  r.ComputeResolution();
  r.CellRule = crRounded;
  EXPECT_EQ(r.ColOfX(15), 2); // 1.5
  EXPECT_EQ(r.ColOfX(5), 0);  // 0.5
  EXPECT_EQ(r.ColOfX(25), 2); // 2.5
  EXPECT_EQ(r.RowOfY(30), 0);
  EXPECT_EQ(r.RowOfY(0), 3);
  EXPECT_FALSE(r.IsInside(r.RowOfY(0), 0));
  EXPECT_THROW(r.ColOfX(1e12), ERangeError);

  // Made like another: same conversions, own type, name and flag.
  r.DataType = dtByte;
  r.FileName = "/maps.v2/friction";
  r.FlagDef = fdBackground;
  const auto like = tRaster::CreateLike(r);
  EXPECT_EQ(like->ColOfX(15), 2);
  EXPECT_EQ(like->DataType, dtReal);
  EXPECT_EQ(r.MapName(), "friction");

  tRaster b;
  b.CopyGeometry(r);
  b.RefSystem = "PLANE";
  b.MinX = 0.00009L;
  EXPECT_TRUE(SameGeometry(r, b));
  b.MinX = 0.0001L;
  EXPECT_FALSE(SameGeometry(r, b));
  b.MinX = 0;
  b.MaxY = 30.0001L; // a hair below 0.0001 apart once in binary
  EXPECT_FALSE(SameGeometry(r, b));
}

TEST(RasterGrid, SingleCellAccessTouchesOnlyItsRecord) {
  TempDir dir;
  RecordingReporter rep;
  tRaster r;
  MakeMap(r, dir.file("m"), dtInteger, 2, 3, {1, -2, 300, -32768, 32767, 0});
  EXPECT_EQ(r.GetCell(0, 1), -2);
  EXPECT_EQ(r.GetCell(1, 0), -32768);
  EXPECT_EQ(MessageOf<ERangeError>([&] { r.GetCell(r.Rows, 0); }),
            "Coordinates must be between 0 and number of columns or rows.");
  EXPECT_THROW(r.GetCell(-1, 0), ERangeError);

  r.MeanValid = true;
  r.SetCell(0, 2, -7.5f); // rounds to -8
  EXPECT_EQ(ReadFileBytes(dir.file("m") + ImageExt()),
            Records(dtInteger, {1, -2, -8, -32768, 32767, 0}));
  EXPECT_FALSE(r.MeanValid);
  // A value that does not fit the record is refused, not stored wrapped.
  const std::string msg = MessageOf<ERangeError>([&] { r.SetCell(1, 2, 40000); });
  EXPECT_EQ(msg, "Value 40000 is outside the 16-bit integer range -32768..32767 of " +
                     dir.file("m") + ImageExt() + ".");
  EXPECT_EQ(r.GetCell(1, 2), 0);

  MakeMap(r, dir.file("b"), dtByte, 1, 2, {200, 3});
  r.SetCell(0, 0, 2.5f);
  EXPECT_EQ(r.GetCell(0, 0), 2);
  EXPECT_THROW(r.SetCell(0, 1, 255.6f), ERangeError);
  EXPECT_THROW(r.SetCell(0, 1, std::nanf("")), ERangeError);
  EXPECT_EQ(r.GetCell(0, 1), 3);

  MakeMap(r, dir.file("f"), dtReal, 1, 2, {0.1, -1e30});
  EXPECT_EQ(r.GetCell(0, 1), static_cast<double>(-1e30f));
  // A missing image is shown to the map's reporter, not raised, and reads 0;
  // writing to it fails.
  r.FileName = dir.file("absent");
  r.Reporter = &rep;
  EXPECT_EQ(r.GetCell(0, 0), 0);
  EXPECT_EQ(rep.errors, std::vector<std::string>{"File reading error #2"});
  EXPECT_EQ(MessageOf<EInOutError>([&] { r.SetCell(0, 0, 1); }), "File writing error");
}

TEST(RasterGrid, ShortImageIsCorruptedData) {
  TempDir dir;
  RecordingReporter rep;
  tRaster r;
  MakeMap(r, dir.file("s"), dtReal, 2, 3, {1, 2, 3, 4, 5});
  const std::string expected = dir.file("s") + ImageExt() +
                               " holds 5 records where 6 are expected.";
  EXPECT_EQ(r.GetCell(1, 1), 5);
  tMatrixOfSingle s;
  tMatrixOfDouble d;
  for (const std::string tail : {"", "xy"}) { // a partial record is no record
    WriteFileBytes(dir.file("s") + ImageExt(), Records(dtReal, {1, 2, 3, 4, 5}) + tail);
    EXPECT_EQ(MessageOf<EInOutError>([&] { r.GetCell(1, 2); }), expected);
    EXPECT_EQ(MessageOf<EInOutError>([&] { r.ReadSingleMatrix(s); }), expected);
    EXPECT_EQ(MessageOf<EInOutError>([&] { r.ReadDoubleMatrix(d); }), expected);
    // Statistics over part of the map, or a write padding it with zeros, would
    // hide the damage.
    EXPECT_EQ(MessageOf<EInOutError>([&] { r.ComputeMean(); }), expected);
    EXPECT_EQ(MessageOf<EInOutError>([&] { r.ComputeSD(); }), expected);
    EXPECT_EQ(MessageOf<EInOutError>([&] { r.ComputeMinMax(); }), expected);
    EXPECT_FALSE(r.MeanValid);
    EXPECT_EQ(MessageOf<EInOutError>([&] { r.SetCell(1, 2, 7); }), expected);
    EXPECT_EQ(ReadFileBytes(dir.file("s") + ImageExt()), Records(dtReal, {1, 2, 3, 4, 5}) + tail);
  }
  EXPECT_TRUE(rep.errors.empty());
  // Whole, flagged cells included.
  MakeMap(r, dir.file("s"), dtReal, 2, 3, {1, 2, 3, 4, 5, -9});
  r.FlagDef = fdBackground;
  r.FlagValue = -9;
  r.ReadDoubleMatrix(d);
  EXPECT_EQ(d, (tMatrixOfDouble{{1, 2, 3}, {4, 5, -9}}));
}

TEST(RasterGrid, FillConstantAndStreamStatistics) {
  TempDir dir;
  tRaster r;
  r.FileName = dir.file("zero");
  r.DataType = dtInteger;
  r.Rows = 2;
  r.Columns = 3;
  r.MaxX = 30;
  r.MaxY = 20;
  r.FillConstant(0);
  EXPECT_EQ(ReadFileBytes(dir.file("zero") + ImageExt()), std::string(12, '\0'));
  const std::string doc = ReadFileBytes(dir.file("zero") + DocExt());
  EXPECT_NE(doc.find("min. value  : 0\r\nmax. value  : 0\r\n"), std::string::npos) << doc;
  // Refused before the existing map is touched.
  EXPECT_THROW(r.FillConstant(40000), ERangeError);
  EXPECT_EQ(ReadFileBytes(dir.file("zero") + ImageExt()), std::string(12, '\0'));
  EXPECT_EQ(r.MaxValue, 0);

  MakeMap(r, dir.file("stats"), dtReal, 2, 3, {2, -9, 4, -9, 6, 8});
  r.FlagDef = fdBackground;
  r.FlagValue = -9;
  r.ComputeSD(); // computes the mean on the way
  EXPECT_DOUBLE_EQ(r.Mean, 5);
  EXPECT_DOUBLE_EQ(r.SD, std::sqrt(5.0));
  r.ComputeMinMax();
  EXPECT_EQ(r.MinValue, 2);
  EXPECT_EQ(r.MaxValue, 8);

  MakeMap(r, dir.file("neg"), dtInteger, 1, 3, {-7, -3, -12});
  r.ComputeMinMax();
  EXPECT_EQ(r.MinValue, -12);
  EXPECT_EQ(r.MaxValue, -3);

  MakeMap(r, dir.file("flagged"), dtByte, 2, 2, {9, 9, 9, 9});
  r.FlagValue = 9;
  r.MeanValid = false;
  EXPECT_EQ(MessageOf<EInvalidOperation>([&] { r.ComputeMean(); }), "Map contains no data");
  r.ComputeMinMax();
  EXPECT_EQ(r.MinValue, 3.4E38f);
  r.FlagDef = fdNone;
  EXPECT_EQ(r.GetMean(), 9);

  // Constant cells whose mean of squares rounds below the squared mean: SD 0, not NaN.
  MakeMap(r, dir.file("const"), dtReal, 1, 6, std::vector<double>(6, 0.7));
  r.MeanValid = false;
  r.ComputeSD();
  EXPECT_EQ(r.SD, 0);
}

TEST(IdrisiStream, BlockBoundariesAndEndOfFile) {
  TempDir dir;
  tRaster r;
  r.FileName = dir.file("block");
  r.DataType = dtReal;
  const std::string path = dir.file("block") + ImageExt();
  tIdrisiFile w;
  OpenIdrisiWrite(r, w); // exactly one block: written by the last value, nothing at close
  for (int32_t i = 0; i < IdrisiBufferSize; ++i) ASSERT_TRUE(WriteIdrisi(w, 1));
  EXPECT_EQ(std::filesystem::file_size(path), 4u * IdrisiBufferSize);
  CloseIdrisi(w);
  EXPECT_EQ(std::filesystem::file_size(path), 4u * IdrisiBufferSize);

  r.DataType = dtInteger; // one more: a block, then a block of one value at close
  r.FlagDef = fdBackground;
  r.FlagValue = -1;
  auto valueAt = [](int32_t i) { return static_cast<float>(i % 60000 - 30000); };
  OpenIdrisiWrite(r, w);
  for (int32_t i = 0; i < IdrisiBufferSize; ++i) ASSERT_TRUE(WriteIdrisi(w, valueAt(i)));
  ASSERT_TRUE(WriteIdrisi(w, -1));
  EXPECT_EQ(std::filesystem::file_size(path), 2u * IdrisiBufferSize);
  CloseIdrisi(w);
  EXPECT_EQ(std::filesystem::file_size(path), 2u * IdrisiBufferSize + 2);

  tIdrisiFile f;
  OpenIdrisiRead(r, f);
  float v = 0;
  int32_t mismatches = 0;
  for (int32_t i = 0; i < IdrisiBufferSize; ++i) {
    const bool valid = ReadIdrisi(f, v);
    if (valid != (v != -1) || v != valueAt(i) || f.atEnd) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_FALSE(ReadIdrisi(f, v)); // the flag value, last of the file
  EXPECT_EQ(v, -1);
  EXPECT_TRUE(f.atEnd);
  v = 7;
  EXPECT_FALSE(ReadIdrisi(f, v));
  EXPECT_EQ(v, 7);
  CloseIdrisi(f);
  EXPECT_EQ(f.file, nullptr);

  WriteFileBytes(path, ""); // empty: the first read is the end
  OpenIdrisiRead(r, f);
  EXPECT_FALSE(ReadIdrisi(f, v));
  EXPECT_TRUE(f.atEnd);
  EXPECT_EQ(v, 7);
  CloseIdrisi(f);

  RecordingReporter rep; // a type without records reads nothing and says so
  WriteFileBytes(path, "abcdef");
  r.DataType = dtDummy;
  r.Reporter = &rep;
  OpenIdrisiRead(r, f);
  EXPECT_FALSE(ReadIdrisi(f, v));
  EXPECT_EQ(rep.errors,
            std::vector<std::string>{"Guru's meditation\r\nA strange error occurred : bad type in "
                                     "ReadIdrisi function. Perhaps is the file corrupt ?"});
  CloseIdrisi(f);
  r.FileName = dir.file("nowhere");
  EXPECT_EQ(MessageOf<EInOutError>([&] { OpenIdrisiRead(r, f); }).rfind(r.FileName, 0), 0u);
}

TEST(IdrisiStream, ValuesThatDoNotFitAndFailedWritesAreReported) {
  TempDir dir;
  tRaster r;
  r.FileName = dir.file("range");
  r.DataType = dtByte;
  const std::string path = dir.file("range") + ImageExt();
  tIdrisiFile f;
  OpenIdrisiWrite(r, f);
  EXPECT_TRUE(WriteIdrisi(f, 255.4f));
  EXPECT_TRUE(WriteIdrisi(f, -0.5f));
  EXPECT_EQ(MessageOf<ERangeError>([&] { WriteIdrisi(f, 255.6f); }),
            "Value 255.6 is outside the byte range 0..255 of " + path + ".");
  CloseIdrisi(f);
  EXPECT_EQ(ReadFileBytes(path), std::string("\xFF\x00", 2)); // nothing of the refused value
  r.DataType = dtInteger;
  OpenIdrisiWrite(r, f);
  EXPECT_TRUE(WriteIdrisi(f, -32768.4f));
  EXPECT_THROW(WriteIdrisi(f, -32768.6f), ERangeError);
  EXPECT_THROW(WriteIdrisi(f, 32767.5f), ERangeError); // rounds to 32768
  CloseIdrisi(f);
  EXPECT_EQ(ReadFileBytes(path), std::string("\x00\x80", 2));

  // No space left on the device: every way of writing reports it.
  std::error_code ec;
  std::filesystem::remove(path, ec);
  std::filesystem::create_symlink("/dev/full", path, ec);
  if (ec || !std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  r.DataType = dtReal;
  OpenIdrisiWrite(r, f);
  EXPECT_TRUE(WriteIdrisi(f, 1));
  EXPECT_EQ(MessageOf<EInOutError>([&] { CloseIdrisi(f); }),
            "Writing error while closing. Last data may be missing.");
  r.Rows = 1100;
  r.Columns = 1000;
  EXPECT_THROW(r.FillConstant(1), EInOutError);
}
