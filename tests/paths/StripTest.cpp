#include "paths/Strip.h"

#include "TestSupport.h"
#include "base/StatOps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <tuple>

using namespace stravex;
using stravex::test::TempDir;

namespace {

// Square cells of `cell` map units; cell (row, col) is centred on
// x = col * cell, y = (rows - row) * cell, so coordinates name cells exactly.
struct tGrid {
  int32_t rows = 30, cols = 30;
  float cell = 1;
  double X(int32_t col) const { return col * static_cast<double>(cell); }
  double Y(int32_t row) const { return (rows - row) * static_cast<double>(cell); }
};

std::unique_ptr<tLiveRaster> MakeMap(const TempDir& dir, const std::string& name, const tGrid& g,
                                     float fill, tDataType type = dtReal, tFlagDef flagDef = fdNone,
                                     float flag = 0) {
  auto r = std::make_unique<tLiveRaster>();
  r->FileName = dir.file(name);
  r->Rows = g.rows;
  r->Columns = g.cols;
  r->MinX = 0;
  r->MaxX = g.cols * static_cast<long double>(g.cell);
  r->MinY = 0;
  r->MaxY = g.rows * static_cast<long double>(g.cell);
  r->CellWidth = r->CellHeight = g.cell;
  r->DataType = type;
  r->FlagDef = flagDef;
  r->FlagValue = flag;
  r->FillConstant(fill);
  r->LoadData();
  return r;
}

using tCell = std::tuple<int32_t, int32_t>; // (row, col)
std::vector<tCell> Cells(const tRaster& map, const tGrid& g, int32_t width, int32_t r1, int32_t c1,
                         int32_t r2, int32_t c2) {
  std::vector<tCell> out;
  StripGeometry(map, width, g.X(c1), g.Y(r1), g.X(c2), g.Y(r2),
                [&](int32_t row, int32_t col) { out.emplace_back(row, col); });
  return out;
}

std::vector<tCell> Block(std::vector<int32_t> rows, int32_t fromCol, int32_t toCol) {
  std::vector<tCell> out;
  for (int32_t r : rows)
    for (int32_t c = fromCol; c <= toCol; ++c) out.emplace_back(r, c);
  return out;
}

} // namespace

TEST(StripGeometry, LinesOffsetsAndRounding) {
  TempDir dir;
  const tGrid g;
  auto map = MakeMap(dir, "g", g, 0);
  // Horizontal: offsets -1, 0, +1 are rows 9, 10, 11; the start cell is never scanned.
  EXPECT_EQ(Cells(*map, g, 3, 10, 10, 10, 14), Block({9, 10, 11}, 11, 14));
  // An even width has its extra line on the negative side.
  EXPECT_EQ(Cells(*map, g, -2, 10, 10, 10, 14), Block({9, 10}, 11, 14));
  // Vertical: the perpendicular offset moves columns, the negative offset to the right.
  EXPECT_EQ(Cells(*map, g, 3, 10, 10, 14, 10), (std::vector<tCell>{{11, 11},
                                                                   {12, 11},
                                                                   {13, 11},
                                                                   {14, 11},
                                                                   {11, 10},
                                                                   {12, 10},
                                                                   {13, 10},
                                                                   {14, 10},
                                                                   {11, 9},
                                                                   {12, 9},
                                                                   {13, 9},
                                                                   {14, 9}}));
  // 45 degrees, L = 4, step 0.75: halves go to the even cell and repeats are skipped.
  EXPECT_EQ(Cells(*map, g, 3, 10, 10, 13, 13), (std::vector<tCell>{{10, 12},
                                                                   {11, 13},
                                                                   {12, 14},
                                                                   {11, 11},
                                                                   {12, 12},
                                                                   {13, 13},
                                                                   {12, 10},
                                                                   {13, 11},
                                                                   {14, 12}}));
  // Swapped ends scan the other end cell.
  EXPECT_EQ(Cells(*map, g, 1, 10, 14, 10, 10),
            (std::vector<tCell>{{10, 13}, {10, 12}, {10, 11}, {10, 10}}));
  // Two points in one cell: the only step returns to the start cell.
  EXPECT_TRUE(Cells(*map, g, 7, 10, 10, 10, 10).empty());
  EXPECT_TRUE(Cells(*map, g, 0, 10, 10, 10, 14).empty());
  // Leaving the grid skips cells silently; ends far off the map are no error.
  EXPECT_EQ(Cells(*map, g, 3, 10, 25, 10, 35), Block({9, 10, 11}, 26, 29));
  EXPECT_EQ(Cells(*map, g, 1, 10, -100, 10, 1).size(), 2u);
}

TEST(StripGeometry, RatioStripLineCounts) {
  TempDir dir;
  const tGrid g;
  auto map = MakeMap(dir, "g", g, 0);
  EXPECT_EQ(Cells(*map, g, -9, 10, 10, 10, 14), Block({10}, 11, 14)); // 4/9 rounds to 0 -> 1
  EXPECT_EQ(Cells(*map, g, -1, 10, 10, 10, 14), Block({8, 9, 10, 11}, 11, 14)); // L lines
  EXPECT_EQ(Cells(*map, g, -2, 10, 10, 10, 15), Block({9, 10}, 11, 15));        // 2.5 -> 2
  EXPECT_EQ(Cells(*map, g, -4, 10, 10, 10, 16).size(), 12u);                    // 1.5 -> 2
  EXPECT_EQ(Cells(*map, g, std::numeric_limits<int32_t>::min(), 10, 10, 10, 14),
            Block({10}, 11, 14));
}

TEST(ScanStripBinary, CountsAreaFlagsAndEveryMap) {
  TempDir dir;
  const tGrid g;
  auto bin = MakeMap(dir, "bin", g, 1, dtByte, fdBackground, 9);
  auto cnt = MakeMap(dir, "cnt", g, 0, dtInteger, fdBackground, 0);
  auto real = MakeMap(dir, "real", g, 0.5f, dtReal, fdNone, 9);
  bin->SetCell(10, 12, 9); // missing for bin only
  cnt->SetCell(10, 12, 7);
  real->SetCell(10, 12, 8.6f); // rounds to the flag value, but fdNone: counted
  real->SetCell(10, 13, 3.5f); // halves to even: 4
  real->SetCell(10, 14, -5);   // Area only
  tVectorOfCardinal count{99}, area;
  ScanStripBinary({bin.get(), cnt.get(), real.get()}, 1, g.X(10), g.Y(10), g.X(14), g.Y(10), count,
                  area);
  EXPECT_EQ(count, (tVectorOfCardinal{3, 7, 13})); // real: 0.5 -> 0, 9, 4, -5
  EXPECT_EQ(area, (tVectorOfCardinal{3, 1, 4}));

  // Lines 3 and 4 of a 5-wide 45 degree strip coincide: their cells count twice.
  cnt->SetCell(10, 12, 0);
  cnt->SetCell(12, 10, 3);
  ScanStripBinary({cnt.get()}, 5, g.X(10), g.Y(10), g.X(15), g.Y(15), count, area);
  EXPECT_EQ(count, (tVectorOfCardinal{6}));
  EXPECT_EQ(area, (tVectorOfCardinal{2}));

  // Two points in one cell scan nothing.
  ScanStripBinary({bin.get(), cnt.get()}, 9, g.X(5), g.Y(5), g.X(5) + 0.2, g.Y(5), count, area);
  EXPECT_EQ(count, (tVectorOfCardinal{0, 0}));
  EXPECT_EQ(area, (tVectorOfCardinal{0, 0}));
}

TEST(ScanStrip, NonNumbersAreMissingInEveryScanner) {
  TempDir dir;
  const tGrid g;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  auto nonNumbers = MakeMap(dir, "n", g, 1, dtReal, fdNone);
  auto flagged = MakeMap(dir, "f", g, 1, dtReal, fdBackground, -9999);
  for (int32_t c = 11; c <= 15; ++c) {
    const float v = c == 12 ? nan : c == 13 ? inf : c == 14 ? -inf : static_cast<float>(c);
    nonNumbers->SetCell(10, c, v);
    flagged->SetCell(10, c, std::isfinite(v) ? v : -9999);
  }
  for (tLiveRaster* m : {nonNumbers.get(), flagged.get()}) {
    SCOPED_TRACE(m->MapName());
    tVectorOfCardinal count, area;
    ScanStripBinary({m}, 1, g.X(10), g.Y(10), g.X(15), g.Y(10), count, area);
    EXPECT_EQ(count, (tVectorOfCardinal{26}));
    EXPECT_EQ(area, (tVectorOfCardinal{2}));
    tVectorOfDouble sum, mean, sd;
    ScanStripQuantitative({m}, 1, g.X(10), g.Y(10), g.X(15), g.Y(10), sum, mean, sd, area);
    EXPECT_EQ(area, (tVectorOfCardinal{2}));
    EXPECT_DOUBLE_EQ(mean[0], 13);
    EXPECT_DOUBLE_EQ(sd[0], 2);
    // Ends on a non-number: no slope; the middle cell one: no convexity.
    double tMean = 0, tSD = 0, slope = 0, convexity = 0;
    uint32_t tArea = 0;
    ScanStripTopography(*m, 1, g.X(10), g.Y(10), g.X(12), g.Y(10), tMean, tSD, slope, convexity,
                        tArea);
    EXPECT_EQ(slope, -9999);
    EXPECT_EQ(tArea, 1u);
    ScanStripTopography(*m, 1, g.X(11), g.Y(10), g.X(15), g.Y(10), tMean, tSD, slope, convexity,
                        tArea);
    EXPECT_DOUBLE_EQ(slope, 1);
    EXPECT_EQ(convexity, -9999);
    EXPECT_DOUBLE_EQ(tMean, 15);
  }
}

TEST(ScanStripBinary, CountBeyondSigned32BitsThenOverflow) {
  TempDir dir;
  const tGrid g;
  auto cnt = MakeMap(dir, "cnt", g, 0, dtInteger);
  for (int32_t c = 11; c <= 13; ++c) cnt->SetCell(10, c, 1073741824.0f); // 2^30
  tVectorOfCardinal count, area;
  ScanStripBinary({cnt.get()}, 1, g.X(10), g.Y(10), g.X(14), g.Y(10), count, area);
  EXPECT_EQ(count[0], 3221225472u);
  cnt->SetCell(10, 14, 1073741824.0f);
  EXPECT_THROW(ScanStripBinary({cnt.get()}, 1, g.X(10), g.Y(10), g.X(14), g.Y(10), count, area),
               EIntOverflow);
}

TEST(ScanStripQuantitative, StatisticsMissingCellsAndSentinels) {
  TempDir dir;
  const tGrid g;
  auto a = MakeMap(dir, "a", g, -9999, dtReal, fdBackground, -9999);
  auto b = MakeMap(dir, "b", g, 2, dtReal, fdBackground, -9999);
  for (int32_t c = 11; c <= 14; ++c) a->SetCell(10, c, static_cast<float>(c - 10));
  a->SetCell(10, 15, -9999); // missing
  tVectorOfDouble sum, mean, sd;
  tVectorOfCardinal area;
  ScanStripQuantitative({a.get(), b.get()}, 1, g.X(10), g.Y(10), g.X(15), g.Y(10), sum, mean, sd,
                        area);
  EXPECT_EQ(area, (tVectorOfCardinal{4, 5}));
  EXPECT_DOUBLE_EQ(sum[0], 10);
  EXPECT_DOUBLE_EQ(mean[0], 2.5);
  EXPECT_DOUBLE_EQ(sd[0], std::sqrt(1.25));
  EXPECT_DOUBLE_EQ(sum[1], 10);
  EXPECT_DOUBLE_EQ(sd[1], 0);

  // No valid cell: -1 for that map only.
  ScanStripQuantitative({a.get(), b.get()}, 3, g.X(0), g.Y(0), g.X(5), g.Y(0), sum, mean, sd, area);
  EXPECT_EQ(area, (tVectorOfCardinal{0, 10})); // row -1 is off the map
  EXPECT_EQ(sum[0], -1);
  EXPECT_EQ(mean[0], -1);
  EXPECT_EQ(sd[0], -1);
  EXPECT_DOUBLE_EQ(mean[1], 2);
}

TEST(ScanStripQuantitative, VarianceRoundedBelowZeroGivesZeroSD) {
  // 177 cells of 0.1f and 3 of the next float: the mean rounded to 64 bits
  // makes Q/n - mean^2 come out negative.
  TempDir dir;
  const tGrid g{20, 70, 1};
  const float a = 0.1f, b = std::nextafter(a, 1.0f);
  auto map = MakeMap(dir, "q", g, a);
  for (int32_t c = 20; c < 23; ++c) map->SetCell(10, c, b);
  const long double S = 177.0L * a + 3.0L * b, Q = 177.0L * a * a + 3.0L * b * b;
  double m = 0, variance = 0;
  MeanAndVariance(180, m, variance, S, Q);
  ASSERT_LT(variance, 0); // the case this test is about

  tVectorOfDouble sum, mean, sd;
  tVectorOfCardinal area;
  ScanStripQuantitative({map.get()}, 3, g.X(5), g.Y(10), g.X(65), g.Y(10), sum, mean, sd, area);
  EXPECT_EQ(area[0], 180u);
  EXPECT_EQ(mean[0], m);
  EXPECT_EQ(sd[0], 0.0);
}

TEST(ScanStripTopography, SlopeConvexityAndSentinels) {
  TempDir dir;
  const tGrid g{30, 30, 10}; // 10 map units per cell: the slope is per map unit
  auto dem = MakeMap(dir, "dem", g, 0, dtReal, fdBackground, -9999);
  const float z[] = {100, 104, 118, 106, 120};
  for (int32_t c = 10; c <= 14; ++c) dem->SetCell(10, c, z[c - 10]);
  double mean, sd, slope, convexity;
  uint32_t area;
  ScanStripTopography(*dem, 1, g.X(10), g.Y(10), g.X(14), g.Y(10), mean, sd, slope, convexity,
                      area);
  EXPECT_EQ(area, 4u);
  EXPECT_DOUBLE_EQ(mean, 112); // 104, 118, 106, 120
  EXPECT_DOUBLE_EQ(sd, std::sqrt(50.0));
  EXPECT_DOUBLE_EQ(slope, 0.5); // (120 - 100) / 40
  EXPECT_DOUBLE_EQ(convexity, 6);
  // Swapped: cells 13..10, middle still column 12, downhill.
  ScanStripTopography(*dem, 1, g.X(14), g.Y(10), g.X(10), g.Y(10), mean, sd, slope, convexity,
                      area);
  EXPECT_DOUBLE_EQ(mean, 107);
  EXPECT_DOUBLE_EQ(slope, -0.5);
  EXPECT_DOUBLE_EQ(convexity, 11);
  // Odd length: the middle is 11 + 5/2 = 13.5, column 14.
  ScanStripTopography(*dem, 1, g.X(11), g.Y(10), g.X(16), g.Y(10), mean, sd, slope, convexity,
                      area);
  EXPECT_DOUBLE_EQ(mean, 344.0 / 5); // 118, 106, 120, 0, 0
  EXPECT_DOUBLE_EQ(convexity, 120 - 344.0 / 5);

  // Missing middle cell: no convexity, the statistics stand.
  dem->SetCell(10, 12, -9999);
  ScanStripTopography(*dem, 1, g.X(10), g.Y(10), g.X(14), g.Y(10), mean, sd, slope, convexity,
                      area);
  EXPECT_EQ(area, 3u);
  EXPECT_EQ(convexity, -9999);
  EXPECT_DOUBLE_EQ(slope, 0.5);
  // Two points in one cell: nothing scanned, flat.
  ScanStripTopography(*dem, 3, g.X(11), g.Y(10), g.X(11) + 2, g.Y(10) - 3, mean, sd, slope,
                      convexity, area);
  EXPECT_EQ(area, 0u);
  EXPECT_EQ(mean, -9999);
  EXPECT_EQ(sd, -9999);
  EXPECT_EQ(convexity, -9999);
  EXPECT_EQ(slope, 0);
  // An end on a missing cell or outside the grid has no elevation: no slope
  // from the flag value, and no error.
  ScanStripTopography(*dem, 1, g.X(12), g.Y(10), g.X(14), g.Y(10), mean, sd, slope, convexity,
                      area);
  EXPECT_EQ(slope, -9999);
  EXPECT_DOUBLE_EQ(mean, 113);
  ScanStripTopography(*dem, 1, g.X(10), g.Y(10), g.X(40), g.Y(10), mean, sd, slope, convexity,
                      area);
  EXPECT_EQ(slope, -9999);
  EXPECT_EQ(area, 18u);
}

TEST(ScanStripTopography, PlainRasterWithEndOutsideGrid) {
  TempDir dir;
  const tGrid g;
  MakeMap(dir, "dem", g, 5); // written to disk
  tRaster onDisk(dir.file("dem"));
  double mean, sd, slope, convexity;
  uint32_t area;
  ScanStripTopography(onDisk, 1, g.X(26), g.Y(10), g.X(34), g.Y(10), mean, sd, slope, convexity,
                      area);
  EXPECT_EQ(area, 3u);
  EXPECT_EQ(mean, 5);
  EXPECT_EQ(slope, -9999);
  EXPECT_EQ(convexity, -9999); // middle column 30 is outside
}
