// The map window on a 4000 x 4000 real corridor map over a 4000 x 4000 real
// friction map: opening (read, stretch, colour), a full-view repaint, a
// zoomed-in repaint, and a change of stretch. Run with QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "MapWindow.h"
#include "raster/Raster.h"

namespace {

constexpr int32_t kSide = 4000;

// 51 random walks counted per cell (most cells 0, crossings up to a few
// hundred), and a smooth friction surface with some noise.
class tMaps {
public:
  tMaps() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "stravex-mapview-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    fDir = tmpl;
    std::vector<float> counts(static_cast<std::size_t>(kSide) * kSide, 0);
    unsigned seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int path = 0; path < 51; ++path) {
      int r = static_cast<int>(next() % kSide), c = static_cast<int>(next() % kSide);
      for (int step = 0; step < 20000; ++step) {
        counts[static_cast<std::size_t>(r) * kSide + c] += 1 + static_cast<float>(path % 7);
        r = std::clamp(r + static_cast<int>(next() >> 16) % 3 - 1, 0, kSide - 1);
        c = std::clamp(c + static_cast<int>(next() >> 16) % 3 - 1, 0, kSide - 1);
      }
    }
    std::vector<float> friction(counts.size());
    for (int r = 0; r < kSide; ++r)
      for (int c = 0; c < kSide; ++c)
        friction[static_cast<std::size_t>(r) * kSide + c] =
            50 + 40 * std::sin(r / 300.0) * std::cos(c / 200.0) +
            static_cast<float>(next() % 100) / 10;
    Write(Corridor(), counts);
    Write(Friction(), friction);
  }
  ~tMaps() {
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  std::string Corridor() const { return (fDir / "corridor").string(); }
  std::string Friction() const { return (fDir / "friction").string(); }

private:
  static void Write(const std::string& name, const std::vector<float>& cells) {
    stravex::tLiveRaster m;
    m.FileName = name;
    m.DataType = stravex::dtReal;
    m.Rows = kSide;
    m.Columns = kSide;
    m.MaxX = kSide * 25.0;
    m.MaxY = kSide * 25.0;
    m.FillConstant(0);
    std::FILE* f = std::fopen((name + m.ImageExtension()).c_str(), "wb");
    if (!f || std::fwrite(cells.data(), sizeof(float), cells.size(), f) != cells.size())
      std::abort();
    std::fclose(f);
  }
  std::filesystem::path fDir;
};

const tMaps& Maps() {
  static const tMaps maps;
  return maps;
}

stravex::gui::tMapViewInput Input(bool background) {
  stravex::gui::tMapViewInput in;
  in.MapFile = Maps().Corridor();
  in.Corridor = true;
  if (background) in.BackgroundFile = Maps().Friction();
  for (int k = 0; k < 51; ++k) {
    in.Points.emplace_back(1000.0 + k * 1900, 2000.0 + k * 1800);
    in.Labels.push_back(std::to_string(k + 1));
  }
  return in;
}

void BM_Open(benchmark::State& state) {
  const bool background = state.range(0) != 0;
  Maps();
  for (auto _ : state) {
    stravex::gui::TMapWindow w(Input(background));
    benchmark::DoNotOptimize(w.MapImage().constBits());
  }
}
BENCHMARK(BM_Open)->Arg(0)->Arg(1)->ArgName("background")->Unit(benchmark::kMillisecond);

// One paint of the canvas (about 800 x 600 pixels) into an image.
void Repaint(benchmark::State& state, bool zoomed) {
  stravex::gui::TMapWindow w(Input(true));
  w.resize(960, 720);
  w.show();
  QApplication::processEvents(); // laid out
  w.Fit();
  if (zoomed) w.ZoomAt(w.MapArea().center(), 40);
  QImage target(w.Canvas()->size(), QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    w.Canvas()->render(&target);
    benchmark::DoNotOptimize(target.constBits());
  }
  state.counters["width"] = target.width();
  state.counters["height"] = target.height();
}
void BM_RepaintFullView(benchmark::State& state) { Repaint(state, false); }
void BM_RepaintZoomed(benchmark::State& state) { Repaint(state, true); }
BENCHMARK(BM_RepaintFullView)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintZoomed)->Unit(benchmark::kMillisecond);

void BM_ChangeStretch(benchmark::State& state) {
  stravex::gui::TMapWindow w(Input(false));
  int k = 0;
  for (auto _ : state) w.SetStretch(static_cast<stravex::gui::tStretchKind>(k++ % 3));
}
BENCHMARK(BM_ChangeStretch)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
