// LoadData of a 4000 x 4000 map of each data type, beside one plain fread of
// the same image bytes into a freshly allocated buffer of the same size: a
// std::vector (the C library may hand back the same pages every time), and a
// block of the live raster's own cell storage (fresh pages, as LoadData gets).
#include "BenchMaps.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace stravex;
using namespace stravex::bench;

namespace {

void BM_LoadData(benchmark::State& state) {
  const auto type = static_cast<tDataType>(state.range(0));
  tLiveRaster m(Maps().Name(type));
  for (auto _ : state) {
    m.LoadData();
    benchmark::DoNotOptimize(m.GetCell(kSide - 1, kSide - 1));
    m.ReleaseData();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * type);
}

void BM_PlainFread(benchmark::State& state) {
  const auto type = static_cast<tDataType>(state.range(0));
  const std::string path = Maps().Name(type) + ImageExt();
  const std::size_t size = static_cast<std::size_t>(kSide) * kSide * type;
  for (auto _ : state) {
    std::vector<unsigned char> buffer(size);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    const std::size_t got = std::fread(buffer.data(), 1, size, f);
    std::fclose(f);
    benchmark::DoNotOptimize(buffer.data());
    if (got != size) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

void BM_PlainFreadCellBlock(benchmark::State& state) {
  const auto type = static_cast<tDataType>(state.range(0));
  const std::string path = Maps().Name(type) + ImageExt();
  const std::size_t size = static_cast<std::size_t>(kSide) * kSide * type;
  for (auto _ : state) {
    tCellVector<unsigned char> buffer(size);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    const std::size_t got = std::fread(buffer.data(), 1, size, f);
    std::fclose(f);
    benchmark::DoNotOptimize(buffer.data());
    if (got != size) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

} // namespace

BENCHMARK(BM_LoadData)->Arg(dtByte)->Arg(dtInteger)->Arg(dtReal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFread)->Arg(dtByte)->Arg(dtInteger)->Arg(dtReal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFreadCellBlock)
    ->Arg(dtByte)
    ->Arg(dtInteger)
    ->Arg(dtReal)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
