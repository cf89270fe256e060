#include "paths/ExactPath.h"

#include "FlatTopography.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "base/RandomFunctions.h"
#include "paths/CostPath.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace stravex;
using stravex::test::LoadFlatTopography;
using stravex::test::TempDir;

namespace {

constexpr float kFlag = -1;

// A plain Dijkstra over the same step rule: costs on entering a cell, the
// source's own cost first, strict improvements only, cells settled in order
// of (cost, row-major index).
struct tReference {
  const tMatrixOfSingle& f;
  const tLiveRaster* topo = nullptr; // with d != 0
  int d = 0;
  double tolerance = 0;
  double fw = 1, lw = 0;
  std::optional<float> flag = kFlag;

  int32_t rows() const { return static_cast<int32_t>(f.size()); }
  int32_t cols() const { return static_cast<int32_t>(f[0].size()); }
  bool passable(int32_t r, int32_t c) const {
    return !(flag && f[r][c] == *flag) && std::isfinite(f[r][c]);
  }
  float z(int32_t r, int32_t c) const { return static_cast<float>(topo->GetCell(r, c)); }

  // Path from s to t, empty when none.
  t2DiPoints path(t2DiPoint s, t2DiPoint t) const {
    if (!passable(s.row, s.col) || !passable(t.row, t.col)) return {};
    if (d != 0) {
      if (topo->IsFlagged(s.row, s.col)) return {};
      if ((static_cast<double>(z(t.row, t.col)) - z(s.row, s.col)) * d < 0) return {};
    }
    if (s == t) return {s, s};
    const int32_t n = rows() * cols();
    std::vector<double> cost(n, std::numeric_limits<double>::infinity());
    std::vector<int32_t> pred(n, -1);
    std::vector<bool> done(n, false);
    std::set<std::pair<double, int32_t>> open;
    const int32_t si = s.row * cols() + s.col, ti = t.row * cols() + t.col;
    cost[si] = fw * f[s.row][s.col] + lw;
    open.insert({cost[si], si});
    while (!open.empty()) {
      const int32_t p = open.begin()->second;
      open.erase(open.begin());
      done[p] = true;
      if (p == ti) break;
      const int32_t pr = p / cols(), pc = p % cols();
      if (d != 0 && topo->IsFlagged(pr, pc)) continue;
      for (int32_t dr = -1; dr <= 1; ++dr)
        for (int32_t dc = -1; dc <= 1; ++dc) {
          const int32_t qr = pr + dr, qc = pc + dc;
          if ((dr == 0 && dc == 0) || qr < 0 || qc < 0 || qr >= rows() || qc >= cols()) continue;
          if (!passable(qr, qc)) continue;
          const int32_t q = qr * cols() + qc;
          if (done[q]) continue;
          if (d != 0) {
            const double dz = static_cast<double>(z(qr, qc)) - static_cast<double>(z(pr, pc));
            if ((dz + d * tolerance) * d < 0) continue;
          }
          const double c = cost[p] + (fw * f[qr][qc] + lw);
          if (c < cost[q]) {
            open.erase({cost[q], q});
            cost[q] = c;
            pred[q] = p;
            open.insert({c, q});
          }
        }
    }
    if (!done[ti]) return {};
    t2DiPoints out;
    for (int32_t c = ti; c != -1; c = pred[c]) out.insert(out.begin(), {c / cols(), c % cols()});
    return out;
  }

  long double costOf(const t2DiPoints& p) const {
    long double s = 0;
    for (const t2DiPoint& c : p) s += f[c.row][c.col];
    return s * static_cast<long double>(fw) +
           static_cast<long double>(p.size()) * static_cast<long double>(lw);
  }
};

// Random frictions among few values (many ties), about one cell in eight missing.
tMatrixOfSingle TieFriction(std::mt19937& g, int32_t rows, int32_t cols) {
  std::uniform_int_distribution<int> v(0, 3), miss(0, 7);
  tMatrixOfSingle m(rows, std::vector<float>(cols));
  for (auto& r : m)
    for (float& x : r) x = miss(g) == 0 ? kFlag : static_cast<float>(v(g)) * 0.5f;
  return m;
}

// A valid result: an 8-neighbour chain from s to t over passable cells,
// each step allowed by the slope rule.
void ExpectValidPath(const tReference& ref, const t2DiPoints& p, t2DiPoint s, t2DiPoint t) {
  ASSERT_GE(p.size(), 2u);
  EXPECT_EQ(p.front(), s);
  EXPECT_EQ(p.back(), t);
  for (std::size_t k = 0; k < p.size(); ++k) {
    EXPECT_TRUE(ref.passable(p[k].row, p[k].col));
    if (k == 0) continue;
    EXPECT_LE(std::abs(p[k].row - p[k - 1].row), 1);
    EXPECT_LE(std::abs(p[k].col - p[k - 1].col), 1);
    if (ref.d != 0) {
      EXPECT_FALSE(ref.topo->IsFlagged(p[k - 1].row, p[k - 1].col));
      const double dz = static_cast<double>(ref.z(p[k].row, p[k].col)) -
                        static_cast<double>(ref.z(p[k - 1].row, p[k - 1].col));
      EXPECT_GE((dz + ref.d * ref.tolerance) * ref.d, 0);
    }
  }
}

// Compares one search from a random source to a few random targets (some
// repeated, sometimes the source) with the reference, target by target.
// Returns the number of targets with a path.
// The search rules of a landscape: the friction sum with these weights.
tPathRules Rules(const tMatrixOfSingle& f, const tLiveRaster* topo, int32_t direction,
                 double tolerance, double lengthWeight, double frictionWeight) {
  tPathRules r;
  r.Friction = &f;
  r.Topography = topo;
  r.Direction = SlopeDirectionOf(direction);
  r.Tolerance = tolerance;
  r.LengthWeight = lengthWeight;
  r.FrictionWeight = frictionWeight;
  return r;
}

int CompareWithReference(std::mt19937& g, const tReference& ref, const tExactLandscape& l) {
  std::uniform_int_distribution<int32_t> rr(0, ref.rows() - 1), cc(0, ref.cols() - 1);
  const t2DiPoint s{rr(g), cc(g)};
  std::vector<t2DiPoint> targets;
  for (int k = 0; k < 4; ++k) targets.push_back({rr(g), cc(g)});
  targets.push_back(targets.front());
  if (g() % 4 == 0) targets.push_back(s);
  const std::vector<tFoundPath> got = FindExactLeastCostPaths(l, s, targets);
  EXPECT_EQ(got.size(), targets.size());
  if (got.size() != targets.size()) return 0;
  int found = 0;
  for (std::size_t k = 0; k < targets.size(); ++k) {
    SCOPED_TRACE(testing::Message()
                 << "target " << k << " (" << targets[k].row << "," << targets[k].col << ") from ("
                 << s.row << "," << s.col << ")");
    const t2DiPoints want = ref.path(s, targets[k]);
    if (want.empty()) {
      EXPECT_TRUE(got[k].Path.empty());
      EXPECT_EQ(got[k].Cost, -1);
      EXPECT_EQ(got[k].Length, 0u);
      continue;
    }
    ++found;
    EXPECT_EQ(got[k].Path, want); // same tie rule, same path
    EXPECT_EQ(got[k].Cost, ref.costOf(want));
    EXPECT_EQ(got[k].Length, want.size());
    ExpectValidPath(ref, got[k].Path, s, targets[k]);
  }
  return found;
}

} // namespace

TEST(ExactPath, MatchesAPlainDijkstraOnRandomGrids) {
  std::mt19937 g(20261207);
  const std::pair<double, double> weights[] = {{1, 0}, {1, 1}, {0, 1}, {0.5, 2}, {0, 0}};
  int found = 0;
  for (int round = 0; round < 120; ++round) {
    SCOPED_TRACE(round);
    const int32_t rows = 2 + static_cast<int32_t>(g() % 11),
                  cols = 2 + static_cast<int32_t>(g() % 11);
    const tMatrixOfSingle f = TieFriction(g, rows, cols);
    const auto [fw, lw] = weights[round % 5];
    const tReference ref{f, nullptr, 0, 0, fw, lw};
    const tExactLandscape l(Rules(f, nullptr, 0, 0, lw, fw), kFlag, "friction");
    found += CompareWithReference(g, ref, l);
  }
  EXPECT_GT(found, 300); // most of the 600-odd searches find a path
}

// The search's queue keeps costs in buckets of a width taken from the
// smallest and largest step; on larger grids, with steps of every scale,
// with steps that span more buckets than it keeps (cheap steps then land in
// the bucket being emptied), and with costs too large for buckets at all, the
// order of settling must stay that of one heap.
TEST(ExactPath, MatchesAPlainDijkstraAtEveryScaleOfSteps) {
  std::mt19937 g(4242);
  struct tCase {
    float lo, hi; // friction drawn log-uniformly in [lo, hi], or 0 / missing
    double fw, lw;
  };
  const tCase cases[] = {
      {0.25f, 8.0f, 1, 0},     // a few buckets per step
      {0.001f, 1000.0f, 1, 0}, // a million to one: fewer buckets than steps need
      {1e-7f, 1e10f, 1, 0},    // costs beyond what buckets can number
      {1.0f, 3.0f, 1e300, 0},  // costs near the largest double
      {0.5f, 2.0f, 0.001, 7},  // the length dominates
  };
  int found = 0;
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE(round);
    const tCase& k = cases[round % 5];
    const int32_t rows = 20 + static_cast<int32_t>(g() % 30),
                  cols = 20 + static_cast<int32_t>(g() % 30);
    std::uniform_real_distribution<double> u(std::log(k.lo), std::log(k.hi));
    std::uniform_int_distribution<int> kind(0, 19);
    tMatrixOfSingle f(rows, std::vector<float>(cols));
    for (auto& r : f)
      for (float& x : r) {
        const int c = kind(g);
        // Whole numbers make ties, zeros make steps that add nothing.
        x = c == 0   ? kFlag
            : c == 1 ? 0.0f
            : c < 8  ? std::round(static_cast<float>(std::exp(u(g))))
                     : static_cast<float>(std::exp(u(g)));
      }
    const tReference ref{f, nullptr, 0, 0, k.fw, k.lw};
    const tExactLandscape l(Rules(f, nullptr, 0, 0, k.lw, k.fw), kFlag, "friction");
    for (int search = 0; search < 3; ++search) found += CompareWithReference(g, ref, l);
  }
  EXPECT_GT(found, 250);
}

// Zero costs of either sign tie as equals: a -0 must not order as a huge key.
TEST(ExactPath, SignedZeroCostsTieAsEquals) {
  std::mt19937 g(5);
  int found = 0;
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    tMatrixOfSingle f(6, std::vector<float>(7));
    for (auto& r : f)
      for (float& x : r) x = g() % 2 == 0 ? 0.0f : -0.0f;
    const tReference ref{f, nullptr, 0, 0, 1, -0.0};
    const tExactLandscape l(Rules(f, nullptr, 0, 0, -0.0, 1), kFlag, "friction");
    found += CompareWithReference(g, ref, l);
  }
  EXPECT_GT(found, 60);
}

TEST(ExactPath, DirectionAndToleranceRestrictTheSteps) {
  TempDir dir;
  std::mt19937 g(77);
  int found = 0;
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const int32_t rows = 3 + static_cast<int32_t>(g() % 9),
                  cols = 3 + static_cast<int32_t>(g() % 9);
    const tMatrixOfSingle f = TieFriction(g, rows, cols);
    tLiveRaster topo;
    LoadFlatTopography(topo, dir.file("dem" + std::to_string(round)), rows, cols);
    // A slope along the columns, with bumps and some cells without data.
    std::uniform_int_distribution<int> bump(0, 2), miss(0, 11);
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t c = 0; c < cols; ++c)
        topo.SetCell(r, c, miss(g) == 0 ? -5.0f : static_cast<float>(c + bump(g)) * 0.5f);
    const int direction = round % 2 == 0 ? 1 : -1;
    const double tolerance = (round / 2) % 3 * 0.5;
    const tReference ref{f, &topo, direction, tolerance, 1, 0.5};
    const tExactLandscape l(Rules(f, &topo, direction * 3, tolerance, 0.5, 1), kFlag, "friction");
    found += CompareWithReference(g, ref, l);
  }
  EXPECT_GT(found, 60);
}

// The search keeps its own copy of the map in tiles of up to 64 x 64 cells,
// framed by cells that cannot be passed. Sides just under, at and over a
// tile's (with its frame), several tiles, and strips one or two cells
// thin: paths must cross tile edges as they cross any other cells. Whole
// frictions make ties, missing, NaN and infinite cells block, and every
// other map follows a slope rule with cells without topography.
TEST(ExactPath, MatchesAPlainDijkstraAcrossTiles) {
  TempDir dir;
  std::mt19937 g(6464);
  const std::pair<int32_t, int32_t> sizes[] = {{62, 62}, {63, 65}, {64, 130},  {127, 70},
                                               {1, 200}, {200, 2}, {150, 129}, {66, 1}};
  std::uniform_int_distribution<int> kind(0, 15), bump(0, 2), miss(0, 11);
  int found = 0, round = 0;
  for (const auto& [rows, cols] : sizes)
    for (const bool slope : {false, true}) {
      SCOPED_TRACE(testing::Message() << rows << " x " << cols << (slope ? ", slope" : ""));
      tMatrixOfSingle f(rows, std::vector<float>(cols));
      for (auto& r : f)
        for (float& x : r) {
          const int k = kind(g);
          x = k == 0   ? kFlag
              : k == 1 ? std::numeric_limits<float>::quiet_NaN()
              : k == 2 ? std::numeric_limits<float>::infinity()
                       : static_cast<float>(k % 4);
        }
      tLiveRaster topo;
      if (slope) {
        LoadFlatTopography(topo, dir.file("dem" + std::to_string(round++)), rows, cols);
        for (int32_t r = 0; r < rows; ++r)
          for (int32_t c = 0; c < cols; ++c)
            topo.SetCell(r, c, miss(g) == 0 ? -5.0f : static_cast<float>(r + c + bump(g)) * 0.5f);
      }
      const int direction = slope ? 1 : 0;
      const tReference ref{f, slope ? &topo : nullptr, direction, 0.5, 1, 0.5};
      const tExactLandscape l(Rules(f, slope ? &topo : nullptr, direction, 0.5, 0.5, 1), kFlag,
                              "friction");
      for (int search = 0; search < 3; ++search) found += CompareWithReference(g, ref, l);
    }
  EXPECT_GT(found, 60);
}

// A landscape that takes over the run's matrix frees it band by band as its
// copy fills; the copy must hold every cell that can be passed with the
// map's value and NaN for the others (missing by the map's flag, which may
// be any value, NaN, infinite), whatever the sides and bands, and search
// and cost paths as one built from a matrix it leaves alone.
TEST(ExactPath, ATakenMatrixGivesTheSameLandscape) {
  std::mt19937 g(31);
  int passable = 0, cells = 0;
  const std::pair<int32_t, int32_t> sizes[] = {{1, 1},   {3, 9},   {62, 62}, {63, 65},
                                               {130, 7}, {200, 2}, {1, 300}};
  for (const auto& [rows, cols] : sizes)
    for (const std::optional<float> flag :
         {std::optional<float>(kFlag), std::optional<float>(2), std::optional<float>()}) {
      SCOPED_TRACE(testing::Message() << rows << " x " << cols << ", flag "
                                      << (flag ? std::to_string(*flag) : "none"));
      std::uniform_int_distribution<int> kind(0, 15);
      tMatrixOfSingle f(rows, std::vector<float>(cols));
      for (auto& r : f)
        for (float& x : r) {
          const int k = kind(g);
          x = k == 0   ? (flag ? *flag : 5.0f)
              : k == 1 ? std::numeric_limits<float>::quiet_NaN()
              : k == 2 ? std::numeric_limits<float>::infinity()
              : k == 3 ? -0.0f
                       : static_cast<float>(k) * 0.25f;
        }
      const tExactLandscape kept(Rules(f, nullptr, 0, 0, 0.5, 1), flag, "friction");
      cells += rows * cols;
      tMatrixOfSingle owned = f;
      const tExactLandscape taken(std::move(owned), Rules(f, nullptr, 0, 0, 0.5, 1), flag,
                                  "friction");
      EXPECT_TRUE(owned.empty());
      ASSERT_EQ(taken.Rows(), rows);
      ASSERT_EQ(taken.Cols(), cols);
      for (int32_t r = 0; r < rows; ++r)
        for (int32_t c = 0; c < cols; ++c) {
          const float v = f[r][c];
          if (std::isfinite(v) && !(flag && v == *flag)) {
            ++passable;
            // Bit for bit: a -0 stays -0, as the path costs summed it before.
            EXPECT_EQ(std::bit_cast<uint32_t>(taken.Friction(r, c)), std::bit_cast<uint32_t>(v))
                << r << "," << c;
          } else {
            EXPECT_TRUE(std::isnan(taken.Friction(r, c))) << r << "," << c;
          }
          EXPECT_EQ(std::bit_cast<uint32_t>(kept.Friction(r, c)),
                    std::bit_cast<uint32_t>(taken.Friction(r, c)));
        }
      const tReference ref{f, nullptr, 0, 0, 1, 0.5, flag};
      std::uniform_int_distribution<int32_t> rr(0, rows - 1), cc(0, cols - 1);
      for (int search = 0; search < 3; ++search) {
        const t2DiPoint s{rr(g), cc(g)};
        const std::vector<t2DiPoint> targets = {{rr(g), cc(g)}, {rr(g), cc(g)}, s};
        const std::vector<tFoundPath> a = FindExactLeastCostPaths(taken, s, targets),
                                      b = FindExactLeastCostPaths(kept, s, targets);
        for (std::size_t k = 0; k < targets.size(); ++k) {
          EXPECT_EQ(a[k].Path, b[k].Path);
          EXPECT_EQ(a[k].Cost, b[k].Cost);
          EXPECT_EQ(a[k].Path, ref.path(s, targets[k]));
          EXPECT_EQ(a[k].Cost, a[k].Path.empty() ? -1 : ref.costOf(a[k].Path));
        }
      }
    }
  EXPECT_GT(passable, cells / 2);
}

// A map refused while it is taken over is freed all the same: the run ends
// there and must not keep the matrix.
TEST(ExactPath, ARefusedTakenMatrixIsFreed) {
  tMatrixOfSingle f(70, std::vector<float>(9, 1.0f));
  f[66][4] = -3;
  tMatrixOfSingle owned = f;
  try {
    tExactLandscape(std::move(owned), Rules(f, nullptr, 0, 0, 0, 1), kFlag, "fr");
    ADD_FAILURE() << "no error";
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Exact least-cost path: the friction map fr holds a negative value "
                           "(-3 at row 66, column 4).");
  }
  EXPECT_TRUE(owned.empty());
}

// The arrays of the search: zeroed, writable to their last byte, also when
// they are mapped on huge-page boundaries (2 MB and more), and moved whole.
TEST(ExactPath, ZeroedCellsAreZeroAndWholeAtEverySize) {
  constexpr std::size_t kMB = std::size_t{1} << 20;
  for (const std::size_t bytes : {std::size_t{0}, std::size_t{1}, std::size_t{4097}, 2 * kMB - 1,
                                  2 * kMB, 2 * kMB + 1, 5 * kMB + 3}) {
    SCOPED_TRACE(bytes);
    tZeroedCells a(bytes);
    uint8_t* p = a.As<uint8_t>();
    ASSERT_NE(p, nullptr);
    const std::size_t last = bytes > 0 ? bytes - 1 : 0;
    bool zero = p[last] == 0;
    for (std::size_t i = 0; i < bytes; i += 4093) zero = zero && p[i] == 0;
    EXPECT_TRUE(zero);
    for (std::size_t i = 0; i < bytes; i += 4093) p[i] = static_cast<uint8_t>(i % 251 + 1);
    p[last] = 7;
    tZeroedCells b(std::move(a));
    EXPECT_EQ(a.As<uint8_t>(), nullptr);
    tZeroedCells c(64);
    c = std::move(b);
    const uint8_t* q = c.As<uint8_t>();
    EXPECT_EQ(q, p);
    bool kept = q[last] == 7;
    for (std::size_t i = 0; i + 1 < bytes; i += 4093) kept = kept && q[i] == i % 251 + 1;
    EXPECT_TRUE(kept);
  }
}

TEST(ExactPath, EndsCutOffMissingOrEqual) {
  // A wall of missing cells across column 2 of a 4 x 5 grid.
  tMatrixOfSingle f(4, std::vector<float>(5, 1.0f));
  for (auto& r : f) r[2] = kFlag;
  const tExactLandscape l(Rules(f, nullptr, 0, 0, 0, 1), kFlag, "friction");
  const t2DiPoint targets[] = {{3, 4}, {0, 2}, {3, 0}, {0, 0}};
  const std::vector<tFoundPath> got = FindExactLeastCostPaths(l, {0, 0}, targets);
  for (int k : {0, 1}) { // behind the wall, and on it: the no-path result
    EXPECT_TRUE(got[k].Path.empty()) << k;
    EXPECT_EQ(got[k].Cost, -1) << k;
    EXPECT_EQ(got[k].Length, 0u) << k;
  }
  EXPECT_EQ(got[2].Path, (t2DiPoints{{0, 0}, {1, 0}, {2, 0}, {3, 0}}));
  EXPECT_EQ(got[2].Cost, 4);
  // The same cell: the two-cell path of the Monte-Carlo search, both ends counted.
  EXPECT_EQ(got[3].Path, (t2DiPoints{{0, 0}, {0, 0}}));
  EXPECT_EQ(got[3].Length, 2u);
  EXPECT_EQ(got[3].Cost, 2);

  // Opening one cell of the wall lets the path through it.
  f[3][2] = 5;
  const tExactLandscape open(Rules(f, nullptr, 0, 0, 0, 1), kFlag, "friction");
  const tFoundPath p = FindExactLeastCostPaths(open, {0, 0}, std::vector<t2DiPoint>{{3, 4}})[0];
  EXPECT_EQ(p.Cost, 10); // six cells, one of them the opened 5
  ASSERT_EQ(p.Length, 6u);
  EXPECT_EQ(p.Path[3], (t2DiPoint{3, 2}));

  // Outside the grid: the Monte-Carlo search's error.
  try {
    FindExactLeastCostPaths(l, {0, 0}, std::vector<t2DiPoint>{{4, 0}});
    ADD_FAILURE() << "no error";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Error in Least-Cost Path: path ends are out of map:(0,0),(4,0)");
  }
}

TEST(ExactPath, StatsCountTheCellsSettled) {
  // Uniform 3 x 3 grid: the source (0, 0) costs 1, its three neighbours 2 and
  // the five cells two steps away 3, settled in row-major order among equals.
  const tMatrixOfSingle f(3, std::vector<float>(3, 1.0f));
  const tExactLandscape l(Rules(f, nullptr, 0, 0, 0, 1), kFlag, "friction");
  tExactSearchStats stats;
  stats.Settled = 99;
  const std::vector<t2DiPoint> corner = {{0, 2}}, far = {{2, 2}};
  const tFoundPath toCorner = FindExactLeastCostPaths(l, {0, 0}, corner, &stats)[0];
  EXPECT_EQ(stats.Settled, 5u); // (0,0), (0,1), (1,0), (1,1), then (0,2) first of cost 3
  EXPECT_EQ(toCorner.Path, FindExactLeastCostPaths(l, {0, 0}, corner)[0].Path);
  FindExactLeastCostPaths(l, {0, 0}, far, &stats);
  EXPECT_EQ(stats.Settled, 9u);

  // Missing cells are never settled; an unreachable target settles all that is reachable.
  tMatrixOfSingle walled(3, std::vector<float>(4, 1.0f));
  for (auto& r : walled) r[2] = kFlag;
  const tExactLandscape w(Rules(walled, nullptr, 0, 0, 0, 1), kFlag, "friction");
  const tFoundPath none = FindExactLeastCostPaths(w, {0, 0}, std::vector<t2DiPoint>{{2, 3}},
                                                  &stats)[0];
  EXPECT_TRUE(none.Path.empty());
  EXPECT_EQ(stats.Settled, 6u);
  // No search at all (the target is the source): nothing settled, also not a stale count.
  FindExactLeastCostPaths(w, {0, 0}, std::vector<t2DiPoint>{{0, 0}}, &stats);
  EXPECT_EQ(stats.Settled, 0u);
}

TEST(ExactPath, RefusesCriteriaWithoutGraphSearchAndNegativeValues) {
  EXPECT_NO_THROW(CheckExactCriterion(tMinimiseCriterion::FrictionSum));
  for (int32_t c : {1, 2}) {
    try {
      CheckExactCriterion(static_cast<tMinimiseCriterion>(c));
      ADD_FAILURE() << c;
    } catch (const EInvalidOperation& e) {
      EXPECT_NE(std::string(e.what()).find(MinimiseCriteria[c]), std::string::npos) << e.what();
    }
  }
  tMatrixOfSingle f(2, std::vector<float>(3, 1.0f));
  f[1][2] = kFlag; // missing values are not checked, nor non-numbers
  f[0][0] = -std::numeric_limits<float>::infinity();
  f[0][1] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_NO_THROW(tExactLandscape(Rules(f, nullptr, 0, 0, 0, 1), kFlag, "fr"));
  f[1][1] = -0.5f;
  try {
    tExactLandscape(Rules(f, nullptr, 0, 0, 0, 1), kFlag, "fr");
    ADD_FAILURE();
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Exact least-cost path: the friction map fr holds a negative value "
                           "(-0.5 at row 1, column 1).");
  }
  f[1][1] = 1;
  try {
    tExactLandscape(Rules(f, nullptr, 0, 0, -2, 1), kFlag, "fr");
    ADD_FAILURE();
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Exact least-cost path: the length weight must not be negative (-2).");
  }
  EXPECT_THROW(tExactLandscape(Rules(f, nullptr, 0, 0, 0, -1), kFlag, "fr"), EInvalidOperation);
  // An infinite weight would make 0 x infinity a NaN cost.
  EXPECT_THROW(tExactLandscape(Rules(f, nullptr, 0, 0, 0, std::numeric_limits<double>::infinity()),
                               kFlag, "fr"),
               EInvalidOperation);
}

TEST(ExactPath, NeverCostsMoreThanTheMonteCarloSearch) {
  tRaster frictionMap(std::string(STRAVEX_EXAMPLES_DIR) + "/landscape/friction");
  tMatrixOfSingle f;
  frictionMap.ReadSingleMatrix(f);
  tLiveRaster dem(std::string(STRAVEX_EXAMPLES_DIR) + "/landscape/dem");
  dem.LoadData();
  std::mt19937 g(5);
  std::uniform_int_distribution<int32_t> rr(0, static_cast<int32_t>(f.size()) - 1),
      cc(0, static_cast<int32_t>(f[0].size()) - 1);
  int better = 0, compared = 0;
  for (int k = 0; k < 24; ++k) {
    const double lw = k % 2;
    const int direction = k % 3 == 2 ? 1 : 0;
    const double tolerance = 5;
    const t2DiPoint a{rr(g), cc(g)}, b{rr(g), cc(g)};
    const tExactLandscape l(Rules(f, &dem, direction, tolerance, lw, 1), std::nullopt, "friction");
    const tFoundPath e = FindExactLeastCostPaths(l, a, std::vector<t2DiPoint>{b})[0];
    tRandomGenerator rng;
    rng.Seed(10, k);
    const long double cost =
        FindLeastCostPath({Rules(f, &dem, direction, tolerance, lw, 1), double(a.row),
                           double(a.col), double(b.row), double(b.col)},
                          rng)
            .Cost;
    if (cost < 0) continue; // no Monte-Carlo candidate to compare with
    ++compared;
    ASSERT_GE(e.Cost, 0) << k; // Monte-Carlo found one: a path exists
    EXPECT_LE(e.Cost, cost) << k;
    better += e.Cost < cost;
  }
  EXPECT_GE(compared, 12);
  EXPECT_GT(better, compared / 2); // the random candidates rarely reach the optimum
}
