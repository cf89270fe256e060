#include "paths/Resistance.h"

#include "TestSupport.h"
#include "base/Errors.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

using namespace stravex;

namespace {

constexpr float kFlag = -1;
const double kSqrt2 = std::sqrt(2.0);

tMatrixOfSingle Grid(int rows, int cols, float value) {
  return tMatrixOfSingle(static_cast<std::size_t>(rows),
                         std::vector<float>(static_cast<std::size_t>(cols), value));
}

// Frictions 0.5 to 20, about missingShare of the cells missing (flagged or NaN).
tMatrixOfSingle RandomGrid(int rows, int cols, double missingShare, unsigned seed) {
  std::mt19937 g(seed);
  std::uniform_real_distribution<float> f(0.5f, 20.0f);
  std::uniform_real_distribution<double> u(0, 1);
  tMatrixOfSingle m = Grid(rows, cols, 1);
  for (auto& row : m)
    for (float& v : row) {
      const double p = u(g);
      v = p < missingShare / 2 ? kFlag
          : p < missingShare   ? std::numeric_limits<float>::quiet_NaN()
                               : f(g);
    }
  return m;
}

bool Missing(float v) { return v == kFlag || !std::isfinite(v); }

// The resistance of one link, as the circuit is defined.
double LinkResistance(float ra, float rb, bool corner) {
  return (corner ? kSqrt2 : 1.0) * (static_cast<double>(ra) + rb) / 2;
}

double Relative(double a, double b) { return std::fabs(a - b) / std::max(std::fabs(b), 1e-300); }

TEST(ResistanceTest, TwoCellsJoinedByOneLinkGiveTheLinksResistance) {
  tMatrixOfSingle side = {{2, 4}};
  const t2DiPoint sidePoints[] = {{0, 0}, {0, 1}};
  const tResistanceNetwork a(side, kFlag, "friction", sidePoints);
  EXPECT_NEAR(a.Resistance(0, 1), 3.0, 1e-12);
  EXPECT_EQ(a.Info().DirectParts, 1);
  EXPECT_EQ(a.Info().IterativeParts, 0);

  // Across a corner whose side cells are missing.
  tMatrixOfSingle corner = {{2, kFlag}, {std::numeric_limits<float>::quiet_NaN(), 4}};
  const t2DiPoint cornerPoints[] = {{1, 1}, {0, 0}};
  const tResistanceNetwork b(corner, kFlag, "friction", cornerPoints);
  EXPECT_NEAR(b.Resistance(0, 1), 3.0 * kSqrt2, 1e-12);
}

// A 1 x n strip: the links in series; every cell between the two points
// carries the whole current, those beyond carry none.
TEST(ResistanceTest, StripIsTheSeriesOfItsLinksAndCarriesTheWholeCurrent) {
  const int n = 12;
  std::mt19937 g(3);
  std::uniform_real_distribution<float> u(0.5f, 9.0f);
  tMatrixOfSingle strip = Grid(1, n, 1);
  for (float& v : strip[0]) v = u(g);
  const t2DiPoint points[] = {{0, 2}, {0, 9}, {0, 0}, {0, 2}};
  const tResistanceNetwork net(strip, kFlag, "friction", points);
  auto series = [&](int from, int to) {
    double r = 0;
    for (int c = from; c < to; ++c) r += LinkResistance(strip[0][c], strip[0][c + 1], false);
    return r;
  };
  EXPECT_NEAR(net.Resistance(0, 1), series(2, 9), 1e-10);
  EXPECT_NEAR(net.Resistance(1, 2), series(0, 9), 1e-10);
  EXPECT_NEAR(net.Resistance(2, 0), series(0, 2), 1e-10);
  EXPECT_EQ(net.Resistance(0, 3), 0); // one cell
  EXPECT_EQ(net.Resistance(2, 2), 0);

  const std::vector<float> current = net.PairCurrent(1, 0);
  for (int c = 0; c < n; ++c)
    EXPECT_NEAR(current[static_cast<std::size_t>(c)], c >= 2 && c <= 9 ? 1.0 : 0.0, 1e-6)
        << "column " << c;
  // Two cells: nothing flows.
  for (const float v : net.PairCurrent(0, 3)) EXPECT_EQ(v, 0);

  // Every cell has current 1: the plain mean of the map between the points,
  // its missing cells left out.
  tMatrixOfSingle map = Grid(1, n, 0);
  std::iota(map[0].begin(), map[0].end(), 10.0f);
  map[0][5] = kFlag;
  map[0][6] = std::numeric_limits<float>::infinity();
  const std::optional<double> mean = net.CurrentWeightedMean(0, 1, map, kFlag);
  ASSERT_TRUE(mean.has_value());
  EXPECT_NEAR(*mean, (12 + 13 + 14 + 17 + 18 + 19) / 6.0, 1e-9);
  EXPECT_FALSE(net.CurrentWeightedMean(0, 3, map, kFlag).has_value());
  tMatrixOfSingle allMissing = Grid(1, n, kFlag);
  EXPECT_FALSE(net.CurrentWeightedMean(0, 1, allMissing, kFlag).has_value());
}

// Two strips (rows 0 and 2) kept apart by a missing row, joined only by the
// two end cells of the middle row, each of which touches the strips across
// a corner. The two branches are in parallel.
TEST(ResistanceTest, ParallelStripsShareTheCurrentByTheirConductance) {
  const int n = 9, cols = n + 2;
  tMatrixOfSingle f = Grid(3, cols, kFlag);
  std::mt19937 g(5);
  std::uniform_real_distribution<float> u(1.0f, 6.0f);
  for (int c = 1; c <= n; ++c) {
    f[0][c] = u(g);
    f[2][c] = 2 * u(g);
  }
  f[1][0] = 1.5f;
  f[1][cols - 1] = 2.5f;
  auto branch = [&](int row) {
    double r = LinkResistance(f[1][0], f[row][1], true) +
               LinkResistance(f[row][n], f[1][cols - 1], true);
    for (int c = 1; c < n; ++c) r += LinkResistance(f[row][c], f[row][c + 1], false);
    return r;
  };
  const double top = branch(0), bottom = branch(2);
  const t2DiPoint points[] = {{1, 0}, {1, cols - 1}};
  const tResistanceNetwork net(f, kFlag, "friction", points);
  EXPECT_NEAR(net.Resistance(0, 1), top * bottom / (top + bottom), 1e-10);

  const std::vector<float> current = net.PairCurrent(0, 1);
  auto at = [&](int r, int c) { return current[static_cast<std::size_t>(r * cols + c)]; };
  EXPECT_NEAR(at(1, 0), 1.0, 1e-6);
  EXPECT_NEAR(at(1, cols - 1), 1.0, 1e-6);
  for (int c = 1; c <= n; ++c) {
    EXPECT_NEAR(at(0, c), bottom / (top + bottom), 1e-6);
    EXPECT_NEAR(at(2, c), top / (top + bottom), 1e-6);
    EXPECT_EQ(at(1, c), 0);
  }

  // Weighted by those currents: top cells 1, bottom cells 2, ends missing.
  tMatrixOfSingle map = Grid(3, cols, 1);
  map[2].assign(static_cast<std::size_t>(cols), 2.0f);
  map[1][0] = map[1][cols - 1] = kFlag;
  const double wt = bottom / (top + bottom), wb = top / (top + bottom);
  EXPECT_NEAR(*net.CurrentWeightedMean(0, 1, map, kFlag), (wt * 1 + wb * 2) / (wt + wb), 1e-9);

  // The cumulative current of several pairs is their sum.
  std::vector<float> sum(static_cast<std::size_t>(3 * cols), 0);
  net.AddPairCurrent(0, 1, sum);
  net.AddPairCurrent(1, 0, sum);
  for (std::size_t k = 0; k < sum.size(); ++k) EXPECT_NEAR(sum[k], 2 * current[k], 1e-6);
  std::vector<float> wrongSize(5, 0);
  EXPECT_THROW(net.AddPairCurrent(0, 1, wrongSize), EAssertionFailed);
}

// The border of a 5 x 5 map without its corner cells and interior: twelve
// cells in one ring (the turns are corner links). Between two of its cells,
// the two arcs in parallel.
TEST(ResistanceTest, RingIsTwoArcsInParallel) {
  tMatrixOfSingle f = Grid(5, 5, kFlag);
  const std::vector<t2DiPoint> ring = {{0, 1}, {0, 2}, {0, 3}, {1, 4}, {2, 4}, {3, 4},
                                       {4, 3}, {4, 2}, {4, 1}, {3, 0}, {2, 0}, {1, 0}};
  std::mt19937 g(7);
  std::uniform_real_distribution<float> u(0.5f, 8.0f);
  for (const t2DiPoint& p : ring) f[p.row][p.col] = u(g);
  std::vector<double> link(ring.size()); // from ring[k] to ring[k + 1]
  for (std::size_t k = 0; k < ring.size(); ++k) {
    const t2DiPoint a = ring[k], b = ring[(k + 1) % ring.size()];
    link[k] = LinkResistance(f[a.row][a.col], f[b.row][b.col], a.row != b.row && a.col != b.col);
  }
  const double total = std::accumulate(link.begin(), link.end(), 0.0);
  const tResistanceNetwork net(f, kFlag, "friction", ring);
  for (std::size_t i = 0; i < ring.size(); ++i)
    for (std::size_t j = 0; j < ring.size(); ++j) {
      double arc = 0;
      for (std::size_t k = i; k != j; k = (k + 1) % ring.size()) arc += link[k];
      EXPECT_NEAR(net.Resistance(i, j), arc * (total - arc) / total, 1e-10) << i << " " << j;
    }
}

TEST(ResistanceTest, SymmetricAndATriangleInequalityOnRandomGrids) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    const tMatrixOfSingle f = RandomGrid(15, 18, 0.15, seed);
    std::mt19937 g(seed + 100);
    std::vector<t2DiPoint> points;
    while (points.size() < 8) {
      const t2DiPoint p{static_cast<int32_t>(g() % 15), static_cast<int32_t>(g() % 18)};
      if (!Missing(f[p.row][p.col])) points.push_back(p);
    }
    const tResistanceNetwork net(f, kFlag, "friction", points);
    const tMatrixOfDouble r = net.Resistances();
    for (std::size_t i = 0; i < points.size(); ++i)
      for (std::size_t j = 0; j < points.size(); ++j) {
        EXPECT_NEAR(r[i][j], r[j][i], 1e-12 * std::fabs(r[i][j]));
        if (r[i][j] < 0) continue; // different parts
        for (std::size_t k = 0; k < points.size(); ++k)
          if (r[j][k] >= 0) {
            EXPECT_LE(r[i][k], r[i][j] + r[j][k] + 1e-9) << seed;
          }
      }
  }
}

// The potentials of a pair (1 A in at i, out at j): at every node the
// currents on its links add up to what enters from outside.
TEST(ResistanceTest, KirchhoffsCurrentLawHoldsAtEveryNode) {
  const int rows = 9, cols = 11;
  const tMatrixOfSingle f = RandomGrid(rows, cols, 0.1, 11);
  std::vector<t2DiPoint> points;
  for (int r = 1; r < rows && points.size() < 3; r += 3)
    for (int c = 1; c < cols && points.size() < 3; c += 4)
      if (!Missing(f[r][c])) points.push_back({r, c});
  ASSERT_EQ(points.size(), 3u);
  const tResistanceNetwork net(f, kFlag, "friction", points);
  ASSERT_GT(net.Resistance(0, 1), 0);
  const std::size_t i = 0, j = 1;
  auto v = [&](int r, int c) { return net.Potential(i, r, c) - net.Potential(j, r, c); };
  // Each cell's current, from the potentials: half its links' absolute
  // currents, plus half the 1 A at the two points.
  const std::vector<float> current = net.PairCurrent(i, j);
  int checked = 0;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      if (std::isnan(net.Potential(i, r, c))) continue;
      double out = 0, through = 0;
      for (int dr = -1; dr <= 1; ++dr)
        for (int dc = -1; dc <= 1; ++dc) {
          const int nr = r + dr, nc = c + dc;
          if ((dr == 0 && dc == 0) || nr < 0 || nr >= rows || nc < 0 || nc >= cols) continue;
          if (Missing(f[nr][nc])) continue;
          const double link = (v(r, c) - v(nr, nc)) /
                              LinkResistance(f[r][c], f[nr][nc], dr != 0 && dc != 0);
          out += link;
          through += std::fabs(link);
        }
      const t2DiPoint here{r, c};
      const double injected = here == points[i] ? 1 : here == points[j] ? -1 : 0;
      EXPECT_NEAR(out, injected, 1e-9) << r << "," << c;
      const float expected = static_cast<float>(0.5 * (through + std::fabs(injected)));
      EXPECT_NEAR(current[static_cast<std::size_t>(r * cols + c)], expected,
                  1e-6F * expected + 1e-12F)
          << r << "," << c;
      ++checked;
    }
  EXPECT_GT(checked, rows * cols / 2);
  // The potential difference of the pair is its resistance (1 A).
  EXPECT_NEAR(v(points[i].row, points[i].col) - v(points[j].row, points[j].col),
              net.Resistance(i, j), 1e-9);
  EXPECT_THROW(static_cast<void>(net.Potential(0, rows, 0)), ERangeError);
}

// The effective resistance of each pair of a dense grounded Laplacian: the
// part's Laplacian without the row and column of one cell that is no point,
// factorised by Gaussian elimination (partial pivoting); a pair's resistance
// is the potential difference that 1 A in at one point and out at the other
// makes.
tMatrixOfDouble DenseResistances(const tMatrixOfSingle& f, const std::vector<t2DiPoint>& points) {
  const int rows = static_cast<int>(f.size()), cols = static_cast<int>(f[0].size());
  // The part of the first point, by a flood.
  std::vector<int> node(static_cast<std::size_t>(rows * cols), -1);
  std::vector<t2DiPoint> cells = {points[0]};
  node[static_cast<std::size_t>(points[0].row * cols + points[0].col)] = 0;
  for (std::size_t k = 0; k < cells.size(); ++k)
    for (int dr = -1; dr <= 1; ++dr)
      for (int dc = -1; dc <= 1; ++dc) {
        const int nr = cells[k].row + dr, nc = cells[k].col + dc;
        if (nr < 0 || nr >= rows || nc < 0 || nc >= cols || Missing(f[nr][nc])) continue;
        int& id = node[static_cast<std::size_t>(nr * cols + nc)];
        if (id >= 0) continue;
        id = static_cast<int>(cells.size());
        cells.push_back({nr, nc});
      }
  const int n = static_cast<int>(cells.size());
  // The grounded cell goes last: the last one found that holds no point.
  for (int k = n - 1; k >= 0; --k)
    if (std::find(points.begin(), points.end(), cells[static_cast<std::size_t>(k)]) ==
        points.end()) {
      std::swap(cells[static_cast<std::size_t>(k)], cells.back());
      for (const int i : {k, n - 1})
        node[static_cast<std::size_t>(cells[i].row * cols + cells[i].col)] = i;
      break;
    }
  std::vector<double> l(static_cast<std::size_t>(n * n), 0.0);
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b) {
      const int dr = cells[b].row - cells[a].row, dc = cells[b].col - cells[a].col;
      if (a == b || std::abs(dr) > 1 || std::abs(dc) > 1) continue;
      const double g = 1 / LinkResistance(f[cells[a].row][cells[a].col],
                                          f[cells[b].row][cells[b].col], dr != 0 && dc != 0);
      l[static_cast<std::size_t>(a * n + b)] -= g;
      l[static_cast<std::size_t>(a * n + a)] += g;
    }
  const int m = n - 1;
  std::vector<double> a(static_cast<std::size_t>(m * m));
  for (int r = 0; r < m; ++r)
    for (int c = 0; c < m; ++c)
      a[static_cast<std::size_t>(r * m + c)] = l[static_cast<std::size_t>(r * n + c)];
  std::vector<int> pivot(static_cast<std::size_t>(m));
  for (int k = 0; k < m; ++k) {
    int p = k;
    for (int r = k + 1; r < m; ++r)
      if (std::fabs(a[static_cast<std::size_t>(r * m + k)]) >
          std::fabs(a[static_cast<std::size_t>(p * m + k)]))
        p = r;
    pivot[static_cast<std::size_t>(k)] = p;
    for (int c = 0; c < m; ++c)
      std::swap(a[static_cast<std::size_t>(k * m + c)], a[static_cast<std::size_t>(p * m + c)]);
    for (int r = k + 1; r < m; ++r) {
      const double factor = a[static_cast<std::size_t>(r * m + k)] /
                            a[static_cast<std::size_t>(k * m + k)];
      a[static_cast<std::size_t>(r * m + k)] = factor;
      for (int c = k + 1; c < m; ++c)
        a[static_cast<std::size_t>(r * m + c)] -= factor * a[static_cast<std::size_t>(k * m + c)];
    }
  }
  auto solve = [&](std::vector<double> b) {
    for (int k = 0; k < m; ++k) {
      std::swap(b[static_cast<std::size_t>(k)], b[static_cast<std::size_t>(pivot[k])]);
      for (int r = k + 1; r < m; ++r)
        b[static_cast<std::size_t>(r)] -= a[static_cast<std::size_t>(r * m + k)] *
                                          b[static_cast<std::size_t>(k)];
    }
    for (int r = m - 1; r >= 0; --r) {
      for (int c = r + 1; c < m; ++c)
        b[static_cast<std::size_t>(r)] -= a[static_cast<std::size_t>(r * m + c)] *
                                          b[static_cast<std::size_t>(c)];
      b[static_cast<std::size_t>(r)] /= a[static_cast<std::size_t>(r * m + r)];
    }
    return b;
  };
  tMatrixOfDouble result(points.size(), std::vector<double>(points.size(), -1));
  for (std::size_t i = 0; i < points.size(); ++i)
    for (std::size_t j = 0; j < points.size(); ++j) {
      const int a_ = node[static_cast<std::size_t>(points[i].row * cols + points[i].col)];
      const int b_ = node[static_cast<std::size_t>(points[j].row * cols + points[j].col)];
      if (a_ < 0 || b_ < 0) continue;
      if (a_ == b_) {
        result[i][j] = 0;
        continue;
      }
      std::vector<double> rhs(static_cast<std::size_t>(m), 0.0);
      rhs[static_cast<std::size_t>(a_)] += 1;
      rhs[static_cast<std::size_t>(b_)] -= 1;
      const std::vector<double> x = solve(rhs);
      result[i][j] = x[static_cast<std::size_t>(a_)] - x[static_cast<std::size_t>(b_)];
    }
  return result;
}

// A 30 x 30 random map with missing cells, 12 points in the part of the
// first (the part is large: few cells are missing), and one walled in.
struct tRandom30 {
  tMatrixOfSingle f = RandomGrid(30, 30, 0.12, 29);
  std::vector<t2DiPoint> points;
  tRandom30() {
    std::mt19937 g(31);
    // A cell cut off from the rest by a ring of missing cells.
    for (int r = 26; r <= 28; ++r)
      for (int c = 1; c <= 3; ++c) f[r][c] = kFlag;
    f[27][2] = 3;
    while (points.size() < 12) {
      const t2DiPoint p{static_cast<int32_t>(g() % 24), static_cast<int32_t>(g() % 30)};
      if (!Missing(f[p.row][p.col])) points.push_back(p);
    }
    points.push_back({27, 2});
  }
};

TEST(ResistanceTest, RandomGridMatchesADenseSolve) {
  const tRandom30 grid;
  const tMatrixOfDouble expected = DenseResistances(grid.f, grid.points);
  tResistanceOptions options;
  options.Solver = tResistanceSolver::Direct;
  const tResistanceNetwork net(grid.f, kFlag, "friction", grid.points, options);
  const tMatrixOfDouble r = net.Resistances();
  int compared = 0;
  for (std::size_t i = 0; i + 1 < grid.points.size(); ++i)
    for (std::size_t j = 0; j + 1 < grid.points.size(); ++j) {
      if (expected[i][j] < 0) continue; // outside the first point's part
      EXPECT_LT(Relative(r[i][j], expected[i][j]), 1e-9) << i << " " << j;
      compared += i != j;
    }
  EXPECT_GT(compared, 100);
  const std::size_t walled = grid.points.size() - 1;
  EXPECT_EQ(r[0][walled], -1);
  EXPECT_EQ(r[walled][walled], 0);
  EXPECT_EQ(net.Info().DirectParts, 1); // the walled-in cell needs no solve

  // Any number of threads gives the same numbers.
  options.Threads = 3;
  const tResistanceNetwork threaded(grid.f, kFlag, "friction", grid.points, options);
  EXPECT_EQ(threaded.Resistances(), r);
  EXPECT_EQ(threaded.PairCurrent(2, 5), net.PairCurrent(2, 5));
}

TEST(ResistanceTest, IterativeSolverAgreesWithTheDirectOne) {
  if (!IterativeResistanceSolverAvailable()) GTEST_SKIP() << "built without hypre";
  const tRandom30 grid;
  const tResistanceNetwork direct(grid.f, kFlag, "friction", grid.points);
  tResistanceOptions options;
  options.Solver = tResistanceSolver::Iterative;
  const tResistanceNetwork iterative(grid.f, kFlag, "friction", grid.points, options);
  EXPECT_EQ(iterative.Info().IterativeParts, 1);
  EXPECT_EQ(iterative.Info().DirectParts, 0);
  EXPECT_GT(iterative.Info().MostIterations, 0);
  // A relative residual of 1e-10 leaves an error of at most the condition
  // number (here below 1e4) times that in the potentials.
  const tMatrixOfDouble a = direct.Resistances(), b = iterative.Resistances();
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < a.size(); ++j) {
      if (a[i][j] <= 0) {
        EXPECT_EQ(b[i][j], a[i][j]);
        continue;
      }
      EXPECT_LT(Relative(b[i][j], a[i][j]), 1e-6) << i << " " << j;
    }
  const std::vector<float> ca = direct.PairCurrent(0, 3), cb = iterative.PairCurrent(0, 3);
  for (std::size_t k = 0; k < ca.size(); ++k) EXPECT_NEAR(cb[k], ca[k], 1e-5);

  // Under Auto a budget the factor does not fit sends the part to the
  // iterative solver; a large one keeps the direct solver.
  options.Solver = tResistanceSolver::Auto;
  options.MemoryBudget = 1000;
  const tResistanceNetwork small(grid.f, kFlag, "friction", grid.points, options);
  EXPECT_EQ(small.Info().IterativeParts, 1);
  EXPECT_EQ(small.Info().DirectParts, 0);
  options.MemoryBudget = std::size_t{1} << 30;
  const tResistanceNetwork large(grid.f, kFlag, "friction", grid.points, options);
  EXPECT_EQ(large.Info().DirectParts, 1);
  EXPECT_GT(large.Info().LargestFactorBytes, 1000u);
  EXPECT_LT(large.Info().LargestFactorBytes, std::size_t{1} << 20);

  // The iterative solutions wait in a temporary file while the hierarchy is
  // alive; without a folder for it they stay in memory, and Info says why.
  EXPECT_EQ(iterative.Info().KeptInMemory, "");
  options.Solver = tResistanceSolver::Iterative;
  {
    const char* was = std::getenv("TMPDIR");
    const std::string kept = was ? was : "";
    ::setenv("TMPDIR", "/nonexistent-stravex-folder", 1);
    const tResistanceNetwork inMemory(grid.f, kFlag, "friction", grid.points, options);
    if (was)
      ::setenv("TMPDIR", kept.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
    EXPECT_NE(inMemory.Info().KeptInMemory.find("temporary"), std::string::npos);
    EXPECT_EQ(inMemory.Resistances(), b);
    EXPECT_EQ(inMemory.PairCurrent(0, 3), cb);
  }

  // The smallest part that needs a solve: two cells, one grounded.
  const tMatrixOfSingle two = {{2, 4}};
  const t2DiPoint ends[] = {{0, 0}, {0, 1}};
  EXPECT_NEAR(tResistanceNetwork(two, kFlag, "friction", ends, options).Resistance(0, 1), 3.0,
              1e-9);
}

TEST(ResistanceTest, PointsApartOnMissingCellsOrTogether) {
  // Two parts split by a missing column; (0,4) missing.
  tMatrixOfSingle f = Grid(3, 7, 2);
  for (int r = 0; r < 3; ++r) f[r][3] = kFlag;
  f[0][4] = std::numeric_limits<float>::quiet_NaN();
  const t2DiPoint points[] = {{0, 0}, {2, 6}, {0, 4}, {1, 1}, {0, 0}};
  const tResistanceNetwork net(f, kFlag, "friction", points);
  EXPECT_EQ(net.Resistance(0, 1), -1);
  EXPECT_EQ(net.Resistance(1, 0), -1);
  EXPECT_EQ(net.Resistance(0, 2), -1);
  EXPECT_EQ(net.Resistance(2, 2), -1); // no cell to stand on
  EXPECT_EQ(net.Resistance(0, 4), 0);
  EXPECT_GT(net.Resistance(0, 3), 0);
  EXPECT_TRUE(std::isnan(net.Potential(2, 0, 0)));
  EXPECT_TRUE(std::isnan(net.Potential(0, 2, 6)));
  for (const float v : net.PairCurrent(0, 1)) EXPECT_EQ(v, 0);
  EXPECT_FALSE(net.CurrentWeightedMean(0, 2, f, kFlag).has_value());
  EXPECT_THROW(static_cast<void>(net.Resistance(0, 5)), ERangeError);

  const t2DiPoint outside[] = {{0, 0}, {3, 0}};
  EXPECT_THROW(tResistanceNetwork(f, kFlag, "friction", outside), EAssertionFailed);
}

// The run's maps, read in place, give the means of the same cells held as matrices.
TEST(ResistanceTest, MeansOfMapsReadInPlaceAgreeWithMatrices) {
  const tMatrixOfSingle f = RandomGrid(12, 15, 0.1, 7);
  const t2DiPoint points[] = {{0, 0}, {11, 14}, {6, 3}, {2, 12}};
  const tResistanceNetwork net(f, kFlag, "friction", points);
  stravex::test::TempDir dir;
  std::vector<std::unique_ptr<tLiveRaster>> maps;
  std::vector<tMatrixOfSingle> cells;
  for (const tDataType type : {dtByte, dtReal}) {
    auto map = std::make_unique<tLiveRaster>();
    map->FileName = dir.file(type == dtByte ? "habitat" : "cover");
    map->Rows = 12;
    map->Columns = 15;
    map->DataType = type;
    map->FlagDef = fdBackground;
    map->FlagValue = 9;
    map->FillConstant(0);
    map->LoadData();
    tMatrixOfSingle m = Grid(12, 15, 0);
    for (int r = 0; r < 12; ++r)
      for (int c = 0; c < 15; ++c) {
        // Every tenth cell missing (the flag), the others of two kinds of values.
        const float v = (r * 15 + c) % 10 == 3 ? 9.0f
                        : type == dtByte       ? static_cast<float>((r + c) % 2)
                                               : 0.25f * static_cast<float>(r * c);
        map->SetCell(r, c, v);
        m[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = v;
      }
    maps.push_back(std::move(map));
    cells.push_back(std::move(m));
  }
  const std::vector<const tRaster*> views = {maps[0].get(), maps[1].get()};
  int compared = 0;
  for (std::size_t i = 0; i < 4; ++i)
    for (std::size_t j = i + 1; j < 4; ++j) {
      const auto means = net.CurrentWeightedMeans(i, j, views);
      ASSERT_EQ(means.size(), 2u);
      for (std::size_t k = 0; k < 2; ++k) {
        const auto expected = net.CurrentWeightedMean(i, j, cells[k], 9.0f);
        ASSERT_EQ(means[k].has_value(), expected.has_value()) << i << "-" << j;
        if (!expected) continue;
        EXPECT_NEAR(*means[k], *expected, 1e-12 * std::max(1.0, std::fabs(*expected)));
        ++compared;
      }
    }
  EXPECT_GT(compared, 4);
  // A map of another size is refused, naming it.
  tLiveRaster small;
  small.FileName = dir.file("small");
  small.Rows = 3;
  small.Columns = 3;
  small.DataType = dtByte;
  const tRaster* wrong[] = {&small};
  try {
    static_cast<void>(net.CurrentWeightedMeans(0, 1, wrong));
    FAIL() << "no error";
  } catch (const EInvalidOperation& e) {
    EXPECT_NE(std::string(e.what()).find("small"), std::string::npos) << e.what();
  }
}

TEST(ResistanceTest, RefusesFrictionNotAboveZeroNamingTheCell) {
  const t2DiPoint points[] = {{0, 0}, {1, 1}};
  for (const float bad : {0.0f, -0.5f}) {
    tMatrixOfSingle f = Grid(3, 4, 1);
    f[0][1] = kFlag; // missing, not refused
    f[2][3] = bad;
    try {
      const tResistanceNetwork net(f, kFlag, "roads", points);
      ADD_FAILURE() << "friction " << bad << " accepted";
    } catch (const EInvalidOperation& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("roads"), std::string::npos) << message;
      EXPECT_NE(message.find("row 2, column 3"), std::string::npos) << message;
      EXPECT_NE(message.find(bad == 0 ? "(0 at" : "(-0.5 at"), std::string::npos) << message;
    }
  }
  // Options a solve could never meet.
  const tMatrixOfSingle f = Grid(2, 2, 1);
  for (const double tolerance : {0.0, -1e-8, std::numeric_limits<double>::quiet_NaN()}) {
    tResistanceOptions options;
    options.Tolerance = tolerance;
    EXPECT_THROW(tResistanceNetwork(f, kFlag, "friction", points, options), EInvalidOperation);
  }
  tResistanceOptions noSteps;
  noSteps.MaxIterations = 0;
  EXPECT_THROW(tResistanceNetwork(f, kFlag, "friction", points, noSteps), EInvalidOperation);
}

} // namespace

namespace {

// The resistance between cells a and b of a small grid by an elimination
// written apart from the program's: dense, in long double, grounded at b,
// every other node eliminated in row-major order with a's last; each pivot
// is its row's ground excess plus its remaining links, so nothing is ever
// subtracted and a barrier of 1e30 keeps its digits.
long double DenseResistance(const tMatrixOfSingle& f, t2DiPoint a, t2DiPoint b) {
  const int rows = static_cast<int>(f.size()), cols = static_cast<int>(f[0].size());
  const int n = rows * cols;
  auto at = [&](int r, int c) { return static_cast<std::size_t>(r * cols + c); };
  std::vector<long double> link(static_cast<std::size_t>(n) * n, 0.0L);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c)
      for (int dr = -1; dr <= 1; ++dr)
        for (int dc = -1; dc <= 1; ++dc) {
          const int nr = r + dr, nc = c + dc;
          if ((dr == 0 && dc == 0) || nr < 0 || nr >= rows || nc < 0 || nc >= cols) continue;
          link[at(r, c) * n + at(nr, nc)] = 1.0L /
                                            ((dr != 0 && dc != 0 ? std::sqrt(2.0L) : 1.0L) *
                                             (static_cast<long double>(f[r][c]) + f[nr][nc]) / 2);
        }
  const auto ground = at(b.row, b.col), source = at(a.row, a.col);
  std::vector<std::size_t> order;
  for (std::size_t k = 0; k < static_cast<std::size_t>(n); ++k)
    if (k != ground && k != source) order.push_back(k);
  order.push_back(source);
  std::vector<long double> excess(static_cast<std::size_t>(n));
  for (const std::size_t k : order) excess[k] = link[k * n + ground];
  for (std::size_t p = 0; p < order.size(); ++p) {
    const std::size_t k = order[p];
    long double pivot = excess[k];
    for (std::size_t q = p + 1; q < order.size(); ++q) pivot += link[k * n + order[q]];
    if (p + 1 == order.size()) return 1 / pivot; // a's conductance to the ground
    for (std::size_t q = p + 1; q < order.size(); ++q) {
      const std::size_t i = order[q];
      const long double s = link[i * n + k] / pivot;
      if (s == 0) continue;
      excess[i] += s * excess[k];
      for (std::size_t t = p + 1; t < order.size(); ++t)
        if (order[t] != i) link[i * n + order[t]] += s * link[k * n + order[t]];
    }
  }
  return 0;
}

} // namespace

// A barrier column of 1e10 to 1e30 across a strip: the resistances are the
// series sums, the whole 1 A passes every cell between the points and the
// mean is the plain mean of the cells, however the points stand to the
// ground (point 0's cell) and to each other.
TEST(ResistanceBarrierTest, BarrierAcrossAStripGivesTheSeriesSum) {
  std::mt19937 g(11);
  std::uniform_int_distribution<int> u(1, 20);
  tMatrixOfSingle strip = Grid(1, 40, 1);
  for (float& v : strip[0]) v = static_cast<float>(u(g));
  const t2DiPoint points[] = {{0, 0}, {0, 8}, {0, 27}, {0, 39}};
  tMatrixOfSingle map = Grid(1, 40, 0);
  std::iota(map[0].begin(), map[0].end(), 1.0f);
  for (const float barrier : {1e10f, 1e15f, 1e20f, 1e30f}) {
    strip[0][20] = barrier;
    const tResistanceNetwork net(strip, kFlag, "friction", points);
    EXPECT_EQ(net.Info().SubtractionFreeParts, 1) << barrier;
    EXPECT_LE(net.Info().WorstCheck, kResistanceCheckLimit);
    for (std::size_t i = 0; i < 4; ++i)
      for (std::size_t j = i + 1; j < 4; ++j) {
        long double series = 0;
        for (int c = points[i].col; c < points[j].col; ++c)
          series += (static_cast<long double>(strip[0][c]) + strip[0][c + 1]) / 2;
        EXPECT_LE(Relative(net.Resistance(i, j), static_cast<double>(series)), 1e-12)
            << barrier << " pair " << i << " " << j;
        const std::vector<float> current = net.PairCurrent(j, i);
        for (int c = 0; c < 40; ++c)
          EXPECT_NEAR(current[static_cast<std::size_t>(c)],
                      c >= points[i].col && c <= points[j].col ? 1.0 : 0.0, 1e-6)
              << barrier << " pair " << i << " " << j << " column " << c;
        const std::optional<double> mean = net.CurrentWeightedMean(i, j, map, kFlag);
        ASSERT_TRUE(mean.has_value());
        EXPECT_NEAR(*mean, (points[i].col + points[j].col) / 2.0 + 1, 1e-9);
      }
  }
}

// A barrier column across a small grid: every pair against the dense
// elimination above, for the direct solver (and auto, which takes it); the
// pair on the far side from the ground is where one fixed ground cancelled
// all but the rounding of two potentials of about 1e20.
TEST(ResistanceBarrierTest, BarrierAcrossAGridMatchesAnEliminationThatNeverSubtracts) {
  std::mt19937 g(5);
  std::uniform_int_distribution<int> u(1, 20);
  tMatrixOfSingle f = Grid(7, 9, 1);
  for (auto& row : f)
    for (float& v : row) v = static_cast<float>(u(g));
  const t2DiPoint points[] = {{1, 1}, {5, 2}, {2, 6}, {6, 8}, {3, 7}};
  for (const float barrier : {1e10f, 1e15f, 1e20f, 1e30f}) {
    for (auto& row : f) row[4] = barrier;
    f[3][4] = barrier * 10; // not one height only
    for (const tResistanceSolver solver : {tResistanceSolver::Direct, tResistanceSolver::Auto}) {
      tResistanceOptions options;
      options.Solver = solver;
      options.Threads = 2;
      const tResistanceNetwork net(f, kFlag, "friction", points, options);
      for (std::size_t i = 0; i < 5; ++i)
        for (std::size_t j = i + 1; j < 5; ++j) {
          const auto exact = static_cast<double>(DenseResistance(f, points[i], points[j]));
          EXPECT_LE(Relative(net.Resistance(i, j), exact), 1e-10)
              << barrier << " pair " << i << " " << j << ": " << net.Resistance(i, j) << " against "
              << exact;
        }
      // The potentials grounded at point 0 rise across the barrier by about
      // its resistance; on the near side (point 1) they stay of the order of
      // the ordinary cells' resistances, not of the rounding of 1e20.
      EXPECT_LE(Relative(net.Potential(2, 2, 6), net.Resistance(0, 2)), 1e-10);
      const double near = net.Potential(2, 5, 2);
      EXPECT_GT(near, 0);
      EXPECT_LT(near, 100);
      // Currents balance at every node (the network refuses otherwise), so
      // the whole 1 A crosses the barrier column.
      const std::vector<float> current = net.PairCurrent(0, 3);
      double through = 0;
      for (int r = 0; r < 7; ++r) through += current[static_cast<std::size_t>(r * 9 + 4)];
      EXPECT_GE(through, 1 - 1e-6);
    }
  }
}

// Ordinary frictions stay with the Cholesky factor, checked by refinement.
TEST(ResistanceBarrierTest, OrdinaryMapsKeepTheCholeskyFactorAndPassItsCheck) {
  tMatrixOfSingle f = RandomGrid(30, 30, 0.1, 8);
  const t2DiPoint points[] = {{1, 1}, {28, 27}, {15, 3}, {3, 20}};
  for (const auto& p : points)
    f[static_cast<std::size_t>(p.row)][static_cast<std::size_t>(p.col)] = 3;
  tResistanceOptions options;
  options.Solver = tResistanceSolver::Direct;
  const tResistanceNetwork net(f, kFlag, "friction", points, options);
  EXPECT_EQ(net.Info().SubtractionFreeParts, 0);
  EXPECT_EQ(net.Info().CholeskyRefined, 0);
  EXPECT_EQ(net.Info().CholeskyRejected, 0);
  EXPECT_GT(net.Info().WorstCheck, 0);
  EXPECT_LE(net.Info().WorstCheck, 1e-10);
  EXPECT_LT(net.Info().LargestRatio, 41);
}

// The iterative solver takes friction ratios up to 1e6: above, the run ends
// with the ratio and the barrier's cells, highest first, never a number.
TEST(ResistanceBarrierTest, IterativeSolverRefusesABarrierNamingItsCells) {
  if (!IterativeResistanceSolverAvailable()) GTEST_SKIP() << "built without hypre";
  tMatrixOfSingle f = Grid(12, 10, 2);
  for (auto& row : f) row[5] = 1e8f;
  f[9][5] = 1e9f;
  const t2DiPoint points[] = {{1, 1}, {10, 8}};
  tResistanceOptions options;
  options.Solver = tResistanceSolver::Iterative;
  try {
    const tResistanceNetwork net(f, kFlag, "barriers", points, options);
    FAIL() << "accepted, resistance " << net.Resistance(0, 1);
  } catch (const EInvalidOperation& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("iterative solver takes friction ratios up to 1000000 only"),
              std::string::npos)
        << what;
    EXPECT_NE(what.find("friction map barriers: friction ratio 500000000"), std::string::npos)
        << what;
    EXPECT_NE(what.find("barrier cells row 9, column 5: 1000000000; row 0, column 5: 100000000;"),
              std::string::npos)
        << what;
    EXPECT_NE(what.find("; and 7 more)"), std::string::npos) << what;
  }
  // Under auto only a factor over the memory budget gets there, and the
  // refusal says so, since the advice then costs that memory.
  options.Solver = tResistanceSolver::Auto;
  options.MemoryBudget = 1;
  try {
    const tResistanceNetwork net(f, kFlag, "barriers", points, options);
    FAIL() << "accepted, resistance " << net.Resistance(0, 1);
  } catch (const EInvalidOperation& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("use --solver direct (auto chose it because the direct factor would take "
                        "about 1 MB, over the budget of 0 MB;"),
              std::string::npos)
        << what;
  }
  options.Solver = tResistanceSolver::Iterative;
  // Within its range it is checked and accepted.
  for (auto& row : f) row[5] = 1e5f;
  const tResistanceNetwork net(f, kFlag, "barriers", points, options);
  EXPECT_EQ(net.Info().IterativeParts, 1);
  EXPECT_LE(net.Info().WorstCheck, kResistanceCheckLimit);
  options.Solver = tResistanceSolver::Direct;
  const tResistanceNetwork direct(f, kFlag, "barriers", points, options);
  EXPECT_LE(Relative(net.Resistance(0, 1), direct.Resistance(0, 1)), 1e-6);
}
