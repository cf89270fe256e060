#include "paths/LeastCostStats.h"

#include "TestSupport.h"
#include "base/Errors.h"
#include "base/RandomFunctions.h"
#include "paths/Corridor.h"
#include "paths/CostPath.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>

using namespace stravex;
using stravex::test::ReadFileBytes;
using stravex::test::TempDir;

namespace {

// Cell (row, col) is centred on x = col, y = kRows - row.
constexpr int32_t kRows = 20, kCols = 24;
double X(int32_t col) { return col; }
double Y(int32_t row) { return kRows - row; }

std::unique_ptr<tLiveRaster> MakeMap(const TempDir& dir, const std::string& name, tDataType type,
                                     const std::function<float(int32_t, int32_t)>& value,
                                     tFlagDef flagDef = fdNone, float flag = 0) {
  auto r = std::make_unique<tLiveRaster>();
  r->FileName = dir.file(name);
  r->Rows = kRows;
  r->Columns = kCols;
  r->MaxX = kCols;
  r->MaxY = kRows;
  r->CellWidth = r->CellHeight = 1;
  r->DataType = type;
  r->FlagDef = flagDef;
  r->FlagValue = flag;
  r->FillConstant(0);
  r->LoadData();
  for (int32_t row = 0; row < kRows; ++row)
    for (int32_t col = 0; col < kCols; ++col) r->SetCell(row, col, value(row, col));
  return r;
}

int CountValue(int32_t r, int32_t c) { return (r * 7 + c * 3) % 5 - 1; } // 3 is missing
float QuantValue(int32_t r, int32_t c) { return float(r) * 0.5f + float(c) * 0.3f; }

struct tFixture {
  TempDir dir;
  std::unique_ptr<tLiveRaster> counts = MakeMap(
      dir, "counts", dtInteger, [](int32_t r, int32_t c) { return float(CountValue(r, c)); },
      fdBackground, 3);
  std::unique_ptr<tLiveRaster> negative = MakeMap(dir, "negative", dtInteger,
                                                  [](int32_t, int32_t) { return -2.0f; });
  // Missing on every fourth column.
  std::unique_ptr<tLiveRaster> quant = MakeMap(
      dir, "quant", dtReal,
      [](int32_t r, int32_t c) { return c % 4 == 1 ? -9999.0f : QuantValue(r, c); }, fdBackground,
      -9999);
  std::unique_ptr<tLiveRaster> friction =
      MakeMap(dir, "friction", dtReal,
              [](int32_t r, int32_t c) { return 1.0f + float((r * 13 + c * 29) % 17); });
  std::vector<tRaster*> binaryMaps{counts.get(), negative.get()};
};

struct tBinary {
  tVectorOfCardinal count, area;
  tVectorOfDouble length;
  tVectorOfExtended cost;
  std::vector<t2DiPoints> paths;
};

struct tQuant {
  tVectorOfDouble sum, mean, sd, length;
  tVectorOfCardinal area;
  tVectorOfExtended cost;
};

} // namespace

TEST(LeastCostStats, PooledStatisticsFollowThePaths) {
  tFixture fx;
  tMatrixOfSingle friction;
  fx.friction->ReadSingleMatrix(friction);
  const int32_t r1 = 3, c1 = 2, r2 = 16, c2 = 20;

  SeedRandom(4, 2);
  tBinary b;
  ScanLeastCostBinary(fx.binaryMaps, friction, X(c1), Y(r1), X(c2), Y(r2), 3, mcFrictionMean, 1,
                      0.5, b.count, b.area, b.length, b.cost, nullptr, nullptr, 0, 0, &b.paths);
  ASSERT_EQ(b.paths.size(), 3u);
  // The same three searches from the same seed.
  SeedRandom(4, 2);
  long double cost = 0;
  double length = 0;
  for (const t2DiPoints& want : b.paths) {
    t2DiPoints p;
    long double c;
    uint32_t n;
    FindLeastCostPath(LeastCostCandidates, friction, p, 0, 0, nullptr, 0.5, 1, mcFrictionMean, c, n,
                      r1, c1, r2, c2);
    EXPECT_EQ(p, want);
    cost += c;
    length += n;
  }
  EXPECT_EQ(b.cost, tVectorOfExtended(2, cost / 3));
  EXPECT_EQ(b.length, tVectorOfDouble(2, length / 3));
  // Every path cell counts, a cell met k times k times (the ends at least 3).
  uint32_t count = 0, area = 0, cells = 0, qArea = 0;
  long double s = 0, q = 0;
  for (const t2DiPoints& p : b.paths)
    for (auto cell : p) {
      ++cells;
      const int v = CountValue(cell.row, cell.col);
      area += v != 3;
      count += v != 3 && v > 0 ? v : 0;
      if (cell.col % 4 == 1) continue;
      ++qArea;
      s += QuantValue(cell.row, cell.col);
      q += (long double)QuantValue(cell.row, cell.col) * QuantValue(cell.row, cell.col);
    }
  EXPECT_EQ(b.count, (tVectorOfCardinal{count, 0}));
  EXPECT_EQ(b.area, (tVectorOfCardinal{area, cells}));

  // The quantitative scanner from the same seed, reading the friction raster
  // itself: same Length and Cost, pooled Sum, Mean and SD.
  SeedRandom(4, 2);
  tQuant qs;
  std::vector<t2DiPoints> qPaths;
  ScanLeastCostQuantitative({fx.quant.get()}, *fx.friction, X(c1), Y(r1), X(c2), Y(r2), 3,
                            mcFrictionMean, 1, 0.5, qs.sum, qs.mean, qs.sd, qs.area, qs.length,
                            qs.cost, nullptr, 0, 0, &qPaths);
  EXPECT_EQ(qPaths, b.paths);
  EXPECT_EQ(qs.length[0], b.length[0]);
  EXPECT_EQ(qs.cost[0], b.cost[0]);
  EXPECT_EQ(qs.area[0], qArea);
  EXPECT_EQ(qs.sum[0], double(s));
  EXPECT_DOUBLE_EQ(qs.mean[0], double(s / qArea));
  EXPECT_NEAR(qs.sd[0], std::sqrt(double(q / qArea - (s / qArea) * (s / qArea))), 1e-9);

  // One path: Length and Cost are those of that path.
  SeedRandom(9, 9);
  ScanLeastCostBinary(fx.binaryMaps, *fx.friction, X(c1), Y(r1), X(c2), Y(r2), 1, mcFrictionSum, 1,
                      0, b.count, b.area, b.length, b.cost, nullptr, nullptr, 0, 0, &b.paths);
  ASSERT_EQ(b.paths.size(), 1u);
  long double pathSum = 0;
  for (auto cell : b.paths[0]) pathSum += friction[cell.row][cell.col];
  EXPECT_EQ(b.cost[0], pathSum);
  EXPECT_EQ(b.length[1], double(b.paths[0].size()));
  EXPECT_EQ(b.area[1], b.paths[0].size());
}

TEST(LeastCostStats, NoPathSentinelsAndCorridor) {
  tFixture fx;
  auto dem = MakeMap(fx.dir, "dem", dtReal, [](int32_t, int32_t c) { return float(c); });
  auto corridor = CreateCorridorMap(*fx.friction, fx.dir.file("corr"));
  corridor->FillZero();
  const std::string image = corridor->Raster().FileName + ImageExt();
  const std::string before = ReadFileBytes(image);

  // Climbing only towards lower ground: no path in any search.
  tBinary b;
  ScanLeastCostBinary(fx.binaryMaps, *fx.friction, X(20), Y(5), X(2), Y(5), 4, mcFrictionSum, 1, 1,
                      b.count, b.area, b.length, b.cost, corridor.get(), dem.get(), 1, 0.5,
                      &b.paths);
  EXPECT_EQ(b.cost, (tVectorOfExtended{-1, -1}));
  EXPECT_EQ(b.length, (tVectorOfDouble{0, 0}));
  EXPECT_EQ(b.count, (tVectorOfCardinal{0, 0}));
  EXPECT_EQ(b.area, (tVectorOfCardinal{0, 0}));
  EXPECT_EQ(b.paths, std::vector<t2DiPoints>(4));
  EXPECT_EQ(ReadFileBytes(image), before);
  tQuant qs;
  ScanLeastCostQuantitative({fx.quant.get()}, *fx.friction, X(20), Y(5), X(2), Y(5), 2,
                            mcFrictionSD, 1, 1, qs.sum, qs.mean, qs.sd, qs.area, qs.length, qs.cost,
                            dem.get(), 1, 0.5);
  EXPECT_EQ(qs.sum[0], -1);
  EXPECT_EQ(qs.mean[0], -1);
  EXPECT_EQ(qs.sd[0], -1);
  EXPECT_EQ(qs.area[0], 0u);
  EXPECT_EQ(qs.cost[0], -1);
  EXPECT_EQ(qs.length[0], 0);

  // Descending: every path found goes to the corridor, and the documentation
  // follows the largest count.
  SeedRandom(1, 1);
  ScanLeastCostBinary(fx.binaryMaps, *fx.friction, X(20), Y(5), X(2), Y(5), 4, mcFrictionSum, 1, 1,
                      b.count, b.area, b.length, b.cost, corridor.get(), dem.get(), -1, 0.5,
                      &b.paths);
  std::map<std::pair<int, int>, int> tally;
  int found = 0, most = 0;
  for (const t2DiPoints& p : b.paths) {
    found += !p.empty();
    for (auto c : p) most = std::max(most, ++tally[{c.row, c.col}]);
  }
  EXPECT_GT(found, 0);
  for (int32_t r = 0; r < kRows; ++r)
    for (int32_t c = 0; c < kCols; ++c) {
      const auto it = tally.find({r, c});
      ASSERT_EQ(corridor->Count(r, c), it == tally.end() ? 0 : it->second);
    }
  EXPECT_EQ(tRaster(corridor->Raster().FileName).MaxValue, most);
}

TEST(LeastCostStats, RefusalsAndOverflow) {
  tFixture fx;
  tBinary b;
  auto scan = [&](const std::vector<tRaster*>& maps, double x2, int32_t nPaths) {
    ScanLeastCostBinary(maps, *fx.friction, 1, 10, x2, 10, nPaths, 0, 1, 1, b.count, b.area,
                        b.length, b.cost, nullptr, nullptr, 0, 0);
  };
  EXPECT_THROW(scan(fx.binaryMaps, 9, 0), ERangeError);
  EXPECT_THROW(scan(fx.binaryMaps, 50, 1), EAssertionFailed); // end outside the map
  scan({}, 9, 1);
  EXPECT_TRUE(b.count.empty());
  EXPECT_TRUE(b.cost.empty());
  // Counts beyond 32 bits raise instead of wrapping; the corridor's
  // documentation still follows the path added before the error.
  auto huge = MakeMap(fx.dir, "huge", dtReal, [](int32_t, int32_t) { return 3.0e9f; });
  EXPECT_THROW(scan({huge.get()}, 9, 1), EIntOverflow);
  auto corridor = CreateCorridorMap(*fx.friction, fx.dir.file("corr"));
  corridor->FillZero();
  EXPECT_THROW(ScanLeastCostBinary({huge.get()}, *fx.friction, 1, 10, 9, 10, 1, 0, 1, 1, b.count,
                                   b.area, b.length, b.cost, corridor.get(), nullptr, 0, 0),
               EIntOverflow);
  EXPECT_GE(corridor->Count(10, 1), 1);
  EXPECT_GE(corridor->Raster().MaxValue, 1);
  EXPECT_EQ(tRaster(corridor->Raster().FileName).MaxValue, corridor->Raster().MaxValue);
}

TEST(LeastCostStats, QuantitativeScanReplaysTheBinaryScansSearches) {
  tFixture fx;
  tMatrixOfSingle friction;
  fx.friction->ReadSingleMatrix(friction);
  const std::vector<tRaster*> quantMaps{fx.quant.get()};
  auto quantScan = [&](int32_t r2, int32_t c2, const tSearchRecord* reuse, tQuant& q) {
    SeedRandom(9, 5);
    ScanLeastCostQuantitative(quantMaps, friction, X(2), Y(3), X(c2), Y(r2), 3, mcFrictionSum, 1,
                              0.25, q.sum, q.mean, q.sd, q.area, q.length, q.cost, nullptr, 0, 0,
                              nullptr, reuse);
    return CurrentRandom().State();
  };
  auto same = [](const tQuant& a, const tQuant& b) {
    EXPECT_EQ(a.sum, b.sum);
    EXPECT_EQ(a.mean, b.mean);
    EXPECT_EQ(a.sd, b.sd);
    EXPECT_EQ(a.area, b.area);
    EXPECT_EQ(a.length, b.length);
    EXPECT_EQ(a.cost, b.cost);
  };

  tBinary b;
  tSearchRecord record;
  SeedRandom(9, 5);
  ScanLeastCostBinary(fx.binaryMaps, friction, X(2), Y(3), X(20), Y(16), 3, mcFrictionSum, 1, 0.25,
                      b.count, b.area, b.length, b.cost, nullptr, nullptr, 0, 0, &b.paths, &record);
  ASSERT_EQ(record.Paths, b.paths);
  EXPECT_EQ(record.RandomAfter, CurrentRandom().State());

  // Same ends: the record is replayed, with the results and the generator
  // state of a search of its own.
  tQuant searched, replayed;
  const tRandomState afterSearch = quantScan(16, 20, nullptr, searched);
  // A record whose paths are not those of the seed shows that it was used.
  tSearchRecord altered = record;
  altered.Paths[0] = altered.Paths[1];
  tQuant fromAltered;
  quantScan(16, 20, &altered, fromAltered);
  EXPECT_NE(fromAltered.area, searched.area);
  EXPECT_EQ(quantScan(16, 20, &record, replayed), afterSearch);
  same(replayed, searched);

  // Other ends: the record does not apply and the scan searches itself.
  tQuant otherSearched, otherWithRecord;
  const tRandomState otherAfter = quantScan(10, 12, nullptr, otherSearched);
  EXPECT_EQ(quantScan(10, 12, &record, otherWithRecord), otherAfter);
  same(otherWithRecord, otherSearched);
}
