// tLiveRaster: released and loaded cell access, load/save round trips, the
// corridor cycle and the in-memory statistics.
#include "RasterFixtures.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace stravex;
using namespace stravex::test;

namespace {

// A rows x cols map on disk holding values, then read back from its documentation.
std::unique_ptr<tLiveRaster> LiveMap(const std::string& name, tDataType t, int32_t rows,
                                     int32_t cols, const std::vector<float>& values,
                                     tFlagDef flagDef = fdNone, float flag = 0) {
  tLiveRaster m;
  SetGrid(m, name, t, rows, cols);
  m.FlagDef = flagDef;
  m.FlagValue = flag;
  m.FillConstant(0);
  for (int32_t k = 0; k < rows * cols; ++k) m.SetCell(k / cols, k % cols, values[k]);
  return std::make_unique<tLiveRaster>(name);
}

} // namespace

TEST(LiveRaster, OutsideTheGridReadsTheFlagAndRefusesWrites) {
  TempDir dir;
  auto m = LiveMap(dir.file("m"), dtByte, 2, 3, {1, 2, 3, 4, 5, 6}, fdBackground, 7);
  for (const bool loaded : {false, true}) {
    SCOPED_TRACE(loaded ? "loaded" : "released");
    if (loaded) m->LoadData();
    EXPECT_EQ(m->GetCell(-1, 0), 7);
    EXPECT_EQ(m->GetCell(m->Rows, 0), 7);
    EXPECT_EQ(m->GetCell(1, 2), 6);
    EXPECT_TRUE(m->IsFlagged(0, m->Columns));
    EXPECT_FALSE(m->IsFlagged(0, 0));
    EXPECT_EQ(MessageOf<ERangeError>([&] { m->SetCell(0, m->Columns, 1); }), "Cell out of map");
  }
  m->FlagDef = fdNone;
  EXPECT_FALSE(m->IsFlagged(-1, 0));
  EXPECT_THROW(m->SetCell(-1, 0, 1), ERangeError);
}

TEST(LiveRaster, LoadedSettersRoundCheckAndClearStatistics) {
  TempDir dir;
  auto b = LiveMap(dir.file("b"), dtByte, 1, 2, {10, 20});
  const std::string onDisk = ReadFileBytes(dir.file("b") + ImageExt());
  b->LoadData();
  b->MeanValid = b->SDValid = true;
  b->SetCell(0, 0, 255.4f);
  EXPECT_EQ(b->GetCell(0, 0), 255);
  EXPECT_FALSE(b->MeanValid || b->SDValid);
  EXPECT_NE(MessageOf<ERangeError>([&] { b->SetCell(0, 0, 255.6f); }).find("255.6"),
            std::string::npos);
  EXPECT_EQ(b->GetCell(0, 0), 255); // kept
  b->SetCell(0, 0, 2.5f);
  EXPECT_EQ(b->GetCell(0, 0), 2);
  EXPECT_THROW(b->SetCell(0, 1, -0.6f), ERangeError);
  EXPECT_EQ(ReadFileBytes(dir.file("b") + ImageExt()), onDisk); // memory only

  auto i = LiveMap(dir.file("i"), dtInteger, 1, 2, {-3, 4});
  i->LoadData();
  EXPECT_EQ(i->GetCell(0, 0), -3);
  i->SetCell(0, 0, 40000); // wider in memory than on disk
  EXPECT_EQ(i->GetCell(0, 0), 40000);
  i->SetCell(0, 1, -2.5f);
  EXPECT_EQ(i->GetCell(0, 1), -2);
  EXPECT_THROW(i->SetCell(0, 1, 2147483648.0f), ERangeError);

  auto r = LiveMap(dir.file("r"), dtReal, 1, 1, {0});
  r->LoadData();
  r->MeanValid = true;
  r->SetCell(0, 0, 0.1f);
  EXPECT_EQ(r->GetCell(0, 0), static_cast<double>(0.1f));
  EXPECT_FALSE(r->MeanValid);
}

TEST(LiveRaster, LoadAndSaveRoundTripEveryTypeAcrossBlocks) {
  TempDir dir;
  // 1100 x 1000 cells, more than one block; any bit pattern is a valid record.
  const int32_t rows = 1100, cols = 1000;
  for (const tDataType t : {dtByte, dtInteger, dtReal}) {
    SCOPED_TRACE(static_cast<int>(t));
    tLiveRaster m;
    m.FileName = dir.file("big" + std::to_string(t));
    m.DataType = t;
    m.Rows = rows;
    m.Columns = cols;
    m.MaxX = m.MaxY = 1;
    m.FillConstant(0);
    std::string image(static_cast<std::size_t>(rows) * cols * t, '\0');
    for (std::size_t k = 0; k < image.size(); ++k)
      image[k] = static_cast<char>((k * 2654435761u) >> 13);
    WriteFileBytes(m.FileName + ImageExt(), image);
    const double last = m.tRaster::GetCell(rows - 1, cols - 1); // from the file
    m.LoadData();
    EXPECT_TRUE(m.Loaded());
    if (!std::isnan(last)) {
      EXPECT_EQ(m.GetCell(rows - 1, cols - 1), last);
    }
    WriteFileBytes(m.FileName + ImageExt(), "");
    m.SaveData();
    EXPECT_TRUE(ReadFileBytes(m.FileName + ImageExt()) == image);
  }
}

TEST(LiveRaster, ReleasedAndLoadedReadsAgree) {
  TempDir dir;
  auto m = LiveMap(dir.file("m"), dtInteger, 2, 3, {1, -2, 3, -4, 5, -6});
  tMatrixOfSingle released, loaded;
  m->ReadSingleMatrix(released);
  EXPECT_FALSE(m->Loaded());
  EXPECT_EQ(released, (tMatrixOfSingle{{1, -2, 3}, {-4, 5, -6}}));
  m->LoadData();
  m->ReadSingleMatrix(loaded);
  EXPECT_TRUE(m->Loaded());
  EXPECT_EQ(loaded, released);

  m->SetCell(0, 0, 100);
  m->LoadData(); // unsaved changes are discarded
  EXPECT_EQ(m->GetCell(0, 0), 1);
  m->SetCell(1, 2, 100);
  m->SaveData();
  m->ReleaseData();
  m->ReleaseData();                 // harmless twice
  EXPECT_EQ(m->GetCell(1, 2), 100); // read from the file

  m->LoadData();
  m->ReadDoc(dir.file("m"));
  EXPECT_FALSE(m->Loaded());
  m->LoadData();
  EXPECT_THROW(m->ReadDoc(dir.file("none")), EInOutError);
  EXPECT_FALSE(m->Loaded()); // the record no longer describes the cells in memory
}

TEST(LiveRaster, CorridorCycleCountsAndOutOfRangeSaveKeepsTheFile) {
  TempDir dir;
  tRaster friction;
  friction.Rows = 2;
  friction.Columns = 3;
  friction.MaxX = 30;
  friction.MaxY = 20;
  friction.ComputeResolution();
  auto corridor = tLiveRaster::CreateLike(friction);
  corridor->DataType = dtInteger;
  corridor->FileName = dir.file("corridor");
  corridor->FillConstant(0);
  for (int cycle = 0; cycle < 2; ++cycle) {
    corridor->LoadData();
    corridor->SetCell(1, 2, static_cast<float>(std::nearbyint(corridor->GetCell(1, 2)) + 1));
    corridor->SaveData();
    corridor->WriteDoc();
    corridor->ReleaseData();
  }
  const std::string image = ReadFileBytes(dir.file("corridor") + ImageExt());
  EXPECT_EQ(image, std::string(10, '\0') + std::string("\x02\x00", 2));

  // 40000 fits in memory but not in a 16-bit record: refused, file intact.
  corridor->LoadData();
  corridor->SetCell(0, 0, 40000);
  const std::string msg = MessageOf<ERangeError>([&] { corridor->SaveData(); });
  EXPECT_NE(msg.find("40000"), std::string::npos) << msg;
  EXPECT_NE(msg.find(dir.file("corridor") + ImageExt()), std::string::npos) << msg;
  EXPECT_EQ(ReadFileBytes(dir.file("corridor") + ImageExt()), image);

  // Type changed after loading: the cells are converted and checked on saving.
  corridor->SetCell(0, 0, 300);
  corridor->DataType = dtByte;
  EXPECT_THROW(corridor->SaveData(), ERangeError);
  corridor->SetCell(0, 0, 44);
  corridor->SaveData();
  EXPECT_EQ(ReadFileBytes(dir.file("corridor") + ImageExt()), std::string("\x2C\0\0\0\0\x02", 6));
  corridor->ReleaseData();
  EXPECT_THROW(corridor->SaveData(), ERangeError);
}

TEST(LiveRaster, BadImagesLeaveTheMapReleased) {
  TempDir dir;
  auto m = LiveMap(dir.file("s"), dtReal, 2, 3, {1, 2, 3, 4, 5, 6});
  const std::string whole = ReadFileBytes(dir.file("s") + ImageExt());
  WriteFileBytes(dir.file("s") + ImageExt(), whole.substr(0, 20));
  EXPECT_EQ(MessageOf<EInOutError>([&] { m->LoadData(); }),
            dir.file("s") + ImageExt() + " holds 5 records where 6 are expected.");
  EXPECT_FALSE(m->Loaded());
  EXPECT_EQ(m->GetCell(0, 0), 1); // the released reader is in place
  tMatrixOfSingle s;
  EXPECT_THROW(m->ReadSingleMatrix(s), EInOutError);

  m->DataType = dtDummy;
  EXPECT_EQ(MessageOf<EInOutError>([&] { m->LoadData(); }), "Error while reading map.");
  EXPECT_FALSE(m->Loaded());
  m->DataType = dtReal;
  WriteFileBytes(dir.file("s") + ImageExt(), whole);
  m->LoadData();
  m->DataType = dtUnknown;
  EXPECT_EQ(MessageOf<EInOutError>([&] { m->SaveData(); }), "Error while saving map.");
}

TEST(LiveRaster, StatisticsInMemory) {
  TempDir dir;
  auto m = LiveMap(dir.file("f"), dtInteger, 2, 2, {-5, -5, -5, -5}, fdBackground, -5);
  m->LoadData();
  EXPECT_EQ(MessageOf<EInvalidOperation>([&] { m->ComputeSD(); }), "Map contains no data");
  m->ComputeMinMax();
  EXPECT_EQ(m->MinValue, -5);
  EXPECT_EQ(m->MaxValue, -5);

  m->SetCell(0, 1, -2);
  m->SetCell(1, 0, -11);
  m->ComputeMinMax(); // flagged cells count here, all negative
  EXPECT_EQ(m->MinValue, -11);
  EXPECT_EQ(m->MaxValue, -2);
  m->ComputeSD();
  EXPECT_DOUBLE_EQ(m->Mean, -6.5);
  EXPECT_DOUBLE_EQ(m->SD, 4.5);
  m->SetCell(1, 1, -8); // clears the cache: the next SD recomputes the mean
  m->ComputeSD();
  EXPECT_DOUBLE_EQ(m->Mean, -7);
  EXPECT_NEAR(m->SD, std::sqrt(14.0), 1e-12);

  m->SaveData(); // released, the same figures from the file
  m->ReleaseData();
  m->MeanValid = false;
  EXPECT_DOUBLE_EQ(m->GetMean(), -7);
  m->ComputeMinMax();
  EXPECT_EQ(m->MinValue, -11);
  EXPECT_FALSE(m->Loaded());

  auto c = LiveMap(dir.file("c"), dtReal, 2, 3, std::vector<float>(6, 0.7f));
  c->LoadData();
  c->ComputeSD();
  EXPECT_EQ(c->SD, 0);
}

TEST(LiveRaster, NonNumbersAreMissingLoadedAndFromTheFile) {
  TempDir dir;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // Without a flag, and beside one: NaN and infinities are missing either way.
  for (const tFlagDef def : {fdNone, fdNoBackground, fdBackground}) {
    SCOPED_TRACE(FlagDefWord(def));
    auto m = LiveMap(dir.file("n"), dtReal, 2, 3, {1, nan, 3, inf, -inf, -9}, def, -9);
    const double mean = def == fdBackground ? 2 : -5.0 / 3;
    tRaster disk(dir.file("n")); // statistics streamed from the file
    disk.ComputeSD();
    EXPECT_DOUBLE_EQ(disk.Mean, mean);
    EXPECT_TRUE(std::isfinite(disk.SD));
    disk.ComputeMinMax();
    EXPECT_EQ(disk.MinValue, def == fdBackground ? 1 : -9);
    EXPECT_EQ(disk.MaxValue, 3);
    m->ComputeSD(); // released: from the file too
    EXPECT_DOUBLE_EQ(m->Mean, mean);
    m->LoadData();
    m->MeanValid = m->SDValid = false;
    m->ComputeSD();
    EXPECT_DOUBLE_EQ(m->Mean, mean);
    m->ComputeMinMax();
    EXPECT_EQ(m->MaxValue, 3);
    EXPECT_EQ(m->MinValue, -9); // loaded, flagged cells count here
    for (int32_t c = 0; c < 3; ++c) {
      EXPECT_EQ(m->IsFlagged(0, c), c == 1);
      EXPECT_EQ(m->IsFlagged(1, c), c < 2 || def == fdBackground);
    }
    EXPECT_TRUE(m->IsMissingValue(nan));
    EXPECT_EQ(m->IsMissingValue(-9), def == fdBackground);
  }
}

TEST(LiveRaster, CopyCellsGivesEveryTypeAsReals) {
  TempDir dir;
  const std::vector<float> values{1, -2, 300, 4.5f, 0, 6};
  for (const tDataType t : {dtByte, dtInteger, dtReal}) {
    SCOPED_TRACE(DataTypeWord(t));
    std::vector<float> in = values;
    if (t == dtByte) in = {1, 2, 200, 4, 0, 6};
    auto m = LiveMap(dir.file(std::string("c") + DataTypeWord(t)), t, 2, 3, in);
    std::vector<float> out(6, -1);
    EXPECT_THROW(m->CopyCells(out.data()), EInvalidOperation); // not loaded
    m->LoadData();
    m->CopyCells(out.data());
    for (int k = 0; k < 6; ++k) EXPECT_EQ(out[k], m->GetCell(k / 3, k % 3)) << k;
    EXPECT_EQ(out[2], t == dtByte ? 200 : 300);
  }
}

TEST(LiveRaster, IntegerImageLoadsRecordForRecordAndWidensOnDemand) {
  TempDir dir;
  // More than one block of records, neither side a round number, every 16-bit
  // pattern likely, the extremes and the missing value among them.
  const int32_t rows = 1031, cols = 997;
  const float flag = -9999;
  tLiveRaster made;
  SetGrid(made, dir.file("int"), dtInteger, rows, cols);
  made.FlagDef = fdBackground;
  made.FlagValue = flag;
  made.FillConstant(0);
  const std::size_t n = static_cast<std::size_t>(rows) * cols;
  std::string image(2 * n, '\0');
  for (std::size_t k = 0; k < image.size(); ++k)
    image[k] = static_cast<char>((k * 2654435761u) >> 13);
  const auto put = [&](std::size_t cell, unsigned lo, unsigned hi) {
    image[2 * cell] = static_cast<char>(lo);
    image[2 * cell + 1] = static_cast<char>(hi);
  };
  for (std::size_t cell = 5; cell < n; cell += 1013) put(cell, 0xF1, 0xD8); // -9999
  put(1, 0x00, 0x80);                                                       // -32768
  put(2, 0xFF, 0x7F);                                                       // 32767
  put(n - 1, 0xFF, 0xFF);                                                   // -1
  WriteFileBytes(made.FileName + ImageExt(), image);
  // The value of a record from its two bytes, low byte first, two's complement.
  const auto expected = [&](std::size_t cell) {
    const long v = static_cast<unsigned char>(image[2 * cell]) +
                   256L * static_cast<unsigned char>(image[2 * cell + 1]);
    return static_cast<double>(v >= 32768 ? v - 65536 : v);
  };

  tLiveRaster m(dir.file("int"));
  ASSERT_EQ(m.FlagDef, fdBackground);
  m.LoadData();
  std::size_t wrong = 0, flagged = 0;
  for (std::size_t cell = 0; cell < n; ++cell) {
    const auto r = static_cast<int32_t>(cell / cols), c = static_cast<int32_t>(cell % cols);
    if (m.GetCell(r, c) != expected(cell)) ++wrong;
    if (m.IsFlagged(r, c)) ++flagged;
    if (m.IsFlagged(r, c) != (expected(cell) == flag)) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_GE(flagged, n / 1013);
  EXPECT_EQ(m.GetCell(0, 1), -32768);
  EXPECT_EQ(m.GetCell(0, 2), 32767);
  EXPECT_EQ(m.GetCell(rows - 1, cols - 1), -1);
  std::vector<float> copied(n);
  m.CopyCells(copied.data());
  for (std::size_t cell = 0; cell < n; ++cell)
    if (copied[cell] != expected(cell)) ++wrong;
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(m.GetCell(rows - 1, 3), m.tRaster::GetCell(rows - 1, 3)); // read from the file
  EXPECT_FALSE(m.ImageDigest.empty());

  // A value past 16 bits moves the cells to 32 bits, every other one kept.
  m.SetCell(0, 1, 32767);
  EXPECT_EQ(m.GetCell(0, 1), 32767);
  EXPECT_THROW(m.SetCell(0, 1, 3e9f), ERangeError); // not even 32 bits: refused, kept
  EXPECT_EQ(m.GetCell(0, 1), 32767);
  m.SetCell(0, 2, -40000.4f);
  EXPECT_EQ(m.GetCell(0, 2), -40000);
  for (std::size_t cell = 3; cell < n; ++cell)
    if (m.GetCell(static_cast<int32_t>(cell / cols), static_cast<int32_t>(cell % cols)) !=
        expected(cell))
      ++wrong;
  EXPECT_EQ(wrong, 0u);
  EXPECT_THROW(m.SaveData(), ERangeError);
  EXPECT_EQ(ReadFileBytes(made.FileName + ImageExt()), image);
  // Back within 16 bits, it saves the records it read but the two set.
  m.SetCell(0, 2, 32767);
  m.SaveData();
  put(1, 0xFF, 0x7F);
  EXPECT_TRUE(ReadFileBytes(made.FileName + ImageExt()) == image);
}
