#pragma once
// The map columns shared by the population, sequence and bootstrap reports:
// header names and, for one path between two points, the binary, quantitative
// and topography blocks, by strips or by least-cost paths.
#include "analysis/AnalysisSettings.h"
#include "analysis/MapSet.h"
#include "analysis/ReportWriter.h"
#include "base/CommonDecl.h"
#include "base/RandomFunctions.h"
#include "paths/CostPathDecl.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace stravex {

class tRaster;
class tLiveRaster;
class tExactLandscape;
struct tExactPlan;

struct tPathScanOptions {
  TConnectivityAlgorithm Connectivity = caFixedWidthStrip;
  int32_t PathWidth = 1; // strip width, ratio, or number of least-cost paths
  int32_t Seed = 10;
  // Least-cost only: the friction map (read once), the criterion and its
  // weights, and the topography constraint.
  tPathRules Rules;
  // Exact least-cost only: the friction map's missing value and name.
  std::optional<float> FrictionFlag;
  std::string FrictionName;
};

// The options of a run's settings. Sequence runs (forSequence) fall back to a
// length weight of 1 and take no topography constraint; the population
// matrix constrains least-cost paths by the dem when a direction is set.
// A criterion outside the list raises ERangeError (least-cost runs only).
// frictionMap, when given, tells the exact search which friction cells are missing.
tPathScanOptions MakeScanOptions(const TAnalysisSettings& settings, bool forSequence,
                                 const tMatrixOfSingle* friction, const tLiveRaster* dem,
                                 const tRaster* frictionMap = nullptr);

// Result of the map blocks of one path.
struct tPathScanResult {
  std::string Columns;                 // the blocks, each column preceded by a tab
  std::vector<t2DiPoints> BinaryPaths; // least-cost paths of the binary scan, in order
  double BinaryLengthSum = 0;          // SumOfValues of the binary Length vector
  // Least-cost scans: the generator as the scan left it. A caller that
  // computes on workers copies it back into the run's generator when it
  // consumes the row, so that the run's generator ends as after a
  // one-thread run.
  bool Seeded = false;
  tRandomGenerator RandomAfter;
};

class tPathScanner {
public:
  // Exact runs take the cells of frictionCells, when given (the matrix
  // options.Rules.Friction points to), into the search's own copy and leave
  // it empty, so that the run holds one copy of the friction map; the scans
  // then read the friction through that copy. Other runs leave it alone.
  tPathScanner(const tMapSet& maps, const tPathScanOptions& options,
               tMatrixOfSingle* frictionCells = nullptr);
  ~tPathScanner();
  tPathScanner(const tPathScanner&) = delete;
  tPathScanner& operator=(const tPathScanner&) = delete;
  // Header columns (each preceded by a tab) of the map blocks.
  std::string HeaderColumns() const;
  // Scans the path from (x1, y1) to (x2, y2). Least-cost scans re-seed
  // `random` with (Seed, seedIndex) before the binary and again before the
  // quantitative scan, which replays the binary scan's searches when both
  // start and end on the same cells; other scans leave it alone. Safe to
  // call from several threads, each with its own generator.
  tPathScanResult Scan(double x1, double y1, double x2, double y2, int32_t seedIndex,
                       tRandomGenerator& random) const;

  // Exact least-cost scans: declares the points each source pairs with, so
  // that one search from a source serves all its pairs. Scans from source
  // number `source` of the plan then pass it to ScanFrom; the search runs
  // once, on the first thread that needs it, and its arrays are freed when
  // it ends. Call before any scan.
  void PlanSources(const std::vector<t2DPoint>& sources,
                   const std::vector<std::vector<t2DPoint>>& targets);
  tPathScanResult ScanFrom(int32_t source, double x1, double y1, double x2, double y2,
                           int32_t seedIndex, tRandomGenerator& random) const;

private:
  tPathScanResult ScanExact(double x1, double y1, double x2, double y2, int32_t source,
                            tRandomGenerator& random) const;

  std::vector<tRaster*> fBinary, fQuantitative;
  tLiveRaster* fTopography = nullptr;
  tPathScanOptions fOptions;
  std::unique_ptr<tExactLandscape> fExact;
  std::unique_ptr<tExactPlan> fPlan;
};

} // namespace stravex
