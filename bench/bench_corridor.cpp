// Corridor map on a 2000 x 2000 grid: paths per second when every added path
// rewrites the whole image file (LoadData, SetCell per cell, SaveData,
// ReleaseData) and when only the changed records are written in place.
// Both must leave identical image files before they are timed.
#include "base/RandomFunctions.h"
#include "paths/Corridor.h"
#include "paths/CostPath.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

using namespace stravex;

namespace {

constexpr int32_t kSide = 2000;
constexpr int kPaths = 16;

class tSetup {
public:
  tSetup() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "stravex-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    fDir = tmpl;
    friction.Rows = friction.Columns = kSide;
    friction.MinX = friction.MinY = 0;
    friction.MaxX = friction.MaxY = kSide;
    friction.CellWidth = friction.CellHeight = 1;
    // Real least-cost paths (few candidates each, to keep the set-up short)
    // between random ends a few hundred to about 1500 cells apart.
    std::mt19937 g(23);
    std::uniform_real_distribution<float> u(1.0f, 30.0f);
    tMatrixOfSingle f(kSide, std::vector<float>(kSide));
    for (auto& row : f)
      for (float& v : row) v = u(g);
    std::uniform_int_distribution<int> cell(0, kSide - 1);
    tRandomGenerator random;
    random.Seed(5, 5);
    tPathRequest request;
    request.Rules.Friction = &f;
    request.Candidates = 4;
    for (int k = 0; k < kPaths; ++k) {
      request.Row1 = cell(g);
      request.Col1 = cell(g);
      request.Row2 = cell(g);
      request.Col2 = cell(g);
      t2DiPoints p = FindLeastCostPath(request, random).Path;
      cells += p.size();
      paths.push_back(std::move(p));
    }
  }
  ~tSetup() {
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  std::string File(const std::string& name) const { return (fDir / name).string(); }

  tRaster friction;
  std::vector<t2DiPoints> paths;
  std::size_t cells = 0;

private:
  std::filesystem::path fDir;
};

tSetup& Setup() {
  static tSetup s;
  return s;
}

// The whole-file cycle, once per path.
void AddByRewrite(tLiveRaster& corridor, const t2DiPoints& path) {
  corridor.LoadData();
  for (const t2DiPoint& p : path) {
    const float v = static_cast<float>(std::nearbyint(corridor.GetCell(p.row, p.col))) + 1;
    corridor.SetCell(p.row, p.col, v);
    if (v > corridor.MaxValue) corridor.MaxValue = v;
  }
  corridor.SaveData();
  corridor.ReleaseData();
}

std::unique_ptr<tLiveRaster> RewriteMap(const std::string& name) {
  auto r = tLiveRaster::CreateLike(Setup().friction);
  r->DataType = dtInteger;
  r->FileName = name;
  r->FillConstant(0);
  return r;
}

std::string Bytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Agree() {
  tSetup& s = Setup();
  auto rewrite = RewriteMap(s.File("check-rewrite"));
  tCorridorMap inPlace(s.friction, s.File("check-inplace"));
  inPlace.FillZero();
  for (const t2DiPoints& p : s.paths) {
    AddByRewrite(*rewrite, p);
    AddPathToCorridor(inPlace, p);
  }
  return Bytes(rewrite->FileName + ImageExt()) == Bytes(inPlace.Raster().FileName + ImageExt()) &&
         rewrite->MaxValue == inPlace.Raster().MaxValue;
}

void SetCounters(benchmark::State& state, int64_t paths) {
  state.counters["paths_per_s"] = benchmark::Counter(double(paths), benchmark::Counter::kIsRate);
  state.counters["cells_per_path"] = double(Setup().cells) / kPaths;
}

void BM_WholeFileRewrite(benchmark::State& state) {
  auto r = RewriteMap(Setup().File("rewrite"));
  int64_t n = 0;
  for (auto _ : state) {
    AddByRewrite(*r, Setup().paths[n % kPaths]);
    ++n;
  }
  SetCounters(state, n);
}

void BM_InPlaceRecords(benchmark::State& state) {
  tCorridorMap c(Setup().friction, Setup().File("inplace"));
  c.FillZero();
  int64_t n = 0;
  for (auto _ : state) {
    AddPathToCorridor(c, Setup().paths[n % kPaths]);
    ++n;
  }
  SetCounters(state, n);
}

BENCHMARK(BM_WholeFileRewrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InPlaceRecords)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
  if (!Agree()) {
    std::fprintf(stderr, "whole-file and in-place corridors disagree\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
