// What the image fingerprint costs a load: LoadData of a 4000 x 4000 map of
// bytes and of reals with hashing on and off, and the hash alone over a buffer
// of the same size (the fingerprint of a whole image as one more pass).
#include "ContentDigest.h"
#include "IdrisiEnv.h"
#include "IdrisiFile.h"
#include "Raster.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

using namespace stravex;

namespace {

constexpr int32_t kSide = 4000;

std::size_t ImageBytes(tDataType t) { return static_cast<std::size_t>(kSide) * kSide * t; }

// Varied image bytes (finite reals), so that nothing is faster for being uniform.
std::vector<unsigned char> ImageContent(tDataType t) {
  std::vector<unsigned char> bytes(ImageBytes(t));
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>((i * 2654435761u) >> 24);
  if (t == dtReal)
    for (std::size_t i = 3; i < bytes.size(); i += 4) bytes[i] &= 0xBF;
  return bytes;
}

// The byte and real maps, written once per run in a scratch folder.
class tMaps {
public:
  tMaps() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "stravex-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    fDir = tmpl;
    for (const tDataType t : {dtByte, dtReal}) {
      tRaster r;
      r.FileName = Name(t);
      r.DataType = t;
      r.Rows = kSide;
      r.Columns = kSide;
      r.MaxX = kSide;
      r.MaxY = kSide;
      r.FillConstant(1);
      const std::vector<unsigned char> bytes = ImageContent(t);
      std::FILE* f = std::fopen((r.FileName + ImageExt()).c_str(), "wb");
      if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
      std::fclose(f);
    }
  }
  ~tMaps() {
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  std::string Name(tDataType t) const { return (fDir / ("map" + std::to_string(t))).string(); }

private:
  std::filesystem::path fDir;
};

const tMaps& Maps() {
  static const tMaps maps;
  return maps;
}

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
