#include "analysis/PathScan.h"

#include "MapFixtures.h"
#include "ReportFixtures.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace stravex;
using namespace stravex::test;

namespace {

// Every column is preceded by a tab.
std::vector<std::string> ColumnFields(const std::string& columns) {
  return Fields(columns.substr(1));
}

struct tScanFixture {
  TempDir dir;
  RecordingReporter rep;
  tMapSet maps;
  tMatrixOfSingle friction;
  tScanFixture() {
    auto wave = [](int32_t r, int32_t c) { return float((r * 5 + c * 3) % 4); };
    maps.LoadBinaryMaps({WriteMap(dir, "bin", 12, 16, dtByte, wave)}, rep);
    maps.LoadQuantitativeMaps({WriteMap(dir, "q", 12, 16, dtReal, wave)}, rep);
    maps.LoadTopographyMap(WriteMap(dir, "dem", 12, 16, dtReal, wave), rep);
    const std::string f = WriteMap(dir, "friction", 12, 16, dtReal,
                                   [](int32_t r, int32_t c) { return 1.0f + float((r + c) % 3); });
    tRaster(f).ReadSingleMatrix(friction);
  }
};

} // namespace

TEST(PathScan, StripColumns) {
  tScanFixture fx;
  tPathScanOptions o;
  o.PathWidth = 3;
  const tPathScanner fixed(fx.maps, o);
  tRandomGenerator rng;
  const tRandomState untouched = rng.State();
  EXPECT_EQ(ColumnFields(fixed.HeaderColumns()).size(), 15u);
  const tPathScanResult r = fixed.Scan(1, 6, 14, 6, 0, rng);
  const auto f = ColumnFields(r.Columns);
  ASSERT_EQ(f.size(), 15u);
  // Strips have no length or cost: integer zeros.
  EXPECT_EQ(f[2] + f[3] + f[8] + f[9], "0000");
  EXPECT_TRUE(r.BinaryPaths.empty());
  EXPECT_FALSE(r.Seeded);
  EXPECT_EQ(rng.State(), untouched); // strips draw nothing
  // Three lines of 13 cells, so the area shows the width was used.
  EXPECT_EQ(f[1], "39");

  // A ratio strip reads PathWidth as length:width: 13 / 3 rounds to 4 lines.
  o.Connectivity = caRatioStrip;
  EXPECT_EQ(ColumnFields(tPathScanner(fx.maps, o).Scan(1, 6, 14, 6, 0, rng).Columns)[1], "52");
}

TEST(PathScan, LeastCostColumnsAndRepeatability) {
  tScanFixture fx;
  tPathScanOptions o;
  o.Connectivity = caLeastCostPath;
  EXPECT_THROW(tPathScanner(fx.maps, o), EInvalidOperation); // no friction
  o.Rules.Friction = &fx.friction;
  o.PathWidth = 3;
  o.Seed = 7;
  const tPathScanner lc(fx.maps, o);
  // No topography columns with least-cost paths.
  EXPECT_EQ(ColumnFields(lc.HeaderColumns()).size(), 10u);

  tRandomGenerator rng;
  tPathScanResult a = lc.Scan(1, 10, 14, 2, 4, rng);
  EXPECT_EQ(a.RandomAfter.State(), rng.State());
  const auto f = ColumnFields(a.Columns);
  ASSERT_EQ(f.size(), 10u);
  // Both scans draw the same numbers: same length and cost.
  EXPECT_EQ(f[2], f[8]);
  EXPECT_EQ(f[3], f[9]);
  EXPECT_GT(std::stod(f[2]), 0);
  ASSERT_EQ(a.BinaryPaths.size(), 3u);
  double nodes = 0;
  for (const auto& p : a.BinaryPaths) nodes += static_cast<double>(p.size());
  EXPECT_DOUBLE_EQ(std::stod(f[2]), nodes / 3);
  EXPECT_DOUBLE_EQ(a.BinaryLengthSum, nodes / 3);
  EXPECT_TRUE(a.Seeded);

  // The result depends only on (seed, seed index, points), not on the
  // generator's state before, also on another thread, and its generator
  // state travels with it.
  tPathScanResult b;
  std::thread([&] {
    tRandomGenerator other;
    other.Seed(99, 1);
    b = lc.Scan(1, 10, 14, 2, 4, other);
  }).join();
  EXPECT_EQ(a.Columns, b.Columns);
  EXPECT_EQ(a.BinaryPaths, b.BinaryPaths);
  EXPECT_EQ(a.RandomAfter.NextRaw(), b.RandomAfter.NextRaw());
}

TEST(PathScan, OptionsFromTheSettings) {
  tScanFixture fx;
  const tLiveRaster* dem = fx.maps.TopographyMap.get();
  TAnalysisSettings s;
  s.Connectivity = caLeastCostPath;
  s.Minimise = 2;
  s.Direction = -1;
  s.ElevationTolerance = "2.5";
  const tPathScanOptions o = MakeScanOptions(s, false, &fx.friction, dem);
  EXPECT_EQ(o.Rules.Friction, &fx.friction);
  EXPECT_EQ(o.Rules.Criterion, tMinimiseCriterion::FrictionSD);
  EXPECT_EQ(o.Rules.Direction, tSlopeDirection::Downhill);
  EXPECT_EQ(o.Rules.Topography, dem);
  EXPECT_EQ(o.Rules.Tolerance, 2.5);
  s.Direction = 1;
  EXPECT_EQ(MakeScanOptions(s, false, &fx.friction, dem).Rules.Direction, tSlopeDirection::Uphill);
  // Sequences take no slope rule.
  const tPathScanOptions sequence = MakeScanOptions(s, true, &fx.friction, dem);
  EXPECT_EQ(sequence.Rules.Direction, tSlopeDirection::Both);
  EXPECT_EQ(sequence.Rules.Topography, nullptr);

  // A criterion outside the list is refused for searches, not for strips.
  s.Minimise = 3;
  try {
    MakeScanOptions(s, false, &fx.friction, dem);
    ADD_FAILURE() << "no error";
  } catch (const ERangeError& e) {
    EXPECT_NE(std::string(e.what()).find("minimisation criterion"), std::string::npos) << e.what();
  }
  s.Connectivity = caFixedWidthStrip;
  EXPECT_NO_THROW(MakeScanOptions(s, false, nullptr, nullptr));
}

// An exact scanner given the run's friction matrix takes it over (the run
// then holds one copy of the map) and scans as one that copies it; other
// scanners leave the matrix to the run, whose searches read it.
TEST(PathScan, ExactScannerTakesTheFrictionMatrix) {
  tScanFixture fx;
  fx.friction[5][7] = -1; // missing: the flag of the options
  tPathScanOptions o;
  o.Connectivity = caExactLeastCost;
  o.Rules.Friction = &fx.friction;
  o.Rules.LengthWeight = 0.5;
  o.FrictionFlag = -1;
  const tMatrixOfSingle before = fx.friction;
  const tPathScanner copying(fx.maps, o);
  EXPECT_EQ(fx.friction, before);
  const std::string want = [&] {
    tRandomGenerator rng;
    return copying.Scan(1, 10, 14, 2, 4, rng).Columns + copying.Scan(3, 3, 9, 11, 5, rng).Columns;
  }();
  EXPECT_EQ(ColumnFields(want).size(), 20u);

  const tPathScanner taking(fx.maps, o, &fx.friction);
  EXPECT_TRUE(fx.friction.empty());
  tRandomGenerator rng;
  EXPECT_EQ(taking.Scan(1, 10, 14, 2, 4, rng).Columns + taking.Scan(3, 3, 9, 11, 5, rng).Columns,
            want);

  // A matrix other than the options' one is not taken.
  fx.friction = before;
  tMatrixOfSingle other = before;
  const tPathScanner notTaking(fx.maps, o, &other);
  EXPECT_EQ(other, before);
  o.Connectivity = caLeastCostPath;
  const tPathScanner monteCarlo(fx.maps, o, &fx.friction);
  EXPECT_EQ(fx.friction, before);
}
