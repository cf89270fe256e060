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
class tCorridorMap;

// What the searches of one scan found, in search order (a search without a
// path has an empty one). A second scan between the same end cells,
// re-seeded alike and with the same search settings, would find the same
// paths with the same draws; it replays the record instead.
struct tSearchRecord {
  double Row1 = 0, Col1 = 0, Row2 = 0, Col2 = 0;
  std::vector<t2DiPoints> Paths;
  std::vector<long double> Costs;
  std::vector<uint32_t> Lengths;
  // The generator as the searches left it.
  tRandomState RandomAfter;
};

// The searches of one scan: Paths searches between (X1, Y1) and (X2, Y2),
// converted to cells with the first map. Paths must be >= 1.
struct tLeastCostScan {
  tPathRules Rules;
  double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  int32_t Paths = 1;
  // Binary scans: every non-empty path is added to the corridor, and its
  // documentation file is rewritten once at the end of the call.
  tCorridorMap* Corridor = nullptr;
  // A record of a scan between the same end cells with the same number of
  // paths is replayed instead of searching: same results, and the generator
  // is set to the state it records.
  const tSearchRecord* Reuse = nullptr;
};

// Binary and count maps, one element per map: Count (positive rounded
// values) and Area (non-missing cells) pooled over all paths; Length and
// Cost are means per search (a search without a path adds length 0 and
// cost -1).
struct tBinaryScan {
  tVectorOfCardinal Count, Area;
  tVectorOfDouble Length;
  tVectorOfExtended Cost;
  tSearchRecord Searches;
};

// Quantitative maps: Sum, Mean and population SD of the non-missing values
// of all paths pooled (80-bit sums; -1 for all three without such a cell),
// Area, and Length and Cost as above.
struct tQuantitativeScan {
  tVectorOfDouble Sum, Mean, SD;
  tVectorOfCardinal Area;
  tVectorOfDouble Length;
  tVectorOfExtended Cost;
  tSearchRecord Searches;
};

// The searches draw from `random`. No maps: empty vectors, nothing searched.
tBinaryScan ScanLeastCostBinary(const std::vector<tRaster*>& maps, const tLeastCostScan& scan,
                                tRandomGenerator& random);
tQuantitativeScan ScanLeastCostQuantitative(const std::vector<tRaster*>& maps,
                                            const tLeastCostScan& scan, tRandomGenerator& random);

} // namespace stravex
