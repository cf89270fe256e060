#pragma once
// Least-cost path statistics: nPaths least-cost searches between two points
// and the environmental maps scanned along every path found, pooled.
#include "base/CommonDecl.h"
#include "base/RandomFunctions.h"
#include "paths/CostPathDecl.h"

#include <cstdint>
#include <vector>

namespace stravex {

class tRaster;
class tLiveRaster;
class tCorridorMap;

// What the searches of one scan found. A second scan between the same end
// cells, re-seeded alike and with the same search settings, would find the
// same paths with the same draws; it replays the record instead.
struct tSearchRecord {
  double Row1 = 0, Col1 = 0, Row2 = 0, Col2 = 0;
  std::vector<t2DiPoints> Paths;
  std::vector<long double> Costs;
  std::vector<uint32_t> Lengths;
  // The calling thread's generator as the searches left it.
  tRandomState RandomAfter;
};

// Binary and count maps: Count (positive rounded values) and Area (non-missing
// cells) pooled over all paths; Length and Cost are means per search (a search
// without a path adds length 0 and cost -1). Every non-empty path is added to
// the corridor when one is given, and its documentation file is rewritten
// once at the end of the call.
// The end points are converted to cells with the first map; the friction map
// is read whole once per call. With pathsOut, element k receives the path of
// the k-th search (empty when none was found). nPaths must be >= 1.
void ScanLeastCostBinary(const std::vector<tRaster*>& maps, tRaster& friction, double x1, double y1,
                         double x2, double y2, int32_t nPaths, tMinimiseCriterion criterion,
                         double frictionWeight, double lengthWeight, tVectorOfCardinal& Count,
                         tVectorOfCardinal& Area, tVectorOfDouble& Length, tVectorOfExtended& Cost,
                         tCorridorMap* corridor, const tLiveRaster* topography, int32_t direction,
                         double tolerance, std::vector<t2DiPoints>* pathsOut = nullptr);
// The same with a friction map already read (results identical); recordOut
// receives what the searches found, and a record of the same end cells and
// number of paths is replayed instead of searching.
void ScanLeastCostBinary(const std::vector<tRaster*>& maps, const tMatrixOfSingle& friction,
                         double x1, double y1, double x2, double y2, int32_t nPaths,
                         tMinimiseCriterion criterion, double frictionWeight, double lengthWeight,
                         tVectorOfCardinal& Count, tVectorOfCardinal& Area, tVectorOfDouble& Length,
                         tVectorOfExtended& Cost, tCorridorMap* corridor,
                         const tLiveRaster* topography, int32_t direction, double tolerance,
                         std::vector<t2DiPoints>* pathsOut = nullptr,
                         tSearchRecord* recordOut = nullptr, const tSearchRecord* reuse = nullptr);

// Quantitative maps: Sum, Mean and population SD of the non-missing values
// of all paths pooled (80-bit sums; -1 for all three without such a cell),
// Area, and Length and Cost as above. With a friction map already read, a
// record of a scan between the same end cells (same seed and settings) is
// replayed instead of searching again: same results, same generator state.
void ScanLeastCostQuantitative(const std::vector<tRaster*>& maps, tRaster& friction, double x1,
                               double y1, double x2, double y2, int32_t nPaths,
                               tMinimiseCriterion criterion, double frictionWeight,
                               double lengthWeight, tVectorOfDouble& Sum, tVectorOfDouble& Mean,
                               tVectorOfDouble& SD, tVectorOfCardinal& Area,
                               tVectorOfDouble& Length, tVectorOfExtended& Cost,
                               const tLiveRaster* topography, int32_t direction, double tolerance,
                               std::vector<t2DiPoints>* pathsOut = nullptr);
void ScanLeastCostQuantitative(const std::vector<tRaster*>& maps, const tMatrixOfSingle& friction,
                               double x1, double y1, double x2, double y2, int32_t nPaths,
                               tMinimiseCriterion criterion, double frictionWeight,
                               double lengthWeight, tVectorOfDouble& Sum, tVectorOfDouble& Mean,
                               tVectorOfDouble& SD, tVectorOfCardinal& Area,
                               tVectorOfDouble& Length, tVectorOfExtended& Cost,
                               const tLiveRaster* topography, int32_t direction, double tolerance,
                               std::vector<t2DiPoints>* pathsOut = nullptr,
                               const tSearchRecord* reuse = nullptr);

} // namespace stravex
