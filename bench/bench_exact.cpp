// Exact least-cost search: one search from the middle of a square friction
// map of random frictions that settles every passable cell. Its one target
// is walled in by missing cells, so the search only stops when nothing is
// left to settle. The figure is ns per settled cell, of the thread's CPU time
// (on a shared machine nearer the truth than the wall time, shown beside).
#include "paths/ExactPath.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

using namespace stravex;

namespace {

constexpr float kFlag = -1;

// Frictions uniform in [1, 50), or with wide, log-uniform in [1, 1000):
// steps a thousand to one, so that the queue's ring of buckets spans the
// most it may.
tMatrixOfSingle Friction(int32_t side, bool wide) {
  std::mt19937 g(17);
  std::uniform_real_distribution<float> u(1.0f, 50.0f);
  std::uniform_real_distribution<float> e(0.0f, std::log(1000.0f));
  tMatrixOfSingle f(static_cast<std::size_t>(side),
                    std::vector<float>(static_cast<std::size_t>(side)));
  for (auto& row : f)
    for (float& v : row) v = wide ? std::exp(e(g)) : u(g);
  // The target (row 1, column 1) behind a ring of missing cells.
  for (int32_t r = 0; r < 3; ++r)
    for (int32_t c = 0; c < 3; ++c)
      if (r != 1 || c != 1) f[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = kFlag;
  return f;
}

void SettleAll(benchmark::State& state, bool wide) {
  const auto side = static_cast<int32_t>(state.range(0));
  const tMatrixOfSingle f = Friction(side, wide);
  tPathRules rules;
  rules.Friction = &f;
  const tExactLandscape landscape(rules, kFlag, "friction");
  const t2DiPoint source{side / 2, side / 2};
  const t2DiPoint target{1, 1};
  for (auto _ : state) {
    const std::vector<tFoundPath> found = FindExactLeastCostPaths(landscape, source, {&target, 1});
    if (!found.at(0).Path.empty()) state.SkipWithError("the walled-in target was reached");
    benchmark::DoNotOptimize(found);
  }
  // Every cell but the target and its wall.
  const double settled = static_cast<double>(side) * side - 9;
  state.counters["ns_per_cell"] = benchmark::Counter(
      settled * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ExactSettleAll(benchmark::State& state) { SettleAll(state, false); }
void BM_ExactSettleAllWide(benchmark::State& state) { SettleAll(state, true); }

} // namespace

BENCHMARK(BM_ExactSettleAll)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Arg(8000)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_ExactSettleAllWide)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
