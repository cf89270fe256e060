// What the image fingerprint costs a load: LoadData of a 4000 x 4000 map of
// bytes and of reals with hashing on and off, and the hash alone over a buffer
// of the same size (the fingerprint of a whole image as one more pass).
#include "BenchMaps.h"
#include "base/ContentDigest.h"
#include "raster/IdrisiEnv.h"
#include "raster/IdrisiFile.h"
#include "raster/Raster.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace stravex;
using namespace stravex::bench;

namespace {

// Drops the image from the page cache, so that the next load reads the disk.
void Evict(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) std::abort();
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// range(1) = 1: every load reads the disk (a map opened for the first time).
void Load(benchmark::State& state, bool hashing) {
  const auto type = static_cast<tDataType>(state.range(0));
  const bool cold = state.range(1) != 0;
  tLiveRaster m(Maps().Name(type));
  SetImageHashing(hashing);
  for (auto _ : state) {
    if (cold) {
      state.PauseTiming();
      Evict(Maps().Name(type) + ImageExt());
      state.ResumeTiming();
    }
    m.LoadData();
    benchmark::DoNotOptimize(m.GetCell(kSide - 1, kSide - 1));
    if (m.ImageDigest.empty() == hashing) state.SkipWithError("digest not as switched");
    m.ReleaseData();
  }
  SetImageHashing(true);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(ImageBytes(type)));
}

void BM_LoadHashed(benchmark::State& state) { Load(state, true); }
void BM_LoadUnhashed(benchmark::State& state) { Load(state, false); }

// The hash alone over the image's bytes already in memory.
void BM_HashOnly(benchmark::State& state) {
  const auto type = static_cast<tDataType>(state.range(0));
  const std::vector<unsigned char> bytes = ImageContent(type);
  for (auto _ : state) {
    tContentDigest d;
    d.Update(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(d.Hex());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

} // namespace

BENCHMARK(BM_LoadHashed)
    ->ArgsProduct({{dtByte, dtReal}, {0, 1}})
    ->ArgNames({"type", "cold"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadUnhashed)
    ->ArgsProduct({{dtByte, dtReal}, {0, 1}})
    ->ArgNames({"type", "cold"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashOnly)->Arg(dtByte)->Arg(dtReal)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
