// Triangulation of random point sets of growing size, in map units.
#include "base/RandomFunctions.h"
#include "paths/Delaunay.h"

#include <benchmark/benchmark.h>

using namespace stravex;

namespace {

t2DPoints RandomPoints(int n) {
  tRandomGenerator g;
  g.Seed(7, n);
  t2DPoints pts;
  for (int i = 0; i < n; ++i)
    pts.push_back({500000 + 30000 * g.Uniform(), 4800000 + 30000 * g.Uniform()});
  return pts;
}

void BM_Triangulate(benchmark::State& state) {
  const t2DPoints pts = RandomPoints(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    tDelaunay d;
    d.AddPoints(pts);
    d.Triangulate();
    benchmark::DoNotOptimize(d.TriangleCount());
  }
}

} // namespace

BENCHMARK(BM_Triangulate)->RangeMultiplier(4)->Range(64, 16384)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
