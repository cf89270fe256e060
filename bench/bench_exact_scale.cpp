// The cells the exact searches of a population matrix settle, for
// bench/scale.sh: the friction map and sample points of a bench landscape
// (bench/bench_landscape.py), one search per source i towards the points
// j > i, as `stravex-cli matrix --algorithm exact` plans them with the default
// weights (friction 1, length 0), no missing value and no distance limit.
//
//   bench_exact_scale FOLDER [THREADS]      (THREADS default 1)
//
// Prints one line per source, "source I targets N settled S", then
// "cells C settled S searches K" over all of them. Timing is left to the
// matrix run itself: this program only counts.
#include "paths/ExactPath.h"
#include "raster/Raster.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace stravex;

namespace {

// The "[Coordinates]" block of a population file: one "x<TAB>y" line per point.
std::vector<t2DPoint> ReadPoints(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::vector<t2DPoint> points;
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      if (inside) break;
      inside = line == "[Coordinates]";
      continue;
    }
    if (!inside || line.empty()) continue;
    std::istringstream s(line);
    t2DPoint p{};
    if (!(s >> p.x >> p.y)) throw std::runtime_error("bad coordinate line: " + line);
    points.push_back(p);
  }
  if (points.empty()) throw std::runtime_error("no coordinates in " + path);
  return points;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: bench_exact_scale FOLDER [THREADS]\n");
    return 2;
  }
  const unsigned threads = argc == 3 ? static_cast<unsigned>(std::max(1, std::atoi(argv[2]))) : 1;
  try {
    const std::string dir = argv[1];
    tRaster friction(dir + "/friction"); // streamed into the matrix, not held
    tMatrixOfSingle cells;
    friction.ReadSingleMatrix(cells);
    tPathRules rules;
    rules.Friction = &cells;
    // Taken over, as the run does: one copy of the friction map.
    const tExactLandscape landscape(std::move(cells), rules, std::nullopt, friction.MapName());

    const std::vector<t2DPoint> points = ReadPoints(dir + "/samples.txt");
    const auto cellOf = [&](const t2DPoint& p) {
      return t2DiPoint{friction.RowOfY(p.y), friction.ColOfX(p.x)};
    };
    // The searches are independent: spread over the threads asked for, their
    // counts printed in source order.
    const std::size_t sources = points.size() - 1;
    std::vector<uint64_t> counts(sources), wanted(sources);
    std::atomic<std::size_t> next{0};
    std::vector<std::exception_ptr> errors(threads);
    const auto work = [&](unsigned t) {
      try {
        for (std::size_t i; (i = next.fetch_add(1)) < sources;) {
          std::vector<t2DiPoint> targets;
          for (std::size_t j = i + 1; j < points.size(); ++j) targets.push_back(cellOf(points[j]));
          tExactSearchStats stats;
          FindExactLeastCostPaths(landscape, cellOf(points[i]), targets, &stats);
          counts[i] = stats.Settled;
          wanted[i] = targets.size();
        }
      } catch (...) {
        errors[t] = std::current_exception();
      }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (std::thread& t : pool) t.join();
    for (const std::exception_ptr& e : errors)
      if (e) std::rethrow_exception(e);
    uint64_t settled = 0, searches = 0;
    for (std::size_t i = 0; i < sources; ++i) {
      std::printf("source %zu targets %llu settled %llu\n", i,
                  static_cast<unsigned long long>(wanted[i]),
                  static_cast<unsigned long long>(counts[i]));
      settled += counts[i];
      ++searches;
    }
    std::printf("cells %llu settled %llu searches %llu\n",
                static_cast<unsigned long long>(int64_t{landscape.Rows()} * landscape.Cols()),
                static_cast<unsigned long long>(settled),
                static_cast<unsigned long long>(searches));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_exact_scale: %s\n", e.what());
    return 1;
  }
  return 0;
}
