// Strip scanners over in-memory maps: cells per second for the strip walk
// alone and for the binary and quantitative scanners reading three maps.
#include "paths/Strip.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

using namespace stravex;

namespace {

constexpr int32_t kSide = 2000;
constexpr int32_t kWidth = 5;

struct tSegment {
  double x1, y1, x2, y2;
};
// Two long diagonals and a shallow slant, in map units (1 unit per cell).
const tSegment kSegments[] = {{50, 50, 1950, 1950}, {50, 1950, 1950, 50}, {10, 600, 1990, 1400}};

class tMaps {
public:
  tMaps() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "stravex-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    fDir = tmpl;
    std::mt19937 gen(7);
    const tDataType types[] = {dtByte, dtInteger, dtReal};
    for (int i = 0; i < 3; ++i) {
      auto r = std::make_unique<tLiveRaster>();
      r->FileName = (fDir / ("map" + std::to_string(i))).string();
      r->Rows = r->Columns = kSide;
      r->MinX = r->MinY = 0;
      r->MaxX = r->MaxY = kSide;
      r->CellWidth = r->CellHeight = 1;
      r->DataType = types[i];
      r->FlagDef = fdBackground;
      r->FlagValue = 0;
      r->FillConstant(0);
      r->LoadData();
      std::uniform_int_distribution<int> value(0, 9);
      for (int32_t row = 0; row < kSide; ++row)
        for (int32_t col = 0; col < kSide; ++col)
          r->SetCell(row, col, static_cast<float>(value(gen)) * (i == 2 ? 0.37f : 1.0f));
      fOwned.push_back(std::move(r));
      list.push_back(fOwned.back().get());
    }
  }
  ~tMaps() {
    fOwned.clear();
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  std::vector<tRaster*> list;

private:
  std::filesystem::path fDir;
  std::vector<std::unique_ptr<tLiveRaster>> fOwned;
};

tMaps& Maps() {
  static tMaps maps;
  return maps;
}

int64_t StripCells(const tRaster& geometry) {
  int64_t n = 0;
  for (const tSegment& s : kSegments)
    StripGeometry(geometry, kWidth, s.x1, s.y1, s.x2, s.y2, [&](int32_t, int32_t) { ++n; });
  return n;
}

void BM_StripGeometry(benchmark::State& state) {
  const tRaster& geometry = *Maps().list[0];
  const int64_t perIteration = StripCells(geometry);
  for (auto _ : state) {
    int64_t n = 0;
    for (const tSegment& s : kSegments)
      StripGeometry(geometry, kWidth, s.x1, s.y1, s.x2, s.y2,
                    [&](int32_t row, int32_t col) { n += row ^ col; });
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(perIteration * state.iterations());
}

void BM_ScanStripBinary(benchmark::State& state) {
  const auto& maps = Maps().list;
  const int64_t perIteration = StripCells(*maps[0]);
  tVectorOfCardinal count, area;
  for (auto _ : state) {
    for (const tSegment& s : kSegments) {
      ScanStripBinary(maps, kWidth, s.x1, s.y1, s.x2, s.y2, count, area);
      benchmark::DoNotOptimize(count.data());
    }
  }
  state.SetItemsProcessed(perIteration * state.iterations());
  state.SetLabel("strip cells, 3 maps each");
}

void BM_ScanStripQuantitative(benchmark::State& state) {
  const auto& maps = Maps().list;
  const int64_t perIteration = StripCells(*maps[0]);
  tVectorOfDouble sum, mean, sd;
  tVectorOfCardinal area;
  for (auto _ : state) {
    for (const tSegment& s : kSegments) {
      ScanStripQuantitative(maps, kWidth, s.x1, s.y1, s.x2, s.y2, sum, mean, sd, area);
      benchmark::DoNotOptimize(sum.data());
    }
  }
  state.SetItemsProcessed(perIteration * state.iterations());
  state.SetLabel("strip cells, 3 maps each");
}

} // namespace

BENCHMARK(BM_StripGeometry);
BENCHMARK(BM_ScanStripBinary);
BENCHMARK(BM_ScanStripQuantitative);

BENCHMARK_MAIN();
