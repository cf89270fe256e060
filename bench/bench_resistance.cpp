// Resistance distance on a 1000 x 1000 map of random frictions (1 to 50, no
// missing cells) with 30 points: the whole network (assembly, ordering,
// factorisation, 29 solves: the first point's cell is grounded), with 1 and
// 2 threads, by the direct and the iterative solver; the set-up and solve
// seconds the network measures itself are shown as counters. Then one
// pair's current map.
#include "paths/Resistance.h"

#include <benchmark/benchmark.h>

#include <random>

using namespace stravex;

namespace {

constexpr int32_t kSide = 1000;

const tMatrixOfSingle& Friction() {
  static const tMatrixOfSingle f = [] {
    std::mt19937 g(17);
    std::uniform_real_distribution<float> u(1.0f, 50.0f);
    tMatrixOfSingle m(kSide, std::vector<float>(kSide));
    for (auto& row : m)
      for (float& v : row) v = u(g);
    return m;
  }();
  return f;
}

std::vector<t2DiPoint> Points(std::size_t count) {
  std::mt19937 g(23);
  std::vector<t2DiPoint> p;
  while (p.size() < count)
    p.push_back({static_cast<int32_t>(g() % kSide), static_cast<int32_t>(g() % kSide)});
  return p;
}

void BM_Network(benchmark::State& state) {
  tResistanceOptions options;
  options.Solver = state.range(0) ? tResistanceSolver::Iterative : tResistanceSolver::Direct;
  options.Threads = static_cast<int>(state.range(1));
  const std::vector<t2DiPoint> points = Points(30);
  double setUp = 0, solve = 0, factorBytes = 0, iterations = 0;
  for (auto _ : state) {
    const tResistanceNetwork net(Friction(), std::nullopt, "friction", points, options);
    setUp += net.Info().SetUpSeconds;
    solve += net.Info().SolveSeconds;
    factorBytes = static_cast<double>(net.Info().LargestFactorBytes);
    iterations = net.Info().MostIterations;
    benchmark::DoNotOptimize(net.Resistance(0, 1));
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["set_up_s"] = setUp / n;
  state.counters["solves_s"] = solve / n;
  state.counters["factor_MB"] = factorBytes / 1e6;
  state.counters["max_steps"] = iterations;
}

void BM_PairCurrent(benchmark::State& state) {
  const std::vector<t2DiPoint> points = Points(2);
  const tResistanceNetwork net(Friction(), std::nullopt, "friction", points);
  std::vector<float> cumulative(static_cast<std::size_t>(kSide) * kSide, 0);
  for (auto _ : state) {
    net.AddPairCurrent(0, 1, cumulative);
    benchmark::DoNotOptimize(cumulative.data());
  }
}

} // namespace

BENCHMARK(BM_Network)
    ->ArgNames({"iterative", "threads"})
    ->Args({0, 1})
    ->Args({0, 2})
    ->Args({1, 1})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3);
BENCHMARK(BM_PairCurrent)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
