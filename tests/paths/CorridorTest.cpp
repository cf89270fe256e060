#include "paths/Corridor.h"

#include "TestSupport.h"
#include "base/Errors.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using namespace stravex;
using stravex::test::ReadFileBytes;
using stravex::test::RecordingReporter;
using stravex::test::TempDir;
using stravex::test::WriteFileBytes;

namespace {

std::unique_ptr<tRaster> FrictionGeometry(int32_t rows, int32_t cols) {
  auto f = std::make_unique<tRaster>();
  f->Rows = rows;
  f->Columns = cols;
  f->MinX = 100;
  f->MaxX = 100 + 10.0L * cols;
  f->MinY = -50;
  f->MaxY = -50 + 10.0L * rows;
  f->RefSystem = "utm-32n";
  return f;
}

// The image file as 16-bit little-endian counts.
std::vector<int32_t> ImageCounts(const tCorridorMap& c) {
  const std::string bytes = ReadFileBytes(c.Raster().FileName + ImageExt());
  std::vector<int32_t> out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(int16_t(uint16_t(uint8_t(bytes[i])) | uint16_t(uint8_t(bytes[i + 1])) << 8));
  return out;
}

} // namespace

TEST(Corridor, CreationAndDefaultName) {
  TempDir dir;
  const auto f = FrictionGeometry(4, 6);
  const std::string name = dir.file("corr");
  auto c = CreateCorridorMap(*f, name);
  const tLiveRaster& r = c->Raster();
  EXPECT_EQ(r.Rows, 4);
  EXPECT_EQ(r.Columns, 6);
  EXPECT_EQ(r.MaxX, f->MaxX);
  EXPECT_EQ(r.MinY, f->MinY);
  EXPECT_EQ(r.RefSystem, "utm-32n");
  EXPECT_EQ(r.DataType, dtInteger);
  EXPECT_EQ(r.MinValue, 0);
  EXPECT_EQ(r.MaxValue, 1);
  EXPECT_EQ(r.FileName, name);
  EXPECT_FALSE(std::filesystem::exists(name + ImageExt())); // the producer fills it

  c->FillZero();
  EXPECT_EQ(ReadFileBytes(name + ImageExt()), std::string(48, '\0'));
  EXPECT_EQ(c->Raster().MaxValue, 0);
  EXPECT_EQ(tRaster(name).DataType, dtInteger);

  EXPECT_EQ(CorridorDefaultName(tMinimiseCriterion::FrictionSum), "Corridors-MinFriction sum");
  EXPECT_EQ(CorridorDefaultName(tMinimiseCriterion::FrictionMean), "Corridors-MinFriction mean");
  EXPECT_EQ(CorridorDefaultName(tMinimiseCriterion::FrictionSD), "Corridors-MinFriction SD");
  EXPECT_THROW(CorridorDefaultName(static_cast<tMinimiseCriterion>(3)), ERangeError);
}

TEST(Corridor, CountsWrittenInPlaceAfterEveryPath) {
  TempDir dir;
  const int32_t rows = 5, cols = 7;
  const auto f = FrictionGeometry(rows, cols);
  auto c = CreateCorridorMap(*f, dir.file("corr"));
  c->FillZero();
  const std::vector<t2DiPoints> paths = {
      {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}},
      {{0, 0}, {1, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}},
      {{4, 6}, {3, 5}, {2, 4}, {1, 3}, {1, 2}, {1, 1}, {0, 0}},
      {{2, 2}, {2, 3}, {2, 2}}, // lists (2, 2) twice: it gains 2
      {{4, 6}, {4, 6}, {4, 6}, {4, 6}},
  };
  const float wantMax[] = {1, 2, 3, 3, 5};
  std::vector<int32_t> want(rows * cols, 0);
  for (size_t k = 0; k < paths.size(); ++k) {
    AddPathToCorridor(*c, paths[k]);
    for (auto p : paths[k]) ++want[p.row * cols + p.col];
    ASSERT_EQ(ImageCounts(*c), want) << "after path " << k;
    for (int32_t i = 0; i < rows * cols; ++i) ASSERT_EQ(c->Count(i / cols, i % cols), want[i]);
    EXPECT_EQ(c->Raster().MaxValue, wantMax[k]);
  }
  c->WriteDoc();
  EXPECT_EQ(tRaster(c->Raster().FileName).MaxValue, 5);
  EXPECT_EQ(c->Raster().GetCell(1, 1), 3); // the released raster reads the file

  // An empty path, or one with a cell outside the grid, changes nothing.
  const std::string before = ReadFileBytes(c->Raster().FileName + ImageExt());
  AddPathToCorridor(*c, {});
  EXPECT_THROW(AddPathToCorridor(*c, {{0, 0}, {5, 0}}), ERangeError);
  EXPECT_THROW(AddPathToCorridor(*c, {{0, -1}}), ERangeError);
  EXPECT_EQ(ReadFileBytes(c->Raster().FileName + ImageExt()), before);
  EXPECT_EQ(c->Count(0, 0), 3);
  EXPECT_EQ(c->Raster().MaxValue, 5);

  // A file that cannot be opened is a file error and counts nothing.
  const std::string image = c->Raster().FileName + ImageExt();
  std::filesystem::remove(image);
  try {
    AddPathToCorridor(*c, {{0, 0}});
    ADD_FAILURE() << "a missing image was written";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()),
              "File writing error: " + image + ": No such file or directory");
  }
  WriteFileBytes(c->Raster().FileName + ImageExt(), before);
  AddPathToCorridor(*c, {{0, 0}});
  EXPECT_EQ(ImageCounts(*c)[0], 4);

  // One map per pair: a new name filled with 0 starts from 0, the first map
  // keeps its counts, and going back to it goes on from what its file holds.
  const std::string first = c->Raster().FileName;
  c->Raster().FileName = dir.file("corr_001_002");
  c->FillZero();
  AddPathToCorridor(*c, {{0, 1}, {1, 1}});
  EXPECT_EQ(ImageCounts(*c)[0], 0);
  EXPECT_EQ(ImageCounts(*c)[1], 1);
  c->Raster().FileName = first;
  AddPathToCorridor(*c, {{0, 0}});
  EXPECT_EQ(ImageCounts(*c)[0], 5);
  EXPECT_EQ(ImageCounts(*c)[cols + 1], 3);
}

TEST(Corridor, SaturatesWithOneWarningPerMap) {
  TempDir dir;
  RecordingReporter rep;
  const auto f = FrictionGeometry(2, 3);
  auto c = CreateCorridorMap(*f, dir.file("busy"));
  c->Raster().Reporter = &rep;
  std::string image(12, '\0'); // cell (0, 1) already at 32765
  image[2] = char(0xFD);
  image[3] = char(0x7F);
  WriteFileBytes(c->Raster().FileName + ImageExt(), image);
  c->Raster().MaxValue = 32765;

  AddPathToCorridor(*c, {{0, 1}, {0, 1}, {1, 1}}); // 32767: full, not beyond
  EXPECT_TRUE(rep.warnings.empty());
  AddPathToCorridor(*c, {{0, 0}, {0, 1}, {0, 1}});
  AddPathToCorridor(*c, {{0, 1}, {1, 2}});
  EXPECT_EQ(ImageCounts(*c), (std::vector<int32_t>{1, 32767, 0, 0, 1, 1}));
  EXPECT_EQ(c->Count(0, 1), 32767);
  EXPECT_EQ(c->Raster().MaxValue, 32767);
  ASSERT_EQ(rep.warnings.size(), 1u);
  EXPECT_EQ(rep.warnings[0], "Corridor map " + dir.file("busy") +
                                 ": some cells were crossed by more than 32767 paths; their count "
                                 "is held at 32767.");
  // Another map reaching the limit is reported again.
  c->Raster().FileName = dir.file("busy2");
  WriteFileBytes(c->Raster().FileName + ImageExt(), image);
  AddPathToCorridor(*c, {{0, 1}, {0, 1}, {0, 1}});
  EXPECT_EQ(rep.warnings.size(), 2u);
  EXPECT_EQ(ImageCounts(*c)[1], 32767);
}
