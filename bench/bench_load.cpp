// LoadData of a 4000 x 4000 map of each data type, beside one plain fread of
// the same image bytes into a freshly allocated buffer of the same size: a
// std::vector (the C library may hand back the same pages every time), and a
// block of the live raster's own cell storage (fresh pages, as LoadData gets).
#include "IdrisiEnv.h"
#include "Raster.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace stravex;

namespace {

constexpr int32_t kSide = 4000;

// The three maps, written once per run in a scratch folder.
class tMaps {
public:
  tMaps() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "stravex-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    fDir = tmpl;
    for (const tDataType t : {dtByte, dtInteger, dtReal}) {
      tRaster r;
      r.FileName = Name(t);
      r.DataType = t;
      r.Rows = kSide;
      r.Columns = kSide;
      r.MaxX = kSide;
      r.MaxY = kSide;
      r.FillConstant(1);
      // Varied content, so that nothing is faster for being uniform.
      std::vector<unsigned char> bytes(static_cast<std::size_t>(kSide) * kSide * t);
      for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>((i * 2654435761u) >> 24);
      if (t == dtReal) // keep the floats finite: clear the top exponent bit
        for (std::size_t i = 3; i < bytes.size(); i += 4) bytes[i] &= 0xBF;
      std::FILE* f = std::fopen((r.FileName + ImageExt()).c_str(), "wb");
      std::fwrite(bytes.data(), 1, bytes.size(), f);
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
