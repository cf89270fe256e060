// Least-cost search: the flat, buffer-reusing FindLeastCostPath against two
// yardsticks. One builds every candidate as a singly linked list of nodes
// allocated one by one, drawing uniform by uniform; it must return the
// identical path and cost and leave the generator in the same state before
// anything is timed. The other is the floor: the same number of uniform draws
// from the same generator and nothing else, beside the same draws with the
// generator's earlier step as the reference. The figures are nanoseconds per
// inserted node and the ratios.
#include "base/RandomFunctions.h"
#include "base/StatOps.h"
#include "paths/CostPath.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include <unistd.h>

using namespace stravex;

namespace {

constexpr int32_t kSide = 1000;
constexpr int32_t kDistances[] = {50, 200, 800};
constexpr long double kSaturation = 1.1E4932L;

const tMatrixOfSingle& Friction() {
  static const tMatrixOfSingle m = [] {
    std::mt19937 g(17);
    std::uniform_real_distribution<float> u(1.0f, 50.0f);
    tMatrixOfSingle f(kSide, std::vector<float>(kSide));
    for (auto& row : f)
      for (float& v : row) v = u(g);
    return f;
  }();
  return m;
}

// Ends on a diagonal through the middle, `distance` cells apart in each axis.
struct tEnds {
  double r1, c1, r2, c2;
};
tEnds EndsFor(int32_t distance) {
  const double a = (kSide - distance) / 2.0;
  return {std::floor(a), std::floor(a), std::floor(a) + distance, std::floor(a) + distance};
}

// --- yardstick ---

struct tPathNode {
  double row;
  double col;
  tPathNode* next;
};

void ReleaseList(tPathNode* n) {
  while (n) {
    tPathNode* next = n->next;
    delete n;
    n = next;
  }
}

struct tListSearch {
  tRandomGenerator& random;
  double rows, cols;
  int32_t depth = 0;
  uint32_t counter = 0;

  void SubdividePath(tPathNode* a, tPathNode* b) {
    const double dRow = b->row - a->row, dCol = b->col - a->col;
    if (dCol * dCol + dRow * dRow <= 2) return;
    ++depth;
    const double mRow = std::nearbyint((a->row + b->row) / 2);
    const double mCol = std::nearbyint((a->col + b->col) / 2);
    double nRow, nCol;
    do {
      const double u1 = random.Uniform();
      const double u2 = random.Uniform();
      nRow = std::nearbyint(mRow + (2 * u1 - 1) * (a->col - b->col) / depth);
      nCol = std::nearbyint(mCol + (2 * u2 - 1) * (b->row - a->row) / depth);
    } while (!(nRow >= 0 && nRow <= rows - 1 && nCol >= 0 && nCol <= cols - 1));
    ++counter;
    tPathNode* n = new tPathNode{nRow, nCol, b};
    a->next = n;
    SubdividePath(a, n);
    SubdividePath(n, b);
    --depth;
  }
};

// Criterion 0 (friction sum) without topography, as the analyses mostly run it.
// Returns the number of inserted nodes over all candidates.
uint64_t ListLeastCostPath(tRandomGenerator& random, int32_t candidates,
                           const tMatrixOfSingle& friction, t2DiPoints& path, double lengthWeight,
                           double frictionWeight, long double& cost, uint32_t& length,
                           const tEnds& e) {
  tPathNode* best = nullptr;
  long double bestCost = kSaturation;
  uint32_t bestLength = 0;
  uint64_t inserted = 0;
  for (int32_t i = 0; i < candidates; ++i) {
    tPathNode* last = new tPathNode{e.r2, e.c2, nullptr};
    tPathNode* first = new tPathNode{e.r1, e.c1, last};
    tListSearch s{random, double(friction.size()), double(friction[0].size())};
    s.counter = 2;
    s.SubdividePath(first, last);
    inserted += s.counter - 2;
    long double sum = 0;
    uint32_t n = 0;
    for (tPathNode* p = first; p; p = p->next) {
      const float f = friction[size_t(std::nearbyint(p->row))][size_t(std::nearbyint(p->col))];
      ++n;
      if (f < kSaturation - sum)
        sum += f;
      else
        sum = kSaturation;
    }
    const long double c = sum * (long double)frictionWeight + (long double)n * lengthWeight;
    if (c < bestCost || (c == bestCost && s.counter < bestLength)) {
      ReleaseList(best);
      best = first;
      bestCost = c;
      bestLength = s.counter;
    } else {
      ReleaseList(first);
    }
  }
  path.clear();
  length = 0;
  cost = -1;
  if (best) {
    for (tPathNode* p = best; p; p = p->next)
      path.push_back({int32_t(std::nearbyint(p->row)), int32_t(std::nearbyint(p->col))});
    length = bestLength;
    cost = bestCost;
  }
  ReleaseList(best);
  return inserted;
}

std::map<int32_t, uint64_t>& InsertedNodes() {
  static std::map<int32_t, uint64_t> m;
  return m;
}

// The uniforms one search draws, retries included.
std::map<int32_t, uint64_t>& Draws() {
  static std::map<int32_t, uint64_t> m;
  return m;
}

// The generator's step as it was before its state kept the 64-bit sum whole
// (tRandomWords): the sum split into x0 and the carry, added back separately.
inline uint32_t ReferenceStep(tRandomState& s) {
  const uint64_t t = 2111111111u * uint64_t{s.x3} + 1492u * uint64_t{s.x2} +
                     1776u * uint64_t{s.x1} + 5115u * uint64_t{s.x0} + s.carry;
  s.x3 = s.x2;
  s.x2 = s.x1;
  s.x1 = s.x0;
  s.x0 = static_cast<uint32_t>(t);
  s.carry = static_cast<uint32_t>(t >> 32);
  return s.x0;
}

// How many steps lead from `from` to `to`; 0 when none within `limit`.
uint64_t StepsBetween(tRandomState from, const tRandomState& to, uint64_t limit) {
  for (uint64_t n = 1; n <= limit; ++n) {
    ReferenceStep(from);
    if (from == to) return n;
  }
  return 0;
}

// Both versions from the same seed must agree before anything is timed: the
// same path, cost and length, and the generator left in the same state.
// The search as the analyses mostly run it: friction sum, no topography.
tPathRequest RequestFor(const tEnds& e) {
  tPathRequest q;
  q.Rules.Friction = &Friction();
  q.Rules.LengthWeight = 0.5;
  q.Row1 = e.r1;
  q.Col1 = e.c1;
  q.Row2 = e.r2;
  q.Col2 = e.c2;
  return q;
}

bool Agree(int32_t distance) {
  const tEnds e = EndsFor(distance);
  t2DiPoints a;
  long double ca;
  uint32_t la;
  tRandomGenerator random;
  random.Seed(3, distance);
  InsertedNodes()[distance] = ListLeastCostPath(random, LeastCostCandidates, Friction(), a, 0.5, 1,
                                                ca, la, e);
  const tRandomState afterList = random.State();
  random.Seed(3, distance);
  const tRandomState seeded = random.State();
  const tFoundPath b = FindLeastCostPath(RequestFor(e), random);
  // Every inserted node draws two uniforms at least, a redrawn node two more.
  Draws()[distance] = StepsBetween(seeded, random.State(), 64 * InsertedNodes()[distance] + 64);
  return a == b.Path && ca == b.Cost && la == b.Length && random.State() == afterList &&
         Draws()[distance] >= 2 * InsertedNodes()[distance];
}

void SetNodeCounters(benchmark::State& state, int32_t distance) {
  const double nodes = double(InsertedNodes()[distance]);
  state.counters["nodes"] = nodes;
  state.counters["per_node"] = benchmark::Counter(
      nodes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_LinkedListYardstick(benchmark::State& state) {
  const int32_t distance = int32_t(state.range(0));
  const tEnds e = EndsFor(distance);
  t2DiPoints path;
  long double cost;
  uint32_t length;
  tRandomGenerator random;
  for (auto _ : state) {
    random.Seed(3, distance);
    ListLeastCostPath(random, LeastCostCandidates, Friction(), path, 0.5, 1, cost, length, e);
    benchmark::DoNotOptimize(path.data());
  }
  SetNodeCounters(state, distance);
}

void BM_FindLeastCostPath(benchmark::State& state) {
  const int32_t distance = int32_t(state.range(0));
  const tEnds e = EndsFor(distance);
  const tPathRequest request = RequestFor(e);
  tRandomGenerator random;
  for (auto _ : state) {
    random.Seed(3, distance);
    const tFoundPath found = FindLeastCostPath(request, random);
    benchmark::DoNotOptimize(found.Path.data());
  }
  SetNodeCounters(state, distance);
}

// The draws of one search alone, each uniform consumed, with the generator's
// state held in registers as a drawing loop keeps it (a copy, written back).
void BM_BareDraws(benchmark::State& state) {
  const int32_t distance = int32_t(state.range(0));
  const uint64_t draws = Draws()[distance];
  tRandomGenerator random;
  for (auto _ : state) {
    random.Seed(3, distance);
    tRandomWords w = random.Words();
    for (uint64_t i = 0; i < draws; ++i) benchmark::DoNotOptimize(UniformOfRaw(StepRandom(w)));
    random.SetWords(w);
  }
  SetNodeCounters(state, distance);
}

// The same with the reference step.
void BM_ReferenceDraws(benchmark::State& state) {
  const int32_t distance = int32_t(state.range(0));
  const uint64_t draws = Draws()[distance];
  tRandomGenerator random;
  for (auto _ : state) {
    random.Seed(3, distance);
    tRandomState s = random.State();
    for (uint64_t i = 0; i < draws; ++i) benchmark::DoNotOptimize(UniformOfRaw(ReferenceStep(s)));
    random.SetState(s);
  }
  SetNodeCounters(state, distance);
}

BENCHMARK(BM_LinkedListYardstick)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindLeastCostPath)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareDraws)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceDraws)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond);

// Console output plus, per distance, ns per inserted node of the search and
// of its bare draws and the ratios, from CPU time (the median when
// repetitions are asked for).
class tRatioReporter : public benchmark::ConsoleReporter {
public:
  // Colours only on a terminal, so that the summary lines stay plain text.
  tRatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type != Run::RT_Iteration && !median) continue;
      const std::string name = r.run_name.function_name;
      const int32_t distance = std::stoi(r.run_name.args);
      auto& times = name.rfind("BM_Linked", 0) == 0      ? fList
                    : name.rfind("BM_Bare", 0) == 0      ? fDraws
                    : name.rfind("BM_Reference", 0) == 0 ? fReferenceDraws
                                                         : fFlat;
      const double ns = r.GetAdjustedCPUTime() * 1e9 /
                        benchmark::GetTimeUnitMultiplier(r.time_unit);
      const double perNode = ns / double(InsertedNodes()[distance]);
      if (median || !times.count(distance)) times[distance] = perNode;
    }
  }
  void PrintRatios() const {
    for (const auto& [distance, flat] : fFlat) {
      std::printf("distance %4d: %llu inserted nodes, %llu draws per search; ns per node: search "
                  "%.2f",
                  distance, static_cast<unsigned long long>(InsertedNodes()[distance]),
                  static_cast<unsigned long long>(Draws()[distance]), flat);
      if (const auto it = fDraws.find(distance); it != fDraws.end())
        std::printf(", bare draws %.2f, search / draws = %.2fx", it->second, flat / it->second);
      if (const auto it = fReferenceDraws.find(distance); it != fReferenceDraws.end()) {
        std::printf(", reference draws %.2f", it->second);
        if (const auto d = fDraws.find(distance); d != fDraws.end())
          std::printf(", reference / draws = %.2fx", it->second / d->second);
      }
      if (const auto it = fList.find(distance); it != fList.end())
        std::printf(", yardstick %.2f, yardstick / search = %.2fx", it->second, it->second / flat);
      std::printf("\n");
    }
  }

private:
  std::map<int32_t, double> fList, fFlat, fDraws, fReferenceDraws;
};

} // namespace

int main(int argc, char** argv) {
  for (const int32_t d : kDistances)
    if (!Agree(d)) {
      std::fprintf(stderr, "flat and linked-list searches disagree at distance %d\n", d);
      return 1;
    }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  tRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
