// Fingerprints of maps taken while they are read: every whole read of an
// IDRISI image gives the digest of its cell records, the documentation's is of
// the file as read, and writes or incomplete reads leave no stale digest. GDAL
// maps carry digests of their metadata record and loaded cells.
#include "CliSupport.h"
#include "RasterFixtures.h"
#include "TestSupport.h"
#include "base/ContentDigest.h"
#include "base/Errors.h"
#include "raster/GdalMap.h"
#include "raster/IdrisiEnv.h"
#include "raster/IdrisiFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

using namespace stravex;
using namespace stravex::test;

namespace {

class MapDigest : public ::testing::Test {
protected:
  void SetUp() override { SetIdrisiExtensions(false); }
  void TearDown() override { SetImageHashing(true); }

  // A rows x cols map whose image holds varied records (finite reals).
  std::string MakeMap(const std::string& name, tDataType t, int32_t rows, int32_t cols) {
    tRaster r;
    SetGrid(r, dir.file(name), t, rows, cols);
    r.FillConstant(0);
    std::string bytes(static_cast<std::size_t>(rows) * cols * t, '\0');
    uint32_t x = 12345;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      x = x * 1664525u + 1013904223u;
      bytes[i] = static_cast<char>(t == dtReal && i % 4 == 3 ? (x >> 24) & 0x3F : x >> 24);
    }
    WriteFileBytes(dir.file(name) + ImageExt(), bytes);
    return dir.file(name);
  }

  TempDir dir;
};

// The digest each whole-map read path leaves (LoadData, the friction map's reads).
std::vector<std::string> DigestsOfEveryRead(const std::string& map) {
  tLiveRaster live(map), released(map);
  tRaster single(map), twice(map);
  live.LoadData();
  tMatrixOfSingle s;
  tMatrixOfDouble d;
  single.ReadSingleMatrix(s);
  twice.ReadDoubleMatrix(d);
  released.ReadSingleMatrix(s);
  EXPECT_FALSE(released.Loaded());
  const auto opened = OpenMap(map);
  opened->ReadSingleMatrix(s);
  return {live.ImageDigest, single.ImageDigest, twice.ImageDigest, released.ImageDigest,
          opened->ImageDigest};
}

} // namespace

TEST_F(MapDigest, EveryWholeReadGivesTheDigestOfTheCellRecords) {
  // Just over one block of records: hashing must follow the reads across it.
  for (const tDataType t : {dtByte, dtInteger, dtReal}) {
    SCOPED_TRACE(static_cast<int>(t));
    const std::string map = MakeMap("m" + std::to_string(t), t, IdrisiBufferSize / 1000 + 1, 1000);
    const std::string image = map + ImageExt();
    const std::vector<std::string> expected(5, DigestOfFile(image));
    EXPECT_EQ(DigestsOfEveryRead(map), expected);
    // Bytes past the cells are no part of the map.
    WriteFileBytes(image, ReadFileBytes(image) + std::string(3 * t + 1, '\x7f'));
    EXPECT_EQ(DigestsOfEveryRead(map), expected);
  }
}

TEST_F(MapDigest, AChangedByteOrLineChangesOnlyItsOwnDigest) {
  const std::string map = MakeMap("m", dtReal, 3, 4);
  tLiveRaster before(map);
  EXPECT_EQ(before.DocDigest, DigestOfFile(map + DocExt()));
  EXPECT_EQ(before.ImageDigest, ""); // not read yet
  before.LoadData();

  std::string cells = ReadFileBytes(map + ImageExt());
  cells[21] = static_cast<char>(cells[21] ^ 0x01);
  WriteFileBytes(map + ImageExt(), cells);
  tLiveRaster cellChanged(map);
  cellChanged.LoadData();
  EXPECT_NE(cellChanged.ImageDigest, before.ImageDigest);
  EXPECT_EQ(cellChanged.DocDigest, before.DocDigest);

  // An edited line, with LF ends and no break after the last line: the same
  // fields are read, the digest is of the new file.
  std::string doc;
  for (const char c : ReadFileBytes(map + DocExt()))
    if (c != '\r') doc += c;
  doc.insert(doc.find("file title  : ") + 14, "Edited");
  WriteFileBytes(map + DocExt(), doc + "comment     : last");
  tLiveRaster docChanged(map);
  docChanged.LoadData();
  EXPECT_EQ(docChanged.Title, "Edited");
  EXPECT_EQ(docChanged.Comments, tStringList{"last"});
  EXPECT_EQ(docChanged.Columns, 4);
  EXPECT_EQ(docChanged.DocDigest, DigestOfFile(map + DocExt()));
  EXPECT_NE(docChanged.DocDigest, before.DocDigest);
  EXPECT_EQ(docChanged.ImageDigest, cellChanged.ImageDigest);

  docChanged.Title = "Rewritten";
  docChanged.WriteDoc();
  EXPECT_EQ(docChanged.DocDigest, DigestOfFile(map + DocExt()));
  // Rereading drops both digests of the map read before.
  std::filesystem::remove(map + DocExt());
  EXPECT_THROW(docChanged.ReadDoc(map), EInOutError);
  EXPECT_EQ(docChanged.DocDigest + docChanged.ImageDigest, "");
}

TEST_F(MapDigest, WritesAndIncompleteReadsLeaveNoStaleDigest) {
  const std::string map = MakeMap("m", dtInteger, 4, 5);
  const std::string image = map + ImageExt();
  tLiveRaster live(map);
  live.LoadData();
  const std::string read = live.ImageDigest;
  live.SetCell(1, 1, 77);
  EXPECT_EQ(live.ImageDigest, read); // memory only so far
  live.SaveData();
  EXPECT_NE(live.ImageDigest, read);
  EXPECT_EQ(live.ImageDigest, DigestOfFile(image));

  tRaster disk(map);
  tMatrixOfSingle s;
  disk.ReadSingleMatrix(s);
  disk.SetCell(0, 0, 5); // written to the file behind the digest
  EXPECT_EQ(disk.ImageDigest, "");
  // A failed read drops the digest of the read before.
  disk.ReadSingleMatrix(s);
  const std::string full = ReadFileBytes(image);
  WriteFileBytes(image, full.substr(0, full.size() - 2));
  EXPECT_THROW(live.LoadData(), EInOutError);
  EXPECT_THROW(disk.ReadSingleMatrix(s), EInOutError);
  EXPECT_EQ(live.ImageDigest + disk.ImageDigest, "");
  WriteFileBytes(image, full);

  // The stream gives a digest only for every cell read in order from the start.
  const int64_t n = CellCount(disk);
  std::vector<int32_t> cells(static_cast<std::size_t>(n));
  tIdrisiFile f;
  for (const off_t seekTo : {-1, 2, 6}) { // none, back over a record, past one
    OpenIdrisiRead(disk, f);
    HashImageRecords(f, n);
    ReadIdrisiBlocks(f, cells.data(), 2);
    if (seekTo >= 0) {
      ASSERT_EQ(fseeko(f.file, seekTo, SEEK_SET), 0);
    }
    ReadIdrisiBlocks(f, cells.data(), n - 3);
    EXPECT_EQ(ImageDigestOf(f), "") << seekTo; // partial
    ReadIdrisiBlocks(f, cells.data(), n);
    EXPECT_EQ(ImageDigestOf(f), seekTo < 0 ? DigestOfFile(image) : "") << seekTo;
    CloseIdrisi(f);
  }
  OpenIdrisiRead(disk, f);
  ReadIdrisiBlocks(f, cells.data(), 1);
  HashImageRecords(f, n - 1); // asked for after the first read
  ReadIdrisiBlocks(f, cells.data(), n - 1);
  EXPECT_EQ(ImageDigestOf(f), "");

  SetImageHashing(false); // for measurements only
  live.LoadData();
  EXPECT_EQ(live.ImageDigest, "");
}

TEST_F(MapDigest, GdalMapsHaveDigestsOfTheirRecordAndCells) {
  if (!HaveProgram("gdal_translate")) GTEST_SKIP() << "no gdal_translate";
  auto tif = [&](const std::string& name, const std::string& rows,
                 std::vector<std::string> options) {
    WriteFileBytes(dir.file(name + ".asc"), "ncols 3\nnrows 2\nxllcorner 10\nyllcorner 20\n"
                                            "cellsize 5\nNODATA_value -1\n" +
                                                rows);
    options.insert(options.end(), {"-ot", "Int16", "-a_srs", "EPSG:32630"});
    GdalTranslate(options, dir.file(name + ".asc"), dir.file(name + ".tif"));
    return dir.file(name + ".tif");
  };
  const std::string base = tif("base", "1 -1 300\n-7 0 2\n", {});
  const std::string cell = tif("cell", "1 -1 300\n-7 0 3\n", {});
  const std::string moved = tif("moved", "1 -1 300\n-7 0 2\n", {"-a_ullr", "11", "30", "26", "20"});
  if (HasFatalFailure()) return;

  tGdalRaster map(base);
  EXPECT_EQ(map.DocDigest.size(), 16u);
  EXPECT_EQ(map.ImageDigest, "");
  map.LoadData();
  EXPECT_EQ(map.ImageDigest.size(), 16u);
  // The friction map's read through the base class: the same digests.
  const auto asBase = OpenMap(base);
  tMatrixOfSingle s;
  asBase->ReadSingleMatrix(s);
  EXPECT_EQ(asBase->DocDigest + asBase->ImageDigest, map.DocDigest + map.ImageDigest);

  tGdalRaster changedCell(cell), changedGrid(moved);
  changedCell.LoadData();
  changedGrid.LoadData();
  EXPECT_EQ(changedCell.DocDigest, map.DocDigest);
  EXPECT_NE(changedCell.ImageDigest, map.ImageDigest);
  EXPECT_NE(changedGrid.DocDigest, map.DocDigest);
  EXPECT_EQ(changedGrid.ImageDigest, map.ImageDigest);
}
