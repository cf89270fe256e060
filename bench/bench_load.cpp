// LoadData of a 4000 x 4000 map of each data type (and the integer map loaded
// the former way, widened to 32 bits), beside one plain fread of
// the same image bytes into a freshly allocated buffer of the same size: a
// std::vector (the C library may hand back the same pages every time), and a
// block of the live raster's own cell storage (fresh pages, as LoadData gets).
#include "BenchMaps.h"
#include "raster/IdrisiEnv.h"
#include "raster/IdrisiFile.h"
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

// The integer load as it was before the cells stayed 16-bit: the same stream,
// fingerprint and checks, the records widened into 32-bit cells.
void BM_LoadIntegerWidened(benchmark::State& state) {
  tLiveRaster m(Maps().Name(dtInteger));
  const int64_t n = int64_t{kSide} * kSide;
  for (auto _ : state) {
    tIdrisiFile f;
    OpenIdrisiRead(m, f);
    if (f.fileRecords < n) RaiseShortImage(f.path, f.fileRecords, n);
    HashImageRecords(f, n);
    tCellVector<int32_t> cells(static_cast<std::size_t>(n));
    if (ReadIdrisiBlocks(f, cells.data(), n) < n) state.SkipWithError("short read");
    CloseIdrisi(f);
    benchmark::DoNotOptimize(ImageDigestOf(f));
    benchmark::DoNotOptimize(cells.data());
  }
  state.SetBytesProcessed(state.iterations() * n * dtInteger);
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
BENCHMARK(BM_LoadIntegerWidened)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFread)->Arg(dtByte)->Arg(dtInteger)->Arg(dtReal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFreadCellBlock)
    ->Arg(dtByte)
    ->Arg(dtInteger)
    ->Arg(dtReal)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
