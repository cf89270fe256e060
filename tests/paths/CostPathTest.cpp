#include "CostPath.h"

#include "Errors.h"
#include "RandomFunctions.h"
#include "Raster.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

using namespace stravex;
using stravex::test::TempDir;

namespace {

constexpr long double kMax = 1.1E4932L;

tMatrixOfSingle RandomFriction(int32_t rows, int32_t cols, unsigned seed, float lo = 0.5f,
                               float hi = 20.0f) {
  std::mt19937 g(seed);
  std::uniform_real_distribution<float> u(lo, hi);
  tMatrixOfSingle m(rows, std::vector<float>(cols));
  for (auto& r : m)
    for (float& v : r) v = u(g);
  return m;
}

// Two generators are in the same state when they draw the same numbers.
bool SameState(tRandomGenerator a, tRandomGenerator b) {
  for (int i = 0; i < 8; ++i)
    if (a.NextRaw() != b.NextRaw()) return false;
  return true;
}

std::unique_ptr<tLiveRaster> MakeLoadedMap(const TempDir& dir, const std::string& name,
                                           int32_t rows, int32_t cols, tFlagDef flagDef = fdNone,
                                           float flag = 0) {
  auto r = std::make_unique<tLiveRaster>();
  r->FileName = dir.file(name);
  r->Rows = rows;
  r->Columns = cols;
  r->MinX = 0;
  r->MaxX = cols;
  r->MinY = 0;
  r->MaxY = rows;
  r->CellWidth = r->CellHeight = 1;
  r->DataType = dtReal;
  r->FlagDef = flagDef;
  r->FlagValue = flag;
  r->FillConstant(0);
  r->LoadData();
  return r;
}

struct tResult {
  t2DiPoints path;
  long double cost = 0;
  uint32_t length = 0;
};

struct tArgs {
  int32_t candidates = 100;
  double tolerance = 0;
  int32_t direction = 0;
  const tLiveRaster* topo = nullptr;
  double lengthWeight = 0;
  double frictionWeight = 1;
  tMinimiseCriterion criterion = mcFrictionSum;
};

tResult Search(const tMatrixOfSingle& f, const tArgs& a, double r1, double c1, double r2,
               double c2) {
  tResult res;
  FindLeastCostPath(a.candidates, f, res.path, a.tolerance, a.direction, a.topo, a.lengthWeight,
                    a.frictionWeight, a.criterion, res.cost, res.length, r1, c1, r2, c2);
  return res;
}

// The candidates of a seeded search one by one: a search of one candidate
// draws exactly what one candidate of a longer search draws.
std::vector<tResult> Candidates(const tMatrixOfSingle& f, tArgs a, int32_t seedB, int count,
                                double r1, double c1, double r2, double c2) {
  SeedRandom(7, seedB);
  a.candidates = 1;
  std::vector<tResult> out;
  for (int i = 0; i < count; ++i) out.push_back(Search(f, a, r1, c1, r2, c2));
  return out;
}

// --- An independent linked-list version, node by node as the data model puts it ---

struct tRefNode {
  double row, col;
  tRefNode* next;
};

void FreeList(tRefNode* n) {
  while (n) {
    tRefNode* next = n->next;
    delete n;
    n = next;
  }
}

struct tRefSearch {
  tRandomGenerator& rng;
  double rows, cols;
  int depth = 0;
  uint32_t counter = 0;

  void Subdivide(tRefNode* a, tRefNode* b) {
    const double dr = b->row - a->row, dc = b->col - a->col;
    if (dc * dc + dr * dr <= 2) return;
    ++depth;
    const double mr = std::nearbyint((a->row + b->row) / 2);
    const double mc = std::nearbyint((a->col + b->col) / 2);
    double nr, nc;
    for (;;) {
      const double u1 = rng.Uniform();
      const double u2 = rng.Uniform();
      nr = std::nearbyint(mr + (2 * u1 - 1) * (a->col - b->col) / depth);
      nc = std::nearbyint(mc + (2 * u2 - 1) * (b->row - a->row) / depth);
      if (nr >= 0 && nr <= rows - 1 && nc >= 0 && nc <= cols - 1) break;
    }
    ++counter;
    tRefNode* n = new tRefNode{nr, nc, b};
    a->next = n;
    Subdivide(a, n);
    Subdivide(n, b);
    --depth;
  }
};

tResult RefSearch(const tMatrixOfSingle& f, const tArgs& a, double r1, double c1, double r2,
                  double c2) {
  tResult res;
  const tLiveRaster* topo = a.topo;
  if (topo && a.direction != 0) {
    const float z1 = float(topo->GetCell(int(std::nearbyint(r1)), int(std::nearbyint(c1))));
    const float z2 = float(topo->GetCell(int(std::nearbyint(r2)), int(std::nearbyint(c2))));
    if ((double(z2) - double(z1)) * a.direction < 0) {
      res.cost = -1;
      return res;
    }
  }
  tRandomGenerator& rng = CurrentRandom();
  const int d = a.direction > 0 ? 1 : (a.direction < 0 ? -1 : 0);
  tRefNode* best = nullptr;
  long double bestCost = kMax;
  uint32_t bestLen = 0;
  for (int i = 0; i < a.candidates; ++i) {
    tRefNode* last = new tRefNode{r2, c2, nullptr};
    tRefNode* first = new tRefNode{r1, c1, last};
    tRefSearch s{rng, double(f.size()), double(f[0].size())};
    s.counter = 2;
    s.Subdivide(first, last);
    auto z = [&](const tRefNode* n) {
      return float(topo->GetCell(int(std::nearbyint(n->row)), int(std::nearbyint(n->col))));
    };
    bool valid = true;
    if (topo && d != 0) {
      for (tRefNode* p = first; p->next && valid; p = p->next) {
        const double dz = double(z(p->next)) - double(z(p));
        if ((dz + d * a.tolerance) * d < 0) valid = false;
        else if (topo->IsFlagged(int(std::nearbyint(p->row)), int(std::nearbyint(p->col))))
          valid = false;
      }
    }
    if (!valid) {
      FreeList(first);
      continue;
    }
    long double S = 0, Q = 0, value = 0;
    uint32_t n = 0;
    bool saturated = false;
    for (tRefNode* p = first; p; p = p->next) {
      const float v = f[size_t(std::nearbyint(p->row))][size_t(std::nearbyint(p->col))];
      ++n;
      if (v < kMax - S) S += v;
      else { S = kMax; saturated = true; }
      if (a.criterion == 2) {
        if ((long double)v * v < kMax - Q) Q += (long double)v * v;
        else { Q = kMax; saturated = true; }
        if (saturated) break;
      }
    }
    if (a.criterion == 0) value = S;
    else if (a.criterion == 1) value = S / n;
    else if (saturated) value = kMax;
    else {
      const long double mean = S / n;
      const long double var = Q / n - mean * mean;
      value = var < 0 ? 0 : std::sqrt(var);
    }
    const long double c = value * (long double)a.frictionWeight +
                          (long double)s.counter * (long double)a.lengthWeight;
    if (c < bestCost || (c == bestCost && s.counter < bestLen)) {
      FreeList(best);
      best = first;
      bestCost = c;
      bestLen = s.counter;
    } else {
      FreeList(first);
    }
  }
  if (!best) {
    res.cost = -1;
    return res;
  }
  for (tRefNode* p = best; p; p = p->next)
    res.path.push_back({int32_t(std::nearbyint(p->row)), int32_t(std::nearbyint(p->col))});
  res.cost = bestCost;
  res.length = bestLen;
  FreeList(best);
  return res;
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
  const tMatrixOfSingle f = RandomFriction(37, 53, 11);
  const struct { double lw, fw; } weights[] = {{0, 1}, {1, 0}, {0.5, 2}, {1, 1}};
  std::mt19937 g(5);
  std::uniform_int_distribution<int> row(0, 36), col(0, 52);
  int compared = 0;
  for (int seed = 0; seed < 24; ++seed) {
    const double r1 = row(g), c1 = col(g), r2 = row(g), c2 = col(g);
    for (tMinimiseCriterion crit = 0; crit <= 2; ++crit) {
      const auto& w = weights[(seed + crit) % 4];
      tArgs a;
      a.candidates = 40;
      a.criterion = crit;
      a.lengthWeight = w.lw;
      a.frictionWeight = w.fw;
      SeedRandom(seed, crit);
      const tResult ref = RefSearch(f, a, r1, c1, r2, c2);
      const tRandomGenerator afterRef = CurrentRandom();
      SeedRandom(seed, crit);
      const tResult got = Search(f, a, r1, c1, r2, c2);
      ASSERT_EQ(got.path, ref.path) << "seed " << seed << " criterion " << crit;
      EXPECT_EQ(got.length, ref.length);
      EXPECT_EQ(got.cost, ref.cost);
      EXPECT_TRUE(SameState(CurrentRandom(), afterRef));
      ExpectConnected(got, {int32_t(r1), int32_t(c1)}, {int32_t(r2), int32_t(c2)});
      ++compared;
    }
  }
  EXPECT_EQ(compared, 72);
  // Ends that are not whole cells, and a grid too wide for integer nodes,
  // take the general real-valued subdivision.
  tArgs a0;
  a0.candidates = 30;
  for (int seed = 0; seed < 6; ++seed) {
    const double r1 = row(g) + 0.5, c1 = col(g) - 0.25, r2 = row(g) * 0.5, c2 = col(g) + 0.375;
    SeedRandom(seed, 77);
    const tResult ref = RefSearch(f, a0, r1, c1, r2, c2);
    SeedRandom(seed, 77);
    const tResult got = Search(f, a0, r1, c1, r2, c2);
    EXPECT_EQ(got.path, ref.path);
    EXPECT_EQ(got.cost, ref.cost);
  }
  const tMatrixOfSingle wide = RandomFriction(3, (1 << 20) + 3, 2);
  SeedRandom(8, 8);
  const tResult refWide = RefSearch(wide, a0, 0, 1048000, 2, 1048060);
  SeedRandom(8, 8);
  const tResult gotWide = Search(wide, a0, 0, 1048000, 2, 1048060);
  EXPECT_EQ(gotWide.path, refWide.path);
  EXPECT_EQ(gotWide.cost, refWide.cost);
  // Displacements landing exactly on half cells round to the even cell: the
  // first draw is set to 0.25, so the top midpoint's row is r1 + 1 + 0.5.
  a0.candidates = 1;
  for (auto [r1, c1, r2, c2] : {std::tuple{0, 0, 2, 1}, {10, 10, 12, 11}}) {
    CurrentRandom().SetState(0, 0, 0, 0, 1u << 30);
    const tResult ref = RefSearch(f, a0, r1, c1, r2, c2);
    // The top midpoint, last of the inner nodes: row r1 + 1.5 went to r1 + 2.
    ASSERT_GE(ref.path.size(), 3u);
    EXPECT_EQ(ref.path[ref.path.size() - 2], (t2DiPoint{r1 + 2, c1 + 1}));
    CurrentRandom().SetState(0, 0, 0, 0, 1u << 30);
    const tResult got = Search(f, a0, r1, c1, r2, c2);
    EXPECT_EQ(got.path, ref.path);
    EXPECT_EQ(got.cost, ref.cost);
  }
  // Calls in a row without re-seeding go on with the generator and reuse the buffers.
  SeedRandom(3, 3);
  tArgs a;
  a.candidates = 30;
  const tResult ref1 = RefSearch(f, a, 0, 0, 36, 52), ref2 = RefSearch(f, a, 36, 0, 0, 52);
  SeedRandom(3, 3);
  const tResult got1 = Search(f, a, 0, 0, 36, 52), got2 = Search(f, a, 36, 0, 0, 52);
  EXPECT_EQ(got1.path, ref1.path);
  EXPECT_EQ(got2.path, ref2.path);
  EXPECT_NE(got1.path, got2.path);
}

TEST(CostPath, TiesNeighboursAndRepeatability) {
  const tMatrixOfSingle f = RandomFriction(10, 10, 3);
  tArgs a;
  a.candidates = 500;
  // Same cell and neighbouring cells: no node is inserted and nothing is drawn.
  for (auto [r2, c2] : {std::pair{4, 4}, {5, 5}, {3, 4}, {5, 3}}) {
    SeedRandom(1, 1);
    const tRandomGenerator before = CurrentRandom();
    const tResult r = Search(f, a, 4, 4, r2, c2);
    EXPECT_EQ(r.length, 2u);
    EXPECT_EQ(r.path, (t2DiPoints{{4, 4}, {r2, c2}}));
    EXPECT_EQ(r.cost, (long double)f[4][4] + f[r2][c2]);
    EXPECT_TRUE(SameState(CurrentRandom(), before));
  }
  // Same seed, same path; ends on the last row and column are accepted and
  // inserted nodes reach them too.
  bool innerOnLastRow = false;
  for (int seed = 0; seed < 20; ++seed) {
    SeedRandom(seed, 0);
    const tResult r = Search(f, a, 9, 0, 9, 9);
    SeedRandom(seed, 0);
    EXPECT_EQ(Search(f, a, 9, 0, 9, 9).path, r.path);
    ExpectConnected(r, {9, 0}, {9, 9});
    for (size_t i = 1; i + 1 < r.path.size(); ++i) innerOnLastRow |= r.path[i].row == 9;
  }
  EXPECT_TRUE(innerOnLastRow);
  SeedRandom(2, 0);
  ExpectConnected(Search(f, a, 0, 9, 9, 9), {0, 9}, {9, 9});
  // Zero candidates: no path, nothing drawn; negative: a range error.
  a.candidates = 0;
  const tRandomGenerator before = CurrentRandom();
  const tResult none = Search(f, a, 0, 0, 9, 9);
  EXPECT_TRUE(none.path.empty());
  EXPECT_EQ(none.length, 0u);
  EXPECT_EQ(none.cost, -1);
  EXPECT_TRUE(SameState(CurrentRandom(), before));
  a.candidates = -1;
  EXPECT_THROW(Search(f, a, 0, 0, 9, 9), ERangeError);
  a.candidates = 1;
  a.criterion = 3;
  EXPECT_THROW(Search(f, a, 0, 0, 9, 9), ERangeError);
}

TEST(CostPath, EndsOutsideTheMap) {
  const tMatrixOfSingle f = RandomFriction(10, 8, 3);
  const tArgs a;
  auto message = [&](double r1, double c1, double r2, double c2) -> std::string {
    try {
      Search(f, a, r1, c1, r2, c2);
    } catch (const EAssertionFailed& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(message(0, 0, 10, 3), "Error in Least-Cost Path: path ends are out of map:(0,0),(10,3)");
  EXPECT_EQ(message(0, -1, 9, 7), "Error in Least-Cost Path: path ends are out of map:(0,-1),(9,7)");
  EXPECT_EQ(message(2.5, 8, 1, 1), "Error in Least-Cost Path: path ends are out of map:(2.5,8),(1,1)");
  EXPECT_EQ(message(std::nan(""), 0, 1, 1).rfind("Error in Least-Cost Path", 0), 0u);
  EXPECT_THROW(Search(tMatrixOfSingle{}, a, 0, 0, 0, 0), EAssertionFailed);
}

TEST(CostPath, CriteriaAndWeights) {
  const tMatrixOfSingle f = RandomFriction(25, 25, 8);
  const int n = 60;
  tArgs a;
  a.candidates = n;
  // The search keeps the lowest cost, then the fewest nodes, then the earliest.
  auto check = [&](const tArgs& args, const char* what) {
    const std::vector<tResult> cands = Candidates(f, args, 4, n, 2, 3, 21, 20);
    size_t want = 0;
    for (size_t i = 1; i < cands.size(); ++i)
      if (std::pair(cands[i].cost, cands[i].length) < std::pair(cands[want].cost, cands[want].length))
        want = i;
    SeedRandom(7, 4);
    const tResult got = Search(f, args, 2, 3, 21, 20);
    EXPECT_EQ(got.path, cands[want].path) << what;
    EXPECT_EQ(got.cost, cands[want].cost) << what;
    return cands;
  };
  auto sum = [&](const tResult& r) {
    long double s = 0;
    for (auto p : r.path) s += f[p.row][p.col];
    return s;
  };
  // Each candidate's cost, recomputed from its cells.
  for (const tResult& c : check(a, "sum")) EXPECT_EQ(c.cost, sum(c));
  a.frictionWeight = 0;
  a.lengthWeight = 1;
  bool lengthsTie = false;
  std::vector<uint32_t> seen;
  for (const tResult& c : check(a, "length")) {
    EXPECT_EQ(c.cost, (long double)c.length);
    lengthsTie |= std::find(seen.begin(), seen.end(), c.length) != seen.end();
    seen.push_back(c.length);
  }
  EXPECT_TRUE(lengthsTie);  // so the earliest-among-equals rule was exercised
  a.frictionWeight = 1;
  a.lengthWeight = 0.25;
  a.criterion = mcFrictionMean;
  for (const tResult& c : check(a, "mean"))
    EXPECT_EQ(c.cost, sum(c) / c.length + c.length * 0.25L);
  a.criterion = mcFrictionSD;
  for (const tResult& c : check(a, "sd")) {
    long double q = 0;
    for (auto p : c.path) q += (long double)f[p.row][p.col] * f[p.row][p.col];
    const long double mean = sum(c) / c.length;
    EXPECT_NEAR(double(c.cost - c.length * 0.25L), std::sqrt(double(q / c.length - mean * mean)),
                1e-9);
  }
  // Uniform friction, mean criterion, no length weight: every cost ties and
  // the fewest nodes win, the earliest among equals.
  const tMatrixOfSingle flat(25, std::vector<float>(25, 3.0f));
  a.criterion = mcFrictionMean;
  a.lengthWeight = 0;
  const std::vector<tResult> flatCands = Candidates(flat, a, 4, n, 2, 3, 21, 20);
  size_t want = 0;
  for (size_t i = 0; i < flatCands.size(); ++i) {
    EXPECT_EQ(flatCands[i].cost, 3.0L);
    if (flatCands[i].length < flatCands[want].length) want = i;
  }
  SeedRandom(7, 4);
  EXPECT_EQ(Search(flat, a, 2, 3, 21, 20).path, flatCands[want].path);
}

TEST(CostPath, SaturatedSums) {
  tMatrixOfSingle f = RandomFriction(20, 20, 9);
  const float inf = std::numeric_limits<float>::infinity();
  f[2][2] = inf;  // the first end: every candidate crosses it
  const int n = 40;
  tArgs a;
  a.candidates = n;
  // Sum at full weight equals the "nothing kept" mark: no candidate is kept.
  tResult r = Search(f, a, 2, 2, 17, 15);
  EXPECT_TRUE(r.path.empty());
  EXPECT_EQ(r.cost, -1);
  // At half weight it is kept, and the fewest nodes win the tie.
  a.frictionWeight = 0.5;
  const std::vector<tResult> cands = Candidates(f, a, 1, n, 2, 2, 17, 15);
  uint32_t fewest = cands[0].length;
  for (const tResult& c : cands) {
    EXPECT_EQ(c.cost, 0.5L * kMax);
    fewest = std::min(fewest, c.length);
  }
  SeedRandom(7, 1);
  r = Search(f, a, 2, 2, 17, 15);
  EXPECT_EQ(r.cost, 0.5L * kMax);
  EXPECT_EQ(r.length, fewest);
  // Mean: the walk goes on after saturation, so the longest path has the
  // smallest saturated mean.
  a.frictionWeight = 1;
  a.criterion = mcFrictionMean;
  uint32_t longest = 0;
  for (const tResult& c : Candidates(f, a, 1, n, 2, 2, 17, 15)) {
    EXPECT_EQ(c.cost, kMax / c.length);
    longest = std::max(longest, c.length);
  }
  SeedRandom(7, 1);
  EXPECT_EQ(Search(f, a, 2, 2, 17, 15).length, longest);
  // SD: a saturated candidate rates as saturated (not NaN, not 0); with no
  // friction weight only its full node count matters.
  a.criterion = mcFrictionSD;
  a.frictionWeight = 0.5;
  SeedRandom(7, 1);
  EXPECT_EQ(Search(f, a, 2, 2, 17, 15).cost, 0.5L * kMax);
  a.frictionWeight = 0;
  a.lengthWeight = 1;
  SeedRandom(7, 1);
  r = Search(f, a, 2, 2, 17, 15);
  EXPECT_EQ(r.length, fewest);
  EXPECT_EQ(r.cost, (long double)fewest);
}

TEST(CostPath, TopographyConstraint) {
  TempDir dir;
  const int32_t rows = 12, cols = 16;
  const tMatrixOfSingle f = RandomFriction(rows, cols, 21);
  auto topo = MakeLoadedMap(dir, "dem", rows, cols, fdBackground, -5);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c) topo->SetCell(r, c, float(c + (r % 3) * 0.25));
  tArgs a;
  a.candidates = 60;
  a.topo = topo.get();
  a.direction = 1;

  // Impossible direction: no path and nothing drawn.
  SeedRandom(5, 5);
  tRandomGenerator before = CurrentRandom();
  tResult r = Search(f, a, 6, 12, 6, 2);
  EXPECT_TRUE(r.path.empty());
  EXPECT_EQ(r.length, 0u);
  EXPECT_EQ(r.cost, -1);
  EXPECT_TRUE(SameState(CurrentRandom(), before));

  // A tolerance wider than any step accepts every candidate: the same as
  // without a topography map. Direction 0 ignores the map.
  a.tolerance = 100;
  SeedRandom(5, 5);
  const tResult loose = Search(f, a, 6, 2, 6, 12);
  tArgs plain = a;
  plain.topo = nullptr;
  SeedRandom(5, 5);
  EXPECT_EQ(loose.path, Search(f, plain, 6, 2, 6, 12).path);
  plain = a;
  plain.direction = 0;
  plain.tolerance = 0;
  SeedRandom(5, 5);
  EXPECT_EQ(loose.path, Search(f, plain, 6, 2, 6, 12).path);

  // Tolerance 0.5: every step of the result climbs or descends by at most
  // 0.5, and the result is the best of the valid candidates.
  for (int32_t dir : {1, -1}) {
    a.direction = dir;
    a.tolerance = 0.5;
    const double c1 = dir > 0 ? 1 : 14, c2 = dir > 0 ? 14 : 1;
    const std::vector<tResult> cands = Candidates(f, a, 9, 60, 5, c1, 7, c2);
    int valid = 0;
    size_t want = 0;
    for (size_t i = 0; i < cands.size(); ++i) {
      if (cands[i].path.empty()) continue;
      if (valid++ == 0 || cands[i].cost < cands[want].cost) want = i;
      const t2DiPoints& p = cands[i].path;
      for (size_t k = 1; k < p.size(); ++k)
        EXPECT_GE((topo->GetCell(p[k].row, p[k].col) - topo->GetCell(p[k - 1].row, p[k - 1].col)) * dir,
                  -0.5);
    }
    EXPECT_GT(valid, 0);
    EXPECT_LT(valid, 60);
    SeedRandom(7, 9);
    r = Search(f, a, 5, c1, 7, c2);
    EXPECT_EQ(r.path, cands[want].path);
    SeedRandom(7, 9);
    EXPECT_EQ(RefSearch(f, a, 5, c1, 7, c2).path, r.path);
  }

  // Missing data: the first end is tested, the last end never.
  a.direction = 1;
  a.tolerance = 100;
  topo->SetCell(6, 2, -5);  // flagged; still lower than the other end
  r = Search(f, a, 6, 2, 6, 12);
  EXPECT_TRUE(r.path.empty());
  EXPECT_EQ(r.cost, -1);
  topo->SetCell(6, 2, 2);
  topo->FlagValue = 50;
  topo->SetCell(6, 12, 50);
  r = Search(f, a, 6, 2, 6, 12);
  ASSERT_FALSE(r.path.empty());
  EXPECT_EQ(r.path.back(), (t2DiPoint{6, 12}));
}
