#include "LeastCostStats.h"

#include "Corridor.h"
#include "CostPath.h"
#include "Errors.h"
#include "IdrisiEnv.h"
#include "RandomFunctions.h"
#include "Raster.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>

using namespace stravex;
using stravex::test::ReadFileBytes;
using stravex::test::TempDir;

namespace {

constexpr int32_t kRows = 20, kCols = 24;
// Cell (row, col) is centred on x = col, y = kRows - row.
double X(int32_t col) { return col; }
double Y(int32_t row) { return kRows - row; }

std::unique_ptr<tLiveRaster> MakeMap(const TempDir& dir, const std::string& name, tDataType type,
                                     const std::function<float(int32_t, int32_t)>& value,
                                     tFlagDef flagDef = fdNone, float flag = 0) {
  auto r = std::make_unique<tLiveRaster>();
  r->FileName = dir.file(name);
  r->Rows = kRows;
  r->Columns = kCols;
  r->MinX = 0;
  r->MaxX = kCols;
  r->MinY = 0;
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

struct tFixture {
  TempDir dir;
  // Count map: -1 .. 3, where 3 is the missing value.
  std::unique_ptr<tLiveRaster> counts = MakeMap(
      dir, "counts", dtInteger, [](int32_t r, int32_t c) { return float((r * 7 + c * 3) % 5 - 1); },
      fdBackground, 3);
  // Never positive: Count 0, Area every cell.
  std::unique_ptr<tLiveRaster> negative =
      MakeMap(dir, "negative", dtInteger, [](int32_t, int32_t) { return -2.0f; });
  // Quantitative, with missing cells on every fourth column.
  std::unique_ptr<tLiveRaster> quant = MakeMap(
      dir, "quant", dtReal,
      [](int32_t r, int32_t c) { return c % 4 == 1 ? -9999.0f : float(r) * 0.5f + float(c) * 0.3f; },
      fdBackground, -9999);
  std::unique_ptr<tLiveRaster> friction = MakeMap(
      dir, "friction", dtReal,
      [](int32_t r, int32_t c) { return 1.0f + float((r * 13 + c * 29) % 17); });
  std::vector<tRaster*> binaryMaps{counts.get(), negative.get()};
  std::vector<tRaster*> quantMaps{quant.get()};
};

struct tBinary {
  tVectorOfCardinal count, area;
  tVectorOfDouble length;
  tVectorOfExtended cost;
  std::vector<t2DiPoints> paths;
};

} // namespace

TEST(LeastCostStats, PooledStatisticsFollowThePaths) {
  tFixture fx;
  tMatrixOfSingle friction;
  fx.friction->ReadSingleMatrix(friction);
  const int32_t r1 = 3, c1 = 2, r2 = 16, c2 = 20;
  const int32_t nPaths = 3;

  SeedRandom(4, 2);
  tBinary b;
  ScanLeastCostBinary(fx.binaryMaps, friction, X(c1), Y(r1), X(c2), Y(r2), nPaths, mcFrictionMean,
                      1, 0.5, b.count, b.area, b.length, b.cost, nullptr, nullptr, 0, 0, &b.paths);

  // The searches themselves, repeated from the same seed.
  SeedRandom(4, 2);
  long double costSum = 0;
  double lengthSum = 0;
  for (int k = 0; k < nPaths; ++k) {
    t2DiPoints p;
    long double c;
    uint32_t n;
    FindLeastCostPath(LeastCostCandidates, friction, p, 0, 0, nullptr, 0.5, 1, mcFrictionMean, c,
                      n, r1, c1, r2, c2);
    ASSERT_EQ(p, b.paths[k]);
    costSum += c;
    lengthSum += n;
  }
  ASSERT_EQ(b.paths.size(), 3u);
  ASSERT_EQ(b.cost.size(), 2u);
  for (int m = 0; m < 2; ++m) {
    EXPECT_EQ(b.cost[m], costSum / 3);
    EXPECT_EQ(b.length[m], lengthSum / 3);
  }
  // Count and Area pool every path cell, a cell met k times counting k times.
  uint32_t count = 0, area = 0, cells = 0;
  long double s = 0, q = 0;
  uint32_t qArea = 0;
  for (const t2DiPoints& p : b.paths)
    for (auto cell : p) {
      ++cells;
      const int v = (cell.row * 7 + cell.col * 3) % 5 - 1;
      if (v != 3) {
        ++area;
        if (v > 0) count += v;
      }
      if (cell.col % 4 != 1) {
        const float x = float(cell.row) * 0.5f + float(cell.col) * 0.3f;
        ++qArea;
        s += x;
        q += (long double)x * x;
      }
    }
  EXPECT_GT(cells, 3 * 18u);
  EXPECT_EQ(b.count[0], count);
  EXPECT_EQ(b.area[0], area);
  EXPECT_EQ(b.count[1], 0u);
  EXPECT_EQ(b.area[1], cells);

  // The quantitative scanner from the same seed, reading the friction raster
  // itself: the same paths, Length and Cost.
  SeedRandom(4, 2);
  tVectorOfDouble sum, mean, sd, length;
  tVectorOfCardinal qa;
  tVectorOfExtended cost;
  std::vector<t2DiPoints> qPaths;
  ScanLeastCostQuantitative(fx.quantMaps, *fx.friction, X(c1), Y(r1), X(c2), Y(r2), nPaths,
                            mcFrictionMean, 1, 0.5, sum, mean, sd, qa, length, cost, nullptr, 0, 0,
                            &qPaths);
  EXPECT_EQ(qPaths, b.paths);
  EXPECT_EQ(length[0], b.length[0]);
  EXPECT_EQ(cost[0], b.cost[0]);
  EXPECT_EQ(qa[0], qArea);
  EXPECT_EQ(sum[0], double(s));
  EXPECT_DOUBLE_EQ(mean[0], double(s / qArea));
  EXPECT_NEAR(sd[0], std::sqrt(double(q / qArea - (s / qArea) * (s / qArea))), 1e-9);

  // One path: Length and Cost are those of the search.
  SeedRandom(9, 9);
  ScanLeastCostBinary(fx.binaryMaps, *fx.friction, X(c1), Y(r1), X(c2), Y(r2), 1, mcFrictionSum,
                      1, 0, b.count, b.area, b.length, b.cost, nullptr, nullptr, 0, 0, &b.paths);
  ASSERT_EQ(b.paths.size(), 1u);
  EXPECT_EQ(b.length[1], double(b.paths[0].size()));
  long double pathSum = 0;
  for (auto cell : b.paths[0]) pathSum += friction[cell.row][cell.col];
  EXPECT_EQ(b.cost[0], pathSum);
  EXPECT_EQ(b.area[1], b.paths[0].size());
}

TEST(LeastCostStats, NoPathGivesSentinelsAndLeavesCorridor) {
  tFixture fx;
  // The second point lies lower than the first: climbing only finds nothing.
  auto dem = MakeMap(fx.dir, "dem", dtReal, [](int32_t, int32_t c) { return float(c); });
  auto corridor = CreateCorridorMap(*fx.friction, fx.dir.file("corr"));
  corridor->FillZero();
  const std::string image = corridor->Raster().FileName + ImageExt();
  const std::string before = ReadFileBytes(image);

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

  tVectorOfDouble sum, mean, sd, length;
  tVectorOfCardinal area;
  tVectorOfExtended cost;
  ScanLeastCostQuantitative(fx.quantMaps, *fx.friction, X(20), Y(5), X(2), Y(5), 2, mcFrictionSD,
                            1, 1, sum, mean, sd, area, length, cost, dem.get(), 1, 0.5);
  EXPECT_EQ(sum[0], -1);
  EXPECT_EQ(mean[0], -1);
  EXPECT_EQ(sd[0], -1);
  EXPECT_EQ(area[0], 0u);
  EXPECT_EQ(cost[0], -1);
  EXPECT_EQ(length[0], 0);

  // Descending is possible: every path found goes to the corridor, and the
  // documentation follows the largest count.
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
  EXPECT_THROW(ScanLeastCostBinary(fx.binaryMaps, *fx.friction, 1, 1, 5, 5, 0, 0, 1, 1, b.count,
                                   b.area, b.length, b.cost, nullptr, nullptr, 0, 0),
               ERangeError);
  // Ends outside the friction map: the search's assertion leaves the scanner.
  EXPECT_THROW(ScanLeastCostBinary(fx.binaryMaps, *fx.friction, 1, 1, 50, 5, 1, 0, 1, 1, b.count,
                                   b.area, b.length, b.cost, nullptr, nullptr, 0, 0),
               EAssertionFailed);
  // No maps: nothing to report.
  ScanLeastCostBinary({}, *fx.friction, 1, 1, 5, 5, 1, 0, 1, 1, b.count, b.area, b.length, b.cost,
                      nullptr, nullptr, 0, 0);
  EXPECT_TRUE(b.count.empty());
  EXPECT_TRUE(b.cost.empty());
  // Counts beyond 32 bits raise instead of wrapping.
  auto huge = MakeMap(fx.dir, "huge", dtReal, [](int32_t, int32_t) { return 3.0e9f; });
  EXPECT_THROW(ScanLeastCostBinary({huge.get()}, *fx.friction, 1, 10, 9, 10, 1, 0, 1, 1, b.count,
                                   b.area, b.length, b.cost, nullptr, nullptr, 0, 0),
               EIntOverflow);
}
