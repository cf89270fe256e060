#include "paths/CostPath.h"

#include "FlatTopography.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "base/RandomFunctions.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace stravex;
using stravex::test::LoadFlatTopography;
using stravex::test::TempDir;

namespace {

constexpr long double kMax = 1.1E4932L;

tMatrixOfSingle RandomFriction(int32_t rows, int32_t cols, unsigned seed) {
  std::mt19937 g(seed);
  std::uniform_real_distribution<float> u(0.5f, 20.0f);
  tMatrixOfSingle m(rows, std::vector<float>(cols));
  for (auto& r : m)
    for (float& v : r) v = u(g);
  return m;
}

bool SameState(const tRandomGenerator& a, const tRandomGenerator& b) {
  return a.State() == b.State();
}

struct tResult {
  t2DiPoints path;
  long double cost = 0;
  uint32_t length = 0;
};

struct tArgs {
  int32_t candidates = 40;
  double tolerance = 0;
  int32_t direction = 0;
  const tLiveRaster* topo = nullptr;
  double lengthWeight = 0;
  double frictionWeight = 1;
  int32_t criterion = 0; // as the settings store it, so that a value outside the list is possible
};
constexpr int32_t kSum = 0, kMean = 1, kSD = 2;

tResult Search(tRandomGenerator& rng, const tMatrixOfSingle& f, const tArgs& a, double r1,
               double c1, double r2, double c2) {
  tPathRequest q;
  q.Rules.Friction = &f;
  q.Rules.Criterion = static_cast<tMinimiseCriterion>(a.criterion);
  q.Rules.FrictionWeight = a.frictionWeight;
  q.Rules.LengthWeight = a.lengthWeight;
  q.Rules.Topography = a.topo;
  q.Rules.Direction = SlopeDirectionOf(a.direction);
  q.Rules.Tolerance = a.tolerance;
  q.Row1 = r1;
  q.Col1 = c1;
  q.Row2 = r2;
  q.Col2 = c2;
  q.Candidates = a.candidates;
  const tFoundPath found = FindLeastCostPath(q, rng);
  return {found.Path, found.Cost, found.Length};
}

// The candidates of a search seeded (7, seedB), one by one: a search of one
// candidate draws exactly what one candidate of a longer search draws.
std::vector<tResult> Candidates(tRandomGenerator& rng, const tMatrixOfSingle& f, tArgs a,
                                int32_t seedB, double r1, double c1, double r2, double c2) {
  rng.Seed(7, seedB);
  std::vector<tResult> out(a.candidates);
  a.candidates = 1;
  for (tResult& r : out) r = Search(rng, f, a, r1, c1, r2, c2);
  return out;
}

// --- An independent version: a linked list of nodes, as the data model has it ---

struct tRefNode {
  double row, col;
  tRefNode* next;
};

void FreeList(tRefNode* n) {
  while (n) delete std::exchange(n, n->next);
}

int Cell(double v) { return int(std::nearbyint(v)); }

struct tRefBuild {
  tRandomGenerator& rng;
  double rows, cols;
  int depth = 0;
  uint32_t counter = 2;

  void Subdivide(tRefNode* a, tRefNode* b) {
    const double dr = b->row - a->row, dc = b->col - a->col;
    if (dc * dc + dr * dr <= 2) return;
    ++depth;
    const double mr = std::nearbyint((a->row + b->row) / 2);
    const double mc = std::nearbyint((a->col + b->col) / 2);
    double nr, nc;
    do {
      const double u1 = rng.Uniform(), u2 = rng.Uniform();
      nr = std::nearbyint(mr + (2 * u1 - 1) * (a->col - b->col) / depth);
      nc = std::nearbyint(mc + (2 * u2 - 1) * (b->row - a->row) / depth);
    } while (!(nr >= 0 && nr <= rows - 1 && nc >= 0 && nc <= cols - 1));
    ++counter;
    tRefNode* n = a->next = new tRefNode{nr, nc, b};
    Subdivide(a, n);
    Subdivide(n, b);
    --depth;
  }
};

// The reference's inner cells from (r1, c1) to (r2, c2), subdivided below `depth`.
t2DiPoints RefSubdivide(tRandomGenerator& rng, double r1, double c1, double r2, double c2,
                        double rows, double cols, int depth) {
  tRefNode last{r2, c2, nullptr}, first{r1, c1, &last};
  tRefBuild b{rng, rows, cols};
  b.depth = depth;
  b.Subdivide(&first, &last);
  t2DiPoints inner;
  for (tRefNode* n = first.next; n != &last;) {
    inner.push_back({Cell(n->row), Cell(n->col)});
    delete std::exchange(n, n->next);
  }
  return inner;
}

tResult RefSearch(tRandomGenerator& rng, const tMatrixOfSingle& f, const tArgs& a, double r1,
                  double c1, double r2, double c2) {
  tResult res;
  res.cost = -1;
  const tLiveRaster* topo = a.topo;
  auto z = [&](double r, double c) { return double(float(topo->GetCell(Cell(r), Cell(c)))); };
  if (topo && a.direction != 0 && (z(r2, c2) - z(r1, c1)) * a.direction < 0) return res;
  const int d = (a.direction > 0) - (a.direction < 0);
  tRefNode* best = nullptr;
  long double bestCost = kMax;
  uint32_t bestLen = 0;
  for (int i = 0; i < a.candidates; ++i) {
    tRefNode* first = new tRefNode{r1, c1, new tRefNode{r2, c2, nullptr}};
    tRefBuild b{rng, double(f.size()), double(f[0].size())};
    b.Subdivide(first, first->next);
    bool valid = true;
    for (tRefNode* p = first; topo && d != 0 && p->next && valid; p = p->next)
      valid = ((z(p->next->row, p->next->col) - z(p->row, p->col)) + d * a.tolerance) * d >= 0 &&
              !topo->IsFlagged(Cell(p->row), Cell(p->col));
    long double S = 0, Q = 0, value;
    uint32_t n = 0;
    bool saturated = false;
    for (tRefNode* p = first; valid && p && !(a.criterion == 2 && saturated); p = p->next) {
      const long double v = f[Cell(p->row)][Cell(p->col)];
      ++n;
      if (v < kMax - S)
        S += v;
      else
        S = kMax, saturated = true;
      if (v * v < kMax - Q)
        Q += v * v;
      else
        Q = kMax, saturated = true;
    }
    if (a.criterion == 0)
      value = S;
    else if (a.criterion == 1)
      value = S / n;
    else if (saturated)
      value = kMax;
    else
      value = std::sqrt(std::max(0.0L, Q / n - (S / n) * (S / n)));
    const long double c = value * a.frictionWeight + (long double)b.counter * a.lengthWeight;
    if (valid && (c < bestCost || (c == bestCost && b.counter < bestLen))) {
      std::swap(best, first);
      bestCost = c;
      bestLen = b.counter;
    }
    FreeList(first);
  }
  for (tRefNode* p = best; p; p = p->next) res.path.push_back({Cell(p->row), Cell(p->col)});
  if (best) res.cost = bestCost, res.length = bestLen;
  FreeList(best);
  return res;
}

void ExpectSame(const tResult& got, const tResult& ref) {
  EXPECT_EQ(got.path, ref.path);
  EXPECT_EQ(got.length, ref.length);
  EXPECT_EQ(got.cost, ref.cost);
}

void ExpectConnected(const tResult& r, t2DiPoint a, t2DiPoint b) {
  ASSERT_EQ(r.path.size(), r.length);
  ASSERT_GE(r.path.size(), 2u);
  EXPECT_EQ(r.path.front(), a);
  EXPECT_EQ(r.path.back(), b);
  for (size_t i = 1; i < r.path.size(); ++i) {
    EXPECT_LE(std::abs(r.path[i].row - r.path[i - 1].row), 1);
    EXPECT_LE(std::abs(r.path[i].col - r.path[i - 1].col), 1);
  }
}

} // namespace

TEST(CostPath, MatchesLinkedListVersion) {
  tRandomGenerator rng;
  const tMatrixOfSingle f = RandomFriction(37, 53, 11);
  const struct { double lw, fw; } weights[] = {{0, 1}, {1, 0}, {0.5, 2}, {1, 1}};
  std::mt19937 g(5);
  std::uniform_int_distribution<int> row(0, 36), col(0, 52);
  for (int seed = 0; seed < 24; ++seed) {
    const double r1 = row(g), c1 = col(g), r2 = row(g), c2 = col(g);
    for (int32_t crit = 0; crit <= 2; ++crit) {
      tArgs a;
      a.criterion = crit;
      a.lengthWeight = weights[(seed + crit) % 4].lw;
      a.frictionWeight = weights[(seed + crit) % 4].fw;
      rng.Seed(seed, crit);
      const tResult ref = RefSearch(rng, f, a, r1, c1, r2, c2);
      const tRandomGenerator afterRef = rng;
      rng.Seed(seed, crit);
      const tResult got = Search(rng, f, a, r1, c1, r2, c2);
      SCOPED_TRACE(testing::Message() << "seed " << seed << " criterion " << crit);
      ExpectSame(got, ref);
      EXPECT_TRUE(SameState(rng, afterRef));
      ExpectConnected(got, {int32_t(r1), int32_t(c1)}, {int32_t(r2), int32_t(c2)});
    }
  }
  // Calls in a row go on with the generator (and reuse the buffers).
  tArgs a;
  rng.Seed(3, 3);
  const tResult ref1 = RefSearch(rng, f, a, 0, 0, 36, 52),
                ref2 = RefSearch(rng, f, a, 36, 0, 0, 52);
  rng.Seed(3, 3);
  ExpectSame(Search(rng, f, a, 0, 0, 36, 52), ref1);
  ExpectSame(Search(rng, f, a, 36, 0, 0, 52), ref2);
  // Ends that are not whole cells, and a grid too wide for integer nodes.
  for (int seed = 0; seed < 6; ++seed) {
    const double r1 = row(g) + 0.5, c1 = col(g) - 0.25, r2 = row(g) * 0.5, c2 = col(g) + 0.375;
    rng.Seed(seed, 77);
    const tResult ref = RefSearch(rng, f, a, r1, c1, r2, c2);
    rng.Seed(seed, 77);
    ExpectSame(Search(rng, f, a, r1, c1, r2, c2), ref);
  }
  const tMatrixOfSingle wide = RandomFriction(3, (1 << 20) + 3, 2);
  rng.Seed(8, 8);
  const tResult refWide = RefSearch(rng, wide, a, 0, 1048000, 2, 1048060);
  rng.Seed(8, 8);
  ExpectSame(Search(rng, wide, a, 0, 1048000, 2, 1048060), refWide);
  // A grid three cells high with long paths: most draws fall outside and
  // are drawn again, and every candidate outgrows the buffers' first size.
  const tMatrixOfSingle strip = RandomFriction(3, 2600, 4);
  a.candidates = 3;
  rng.Seed(9, 9);
  const tResult refStrip = RefSearch(rng, strip, a, 1, 0, 1, 2599);
  const tRandomGenerator afterStrip = rng;
  EXPECT_GE(refStrip.length, 2600u);
  rng.Seed(9, 9);
  ExpectSame(Search(rng, strip, a, 1, 0, 1, 2599), refStrip);
  EXPECT_TRUE(SameState(rng, afterStrip));
  // SubdividePath on its own, below a given depth, on whole and real ends.
  for (auto [r1, c1, r2, c2] : {std::tuple{2.0, 3.0, 30.0, 47.0}, {20.5, 1.0, 3.0, 40.25}}) {
    rng.Seed(4, 4);
    const t2DiPoints refInner = RefSubdivide(rng, r1, c1, r2, c2, 37, 53, 2);
    const tRandomGenerator afterSub = rng;
    rng.Seed(4, 4);
    t2DiPoints inner{{-1, -1}}; // appended to
    tSubdivision s{rng, 37, 53, 2, inner};
    SubdividePath(s, r1, c1, r2, c2);
    EXPECT_EQ(s.depth, 2);
    ASSERT_GT(refInner.size(), 10u);
    EXPECT_EQ(inner.front(), (t2DiPoint{-1, -1}));
    EXPECT_EQ(t2DiPoints(inner.begin() + 1, inner.end()), refInner);
    EXPECT_TRUE(SameState(rng, afterSub));
    EXPECT_THROW(SubdividePath(s, r1, c1, 37, c2), EAssertionFailed);
  }
  // Displacements landing exactly on half cells: the first draw is set to
  // 0.25, so the top midpoint's row is r1 + 1.5, which goes to r1 + 2.
  a.candidates = 1;
  for (auto [r1, c1] : {std::pair{0, 0}, {10, 10}}) {
    rng.SetState(0, 0, 0, 0, 1u << 30);
    const tResult ref = RefSearch(rng, f, a, r1, c1, r1 + 2, c1 + 1);
    ASSERT_GE(ref.path.size(), 3u);
    EXPECT_EQ(ref.path[ref.path.size() - 2], (t2DiPoint{r1 + 2, c1 + 1}));
    rng.SetState(0, 0, 0, 0, 1u << 30);
    ExpectSame(Search(rng, f, a, r1, c1, r1 + 2, c1 + 1), ref);
  }
}

// Inputs on which shortcuts of the search must give way: friction sums that
// round (the path order then counts), zero and negative frictions,
// generators that give an x0 of 0 (a factor of exactly -1), and depths
// beyond the search's tables.
TEST(CostPath, MatchesLinkedListVersionOnEdgeInputs) {
  tRandomGenerator rng;
  std::mt19937 g(21);
  // Magnitudes from 2^-30 to 2^30: sums of double precision round.
  tMatrixOfSingle wide = RandomFriction(37, 53, 12);
  std::uniform_int_distribution<int> exponent(-30, 30);
  for (auto& r : wide)
    for (float& v : r) v = std::ldexp(v, exponent(g));
  // A few values, zeros and negatives among them: sums exact.
  tMatrixOfSingle few(37, std::vector<float>(53));
  const float values[] = {-3.5f, 0.0f, 1.25f, 7.0f, 0.0f};
  std::uniform_int_distribution<int> pick(0, 4);
  for (auto& r : few)
    for (float& v : r) v = values[pick(g)];
  auto same = [&](const tMatrixOfSingle& f, tArgs a, auto seedGenerator, double r1, double c1,
                  double r2, double c2) {
    seedGenerator();
    const tResult ref = RefSearch(rng, f, a, r1, c1, r2, c2);
    const tRandomState afterRef = rng.State();
    seedGenerator();
    ExpectSame(Search(rng, f, a, r1, c1, r2, c2), ref);
    EXPECT_EQ(rng.State(), afterRef);
  };
  for (int seed = 0; seed < 6; ++seed)
    for (int32_t crit = 0; crit <= 2; ++crit) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " criterion " << crit);
      tArgs a;
      a.criterion = crit;
      a.lengthWeight = 0.25;
      auto seeded = [&] { rng.Seed(seed, 40 + crit); };
      same(wide, a, seeded, 1, 2, 35, 50);
      same(few, a, seeded, 30, 1, 2, 51);
    }
  // Every draw 0 (the state stays 0): every factor is -1, which moves nodes
  // at the edge of the depths where displacements round away (ends chosen so
  // that no node falls outside, which would be drawn again for ever). And a
  // state whose first draw is 0, the rest as usual: x3 solves the step for 0.
  constexpr uint32_t kA3 = 2111111111u;
  uint32_t inverse = kA3; // of kA3 modulo 2^32, by Newton's iteration
  for (int i = 0; i < 5; ++i) inverse *= 2 - kA3 * inverse;
  const uint32_t x0 = 123456789u, x1 = 987654321u, x2 = 555555555u, carry = 77u;
  const uint32_t x3 = (0u - (1492u * x2 + 1776u * x1 + 5115u * x0 + carry)) * inverse;
  const tRandomState zeroFirst{x0, x1, x2, x3, carry};
  tRandomState next = zeroFirst;
  StepRandom(next);
  ASSERT_EQ(next.x0, 0u);
  const tMatrixOfSingle f = RandomFriction(37, 53, 11);
  const struct {
    tRandomState state;
    double r1, c1, r2, c2;
  } zeroCases[] = {{{}, 3, 12, 4, 36},
                   {{}, 0, 15, 0, 40},
                   {zeroFirst, 10, 20, 20, 30},
                   {zeroFirst, 12, 3, 25, 48}};
  for (const auto& z : zeroCases) {
    SCOPED_TRACE(testing::Message() << "x3 " << z.state.x3 << " from " << z.r1 << "," << z.c1);
    same(
        f, tArgs{}, [&] { rng.SetState(z.state); }, z.r1, z.c1, z.r2, z.c2);
  }
  // SubdividePath far below the depths the search tabulates.
  for (const tRandomState& s : {tRandomState{1, 2, 3, 4, 5}, zeroFirst}) {
    rng.SetState(s);
    const t2DiPoints refInner = RefSubdivide(rng, 4, 2, 390, 380, 400, 400, 70);
    const tRandomState afterRef = rng.State();
    rng.SetState(s);
    t2DiPoints inner;
    tSubdivision sub{rng, 400, 400, 70, inner};
    SubdividePath(sub, 4, 2, 390, 380);
    EXPECT_EQ(inner, refInner);
    EXPECT_EQ(rng.State(), afterRef);
  }
}

TEST(CostPath, EndsDrawsAndRefusals) {
  tRandomGenerator rng;
  const tMatrixOfSingle f = RandomFriction(10, 8, 3);
  tArgs a;
  a.candidates = 500;
  // Same cell and neighbouring cells: two nodes, nothing drawn, the first kept.
  for (auto [r2, c2] : {std::pair{4, 4}, {5, 5}, {3, 4}, {5, 3}}) {
    const tRandomGenerator before = rng;
    const tResult r = Search(rng, f, a, 4, 4, r2, c2);
    EXPECT_EQ(r.path, (t2DiPoints{{4, 4}, {r2, c2}}));
    EXPECT_EQ(r.length, 2u);
    EXPECT_EQ(r.cost, (long double)f[4][4] + f[r2][c2]);
    EXPECT_TRUE(SameState(rng, before));
  }
  // Ends on the last row and column are accepted, and inserted nodes reach
  // them too; the same seed gives the same path.
  bool innerOnLastRow = false;
  for (int seed = 0; seed < 10; ++seed) {
    rng.Seed(seed, 0);
    const tResult r = Search(rng, f, a, 9, 0, 9, 7);
    ExpectConnected(r, {9, 0}, {9, 7});
    for (size_t i = 1; i + 1 < r.path.size(); ++i) innerOnLastRow |= r.path[i].row == 9;
    rng.Seed(seed, 0);
    EXPECT_EQ(Search(rng, f, a, 9, 0, 9, 7).path, r.path);
  }
  EXPECT_TRUE(innerOnLastRow);
  // Zero candidates: no path, nothing drawn.
  a.candidates = 0;
  const tRandomGenerator before = rng;
  const tResult none = Search(rng, f, a, 0, 0, 9, 7);
  EXPECT_TRUE(none.path.empty());
  EXPECT_EQ(none.length, 0u);
  EXPECT_EQ(none.cost, -1);
  EXPECT_TRUE(SameState(rng, before));
  // Refusals.
  a.candidates = -1;
  EXPECT_THROW(Search(rng, f, a, 0, 0, 9, 7), ERangeError);
  a.candidates = 1;
  a.criterion = 3;
  EXPECT_THROW(Search(rng, f, a, 0, 0, 9, 7), ERangeError);
  a.criterion = kSum;
  auto message = [&](double r1, double c1, double r2, double c2) -> std::string {
    try {
      Search(rng, f, a, r1, c1, r2, c2);
    } catch (const EAssertionFailed& e) {
      return e.what();
    }
    return "no error";
  };
  const std::string head = "Error in Least-Cost Path: path ends are out of map:";
  EXPECT_EQ(message(0, 0, 10, 3), head + "(0,0),(10,3)");
  EXPECT_EQ(message(0, -1, 9, 7), head + "(0,-1),(9,7)");
  EXPECT_EQ(message(2.5, 8, 1, 1), head + "(2.5,8),(1,1)");
  EXPECT_EQ(message(std::nan(""), 0, 1, 1).rfind(head, 0), 0u);
  EXPECT_THROW(Search(rng, tMatrixOfSingle{}, a, 0, 0, 0, 0), EAssertionFailed);
}

TEST(CostPath, TieRulesAndSaturation) {
  tRandomGenerator rng;
  tMatrixOfSingle f = RandomFriction(25, 25, 8);
  tArgs a;
  // Length only: the fewest nodes, the earliest among equals.
  a.frictionWeight = 0;
  a.lengthWeight = 1;
  std::vector<tResult> cands = Candidates(rng, f, a, 4, 2, 3, 21, 20);
  const tResult fewest = *std::min_element(cands.begin(), cands.end(),
                                           [](auto& x, auto& y) { return x.length < y.length; });
  EXPECT_GT(
      std::count_if(cands.begin(), cands.end(), [&](auto& c) { return c.length == fewest.length; }),
      1);
  rng.Seed(7, 4);
  EXPECT_EQ(Search(rng, f, a, 2, 3, 21, 20).path, fewest.path);
  // Mean on uniform friction without length weight: every cost ties, so the
  // same candidate wins.
  const tMatrixOfSingle flat(25, std::vector<float>(25, 3.0f));
  a.criterion = kMean;
  a.frictionWeight = 1;
  a.lengthWeight = 0;
  for (const tResult& c : Candidates(rng, flat, a, 4, 2, 3, 21, 20)) EXPECT_EQ(c.cost, 3.0L);
  rng.Seed(7, 4);
  EXPECT_EQ(Search(rng, flat, a, 2, 3, 21, 20).path, fewest.path);

  // An infinite friction on the first end saturates every candidate.
  f[2][3] = std::numeric_limits<float>::infinity();
  a.criterion = kSum;
  rng.Seed(7, 4);
  EXPECT_EQ(Search(rng, f, a, 2, 3, 21, 20).cost, -1); // equal to "nothing kept yet"
  a.frictionWeight = 0.5;
  rng.Seed(7, 4);
  tResult r = Search(rng, f, a, 2, 3, 21, 20);
  EXPECT_EQ(r.cost, 0.5L * kMax);
  EXPECT_EQ(r.path, fewest.path);
  // The mean walk goes on after saturation: the longest candidate is cheapest.
  a.criterion = kMean;
  a.frictionWeight = 1;
  cands = Candidates(rng, f, a, 4, 2, 3, 21, 20);
  auto longest = std::max_element(cands.begin(), cands.end(),
                                  [](auto& x, auto& y) { return x.length < y.length; });
  EXPECT_EQ(longest->cost, kMax / longest->length);
  rng.Seed(7, 4);
  EXPECT_EQ(Search(rng, f, a, 2, 3, 21, 20).length, longest->length);
  // A saturated SD rates as saturated (not NaN, not 0), and the length term
  // counts every node.
  a.criterion = kSD;
  a.frictionWeight = 0.5;
  rng.Seed(7, 4);
  EXPECT_EQ(Search(rng, f, a, 2, 3, 21, 20).cost, 0.5L * kMax);
  a.frictionWeight = 0;
  a.lengthWeight = 1;
  rng.Seed(7, 4);
  r = Search(rng, f, a, 2, 3, 21, 20);
  EXPECT_EQ(r.path, fewest.path);
  EXPECT_EQ(r.cost, (long double)fewest.length);
}

TEST(CostPath, TopographyConstraint) {
  tRandomGenerator rng;
  TempDir dir;
  const int32_t rows = 12, cols = 16;
  const tMatrixOfSingle f = RandomFriction(rows, cols, 21);
  tLiveRaster topo;
  LoadFlatTopography(topo, dir.file("dem"), rows, cols);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c) topo.SetCell(r, c, float(c + (r % 3) * 0.25));
  tArgs a;
  a.topo = &topo;
  a.direction = 1;

  // Climbing towards lower ground: no path, nothing drawn.
  rng.Seed(5, 5);
  const tRandomGenerator before = rng;
  tResult r = Search(rng, f, a, 6, 12, 6, 2);
  EXPECT_TRUE(r.path.empty());
  EXPECT_EQ(r.length, 0u);
  EXPECT_EQ(r.cost, -1);
  EXPECT_TRUE(SameState(rng, before));

  // A tolerance wider than any step, or direction 0, accepts every candidate.
  a.tolerance = 100;
  rng.Seed(5, 5);
  const tResult loose = Search(rng, f, a, 6, 2, 6, 12);
  for (auto [topoUsed, dirUsed] : {std::pair{false, 1}, {true, 0}}) {
    tArgs plain = a;
    plain.topo = topoUsed ? &topo : nullptr;
    plain.direction = dirUsed;
    rng.Seed(5, 5);
    EXPECT_EQ(Search(rng, f, plain, 6, 2, 6, 12).path, loose.path);
  }

  // Tolerance 0.5: no step of a path found goes against the direction by
  // more; some candidates are refused.
  a.tolerance = 0.5;
  for (int32_t d : {1, -1}) {
    a.direction = d;
    const double c1 = d > 0 ? 1 : 14, c2 = d > 0 ? 14 : 1;
    const std::vector<tResult> cands = Candidates(rng, f, a, 9, 5, c1, 7, c2);
    tArgs one = a;
    one.candidates = 1;
    rng.Seed(7, 9);
    int found = 0;
    for (const tResult& c : cands) { // each candidate accepted or refused alike
      EXPECT_EQ(c.path, RefSearch(rng, f, one, 5, c1, 7, c2).path);
      found += !c.path.empty();
    }
    EXPECT_GT(found, 0);
    EXPECT_LT(found, a.candidates);
    rng.Seed(7, 9);
    r = Search(rng, f, a, 5, c1, 7, c2);
    ASSERT_FALSE(r.path.empty());
    for (size_t k = 1; k < r.path.size(); ++k)
      EXPECT_GE((topo.GetCell(r.path[k].row, r.path[k].col) -
                 topo.GetCell(r.path[k - 1].row, r.path[k - 1].col)) *
                    d,
                -0.5);
    rng.Seed(7, 9);
    ExpectSame(r, RefSearch(rng, f, a, 5, c1, 7, c2));
  }

  // Missing data: the first end is tested, the last end never.
  a.direction = 1;
  a.tolerance = 100;
  topo.SetCell(6, 2, -5);
  EXPECT_TRUE(Search(rng, f, a, 6, 2, 6, 12).path.empty());
  topo.SetCell(6, 2, 2);
  topo.FlagValue = 50;
  topo.SetCell(6, 12, 50);
  r = Search(rng, f, a, 6, 2, 6, 12);
  ASSERT_FALSE(r.path.empty());
  EXPECT_EQ(r.path.back(), (t2DiPoint{6, 12}));
}

namespace {

// A topography map whose reads fail from a given read on, as a map on a
// failing disk might.
class tFailingTopography : public tLiveRaster {
public:
  double GetCell(int32_t row, int32_t col) const override {
    if (++reads > failAt) throw EInOutError("read failed");
    return tLiveRaster::GetCell(row, col);
  }
  mutable int64_t reads = 0;
  int64_t failAt = std::numeric_limits<int64_t>::max();
};

} // namespace

TEST(CostPath, GeneratorAfterAnError) {
  tRandomGenerator rng;
  TempDir dir;
  const int32_t rows = 30, cols = 40;
  const tMatrixOfSingle f = RandomFriction(rows, cols, 5);
  tFailingTopography topo;
  LoadFlatTopography(topo, dir.file("flat"), rows, cols);
  tArgs a;
  a.candidates = 8;
  a.topo = &topo;
  a.direction = 1; // flat ground: every candidate valid, one read per node

  // One candidate at a time: the generator after each and the reads each needs.
  tArgs one = a;
  one.candidates = 1;
  rng.Seed(6, 1);
  std::vector<tRandomState> after;
  std::vector<int64_t> reads;
  for (int i = 0; i < a.candidates; ++i) {
    topo.reads = 0;
    const tResult r = Search(rng, f, one, 2, 3, 27, 36);
    ASSERT_EQ(r.length, r.path.size());
    reads.push_back(topo.reads - 2); // the direction pre-check reads both ends
    after.push_back(rng.State());
  }
  // Reads fail half-way through the third candidate's slope test: the
  // generator stands after exactly the three candidates built, not where the
  // search's own run-ahead got to, nor where it started.
  topo.reads = 0;
  topo.failAt = 2 + reads[0] + reads[1] + reads[2] / 2;
  rng.Seed(6, 1);
  EXPECT_THROW(Search(rng, f, a, 2, 3, 27, 36), EInOutError);
  EXPECT_EQ(rng.State(), after[2]);

  // The next search in the thread is whole.
  topo.failAt = std::numeric_limits<int64_t>::max();
  rng.Seed(6, 1);
  const tResult ref = RefSearch(rng, f, a, 2, 3, 27, 36);
  EXPECT_EQ(rng.State(), after.back());
  rng.Seed(6, 1);
  ExpectSame(Search(rng, f, a, 2, 3, 27, 36), ref);
  EXPECT_EQ(rng.State(), after.back());
}
