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

// A scan of nPaths searches between the centres of two cells.
tLeastCostScan ScanOf(const tMatrixOfSingle& friction, int32_t r1, int32_t c1, int32_t r2,
                      int32_t c2, int32_t nPaths, tMinimiseCriterion criterion,
                      double frictionWeight, double lengthWeight) {
  tLeastCostScan scan;
  scan.Rules.Friction = &friction;
  scan.Rules.Criterion = criterion;
  scan.Rules.FrictionWeight = frictionWeight;
  scan.Rules.LengthWeight = lengthWeight;
  scan.X1 = X(c1);
  scan.Y1 = Y(r1);
  scan.X2 = X(c2);
  scan.Y2 = Y(r2);
  scan.Paths = nPaths;
  return scan;
}

constexpr auto kSum = tMinimiseCriterion::FrictionSum;
constexpr auto kMean = tMinimiseCriterion::FrictionMean;

} // namespace

TEST(LeastCostStats, PooledStatisticsFollowThePaths) {
  tFixture fx;
  tMatrixOfSingle friction;
  fx.friction->ReadSingleMatrix(friction);
  const int32_t r1 = 3, c1 = 2, r2 = 16, c2 = 20;
  tRandomGenerator rng;

  rng.Seed(4, 2);
  const tLeastCostScan scan = ScanOf(friction, r1, c1, r2, c2, 3, kMean, 1, 0.5);
  const tBinaryScan b = ScanLeastCostBinary(fx.binaryMaps, scan, rng);
  const std::vector<t2DiPoints>& paths = b.Searches.Paths;
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(b.Searches.RandomAfter, rng.State());
  // The same three searches from the same seed.
  rng.Seed(4, 2);
  long double cost = 0;
  double length = 0;
  for (const t2DiPoints& want : paths) {
    const tFoundPath p = FindLeastCostPath({scan.Rules, r1, c1, r2, c2, LeastCostCandidates}, rng);
    EXPECT_EQ(p.Path, want);
    cost += p.Cost;
    length += p.Length;
  }
  EXPECT_EQ(b.Cost, tVectorOfExtended(2, cost / 3));
  EXPECT_EQ(b.Length, tVectorOfDouble(2, length / 3));
  // Every path cell counts, a cell met k times k times (the ends at least 3).
  uint32_t count = 0, area = 0, cells = 0, qArea = 0;
  long double s = 0, q = 0;
  for (const t2DiPoints& p : paths)
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
  EXPECT_EQ(b.Count, (tVectorOfCardinal{count, 0}));
  EXPECT_EQ(b.Area, (tVectorOfCardinal{area, cells}));

  // The quantitative scanner from the same seed: same paths, Length and
  // Cost, pooled Sum, Mean and SD.
  rng.Seed(4, 2);
  const tQuantitativeScan qs = ScanLeastCostQuantitative({fx.quant.get()}, scan, rng);
  EXPECT_EQ(qs.Searches.Paths, paths);
  EXPECT_EQ(qs.Length[0], b.Length[0]);
  EXPECT_EQ(qs.Cost[0], b.Cost[0]);
  EXPECT_EQ(qs.Area[0], qArea);
  EXPECT_EQ(qs.Sum[0], double(s));
  EXPECT_DOUBLE_EQ(qs.Mean[0], double(s / qArea));
  EXPECT_NEAR(qs.SD[0], std::sqrt(double(q / qArea - (s / qArea) * (s / qArea))), 1e-9);

  // One path: Length and Cost are those of that path.
  rng.Seed(9, 9);
  const tBinaryScan one = ScanLeastCostBinary(fx.binaryMaps,
                                              ScanOf(friction, r1, c1, r2, c2, 1, kSum, 1, 0), rng);
  ASSERT_EQ(one.Searches.Paths.size(), 1u);
  const t2DiPoints& path = one.Searches.Paths[0];
  long double pathSum = 0;
  for (auto cell : path) pathSum += friction[cell.row][cell.col];
  EXPECT_EQ(one.Cost[0], pathSum);
  EXPECT_EQ(one.Length[1], double(path.size()));
  EXPECT_EQ(one.Area[1], path.size());
}

TEST(LeastCostStats, NoPathSentinelsAndCorridor) {
  tFixture fx;
  tMatrixOfSingle friction;
  fx.friction->ReadSingleMatrix(friction);
  tRandomGenerator rng;
  auto dem = MakeMap(fx.dir, "dem", dtReal, [](int32_t, int32_t c) { return float(c); });
  auto corridor = CreateCorridorMap(*fx.friction, fx.dir.file("corr"));
  corridor->FillZero();
  const std::string image = corridor->Raster().FileName + ImageExt();
  const std::string before = ReadFileBytes(image);

  // Climbing only towards lower ground: no path in any search.
  tLeastCostScan scan = ScanOf(friction, 5, 20, 5, 2, 4, kSum, 1, 1);
  scan.Rules.Topography = dem.get();
  scan.Rules.Direction = tSlopeDirection::Uphill;
  scan.Rules.Tolerance = 0.5;
  scan.Corridor = corridor.get();
  const tBinaryScan b = ScanLeastCostBinary(fx.binaryMaps, scan, rng);
  EXPECT_EQ(b.Cost, (tVectorOfExtended{-1, -1}));
  EXPECT_EQ(b.Length, (tVectorOfDouble{0, 0}));
  EXPECT_EQ(b.Count, (tVectorOfCardinal{0, 0}));
  EXPECT_EQ(b.Area, (tVectorOfCardinal{0, 0}));
  EXPECT_EQ(b.Searches.Paths, std::vector<t2DiPoints>(4));
  EXPECT_EQ(ReadFileBytes(image), before);
  tLeastCostScan quantScan = scan;
  quantScan.Paths = 2;
  quantScan.Rules.Criterion = tMinimiseCriterion::FrictionSD;
  quantScan.Corridor = nullptr;
  const tQuantitativeScan qs = ScanLeastCostQuantitative({fx.quant.get()}, quantScan, rng);
  EXPECT_EQ(qs.Sum[0], -1);
  EXPECT_EQ(qs.Mean[0], -1);
  EXPECT_EQ(qs.SD[0], -1);
  EXPECT_EQ(qs.Area[0], 0u);
  EXPECT_EQ(qs.Cost[0], -1);
  EXPECT_EQ(qs.Length[0], 0);

  // Descending: every path found goes to the corridor, and the documentation
  // follows the largest count.
  rng.Seed(1, 1);
  scan.Rules.Direction = tSlopeDirection::Downhill;
  const tBinaryScan down = ScanLeastCostBinary(fx.binaryMaps, scan, rng);
  std::map<std::pair<int, int>, int> tally;
  int found = 0, most = 0;
  for (const t2DiPoints& p : down.Searches.Paths) {
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
  tMatrixOfSingle friction;
  fx.friction->ReadSingleMatrix(friction);
  tRandomGenerator rng;
  tBinaryScan b;
  auto scanOf = [&](double x2, int32_t nPaths) {
    tLeastCostScan scan = ScanOf(friction, 0, 0, 0, 0, nPaths, kSum, 1, 1);
    scan.X1 = 1;
    scan.Y1 = 10;
    scan.X2 = x2;
    scan.Y2 = 10;
    return scan;
  };
  auto scan = [&](const std::vector<tRaster*>& maps, double x2, int32_t nPaths) {
    b = ScanLeastCostBinary(maps, scanOf(x2, nPaths), rng);
  };
  EXPECT_THROW(scan(fx.binaryMaps, 9, 0), ERangeError);
  EXPECT_THROW(scan(fx.binaryMaps, 50, 1), EAssertionFailed); // end outside the map
  scan({}, 9, 1);
  EXPECT_TRUE(b.Count.empty());
  EXPECT_TRUE(b.Cost.empty());
  // Counts beyond 32 bits raise instead of wrapping; the corridor's
  // documentation still follows the path added before the error.
  auto huge = MakeMap(fx.dir, "huge", dtReal, [](int32_t, int32_t) { return 3.0e9f; });
  EXPECT_THROW(scan({huge.get()}, 9, 1), EIntOverflow);
  auto corridor = CreateCorridorMap(*fx.friction, fx.dir.file("corr"));
  corridor->FillZero();
  tLeastCostScan withCorridor = scanOf(9, 1);
  withCorridor.Corridor = corridor.get();
  EXPECT_THROW(ScanLeastCostBinary({huge.get()}, withCorridor, rng), EIntOverflow);
  EXPECT_GE(corridor->Count(10, 1), 1);
  EXPECT_GE(corridor->Raster().MaxValue, 1);
  EXPECT_EQ(tRaster(corridor->Raster().FileName).MaxValue, corridor->Raster().MaxValue);
}

TEST(LeastCostStats, QuantitativeScanReplaysTheBinaryScansSearches) {
  tFixture fx;
  tMatrixOfSingle friction;
  fx.friction->ReadSingleMatrix(friction);
  tRandomGenerator rng;
  const std::vector<tRaster*> quantMaps{fx.quant.get()};
  auto quantScan = [&](int32_t r2, int32_t c2, const tSearchRecord* reuse, tQuantitativeScan& q) {
    rng.Seed(9, 5);
    tLeastCostScan scan = ScanOf(friction, 3, 2, r2, c2, 3, kSum, 1, 0.25);
    scan.Reuse = reuse;
    q = ScanLeastCostQuantitative(quantMaps, scan, rng);
    return rng.State();
  };
  auto same = [](const tQuantitativeScan& a, const tQuantitativeScan& b) {
    EXPECT_EQ(a.Sum, b.Sum);
    EXPECT_EQ(a.Mean, b.Mean);
    EXPECT_EQ(a.SD, b.SD);
    EXPECT_EQ(a.Area, b.Area);
    EXPECT_EQ(a.Length, b.Length);
    EXPECT_EQ(a.Cost, b.Cost);
    EXPECT_EQ(a.Searches.Paths, b.Searches.Paths);
  };

  rng.Seed(9, 5);
  const tBinaryScan b = ScanLeastCostBinary(fx.binaryMaps,
                                            ScanOf(friction, 3, 2, 16, 20, 3, kSum, 1, 0.25), rng);
  const tSearchRecord& record = b.Searches;
  ASSERT_EQ(record.Paths.size(), 3u);
  EXPECT_EQ(record.RandomAfter, rng.State());

  // Same ends: the record is replayed, with the results and the generator
  // state of a search of its own.
  tQuantitativeScan searched, replayed;
  const tRandomState afterSearch = quantScan(16, 20, nullptr, searched);
  // A record whose paths are not those of the seed shows that it was used.
  tSearchRecord altered = record;
  altered.Paths[0] = altered.Paths[1];
  tQuantitativeScan fromAltered;
  quantScan(16, 20, &altered, fromAltered);
  EXPECT_NE(fromAltered.Area, searched.Area);
  EXPECT_EQ(quantScan(16, 20, &record, replayed), afterSearch);
  same(replayed, searched);

  // Other ends: the record does not apply and the scan searches itself.
  tQuantitativeScan otherSearched, otherWithRecord;
  const tRandomState otherAfter = quantScan(10, 12, nullptr, otherSearched);
  EXPECT_EQ(quantScan(10, 12, &record, otherWithRecord), otherAfter);
  same(otherWithRecord, otherSearched);
}
