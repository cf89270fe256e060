#pragma once
// Exact least-cost path: a graph search over the 8-neighbour grid that finds,
// for the "Friction sum" rule of the Monte-Carlo search, the cheapest chain
// of cells between two cells. One search from a source settles every target
// it is asked for. Draws no random numbers.
#include "base/CommonDecl.h"
#include "paths/CostPathDecl.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace stravex {

class tLiveRaster;

// Zeroed memory for the exact search's arrays, mapped anonymously: a page
// takes room only once it is written, so an array costs what is used of it.
class tZeroedCells {
public:
  tZeroedCells() = default;
  explicit tZeroedCells(std::size_t bytes);
  ~tZeroedCells();
  tZeroedCells(tZeroedCells&& other) noexcept;
  tZeroedCells& operator=(tZeroedCells&& other) noexcept;
  tZeroedCells(const tZeroedCells&) = delete;
  tZeroedCells& operator=(const tZeroedCells&) = delete;
  template <typename T>
  T* As() const {
    return static_cast<T*>(fData);
  }

private:
  void* fData = nullptr;
  std::size_t fBytes = 0;
};

// What one search did, for measurements.
struct tExactSearchStats {
  uint64_t Settled = 0; // cells taken from the queue at their final cost
};

// What a search needs of a run, prepared once and shared read-only by every
// search (also across threads). A cell cannot be passed when its friction is
// missing (equal to frictionFlag), NaN or infinite. With a topography map and
// a direction, a step p -> q is allowed when p holds topography data and
// (z(q) - z(p) + d * tolerance) * d >= 0, d = sign(direction).
class tExactLandscape {
public:
  // Refuses (EInvalidOperation) a negative weight and a negative friction
  // value, naming it; frictionName names the map in that message.
  // The rules' criterion is not looked at (CheckExactCriterion); a missing
  // friction view raises EInvalidOperation.
  tExactLandscape(const tPathRules& rules, std::optional<float> frictionFlag,
                  const std::string& frictionName);
  // The same from the cells of friction instead of rules.Friction, which it
  // takes over: a band of rows is freed as soon as it is copied, so that the
  // map and the copy are never both whole. friction is left empty, also when
  // the map is refused.
  tExactLandscape(tMatrixOfSingle&& friction, const tPathRules& rules,
                  std::optional<float> frictionFlag, const std::string& frictionName);

  int32_t Rows() const { return fRows; }
  int32_t Cols() const { return fCols; }
  // The friction of a map cell that can be passed (the map's value), NaN for
  // one that cannot.
  float Friction(int32_t row, int32_t col) const { return Cells()[Tiled(row, col)]; }

private:
  friend class tExactSearch;
  friend std::vector<tFoundPath> FindExactLeastCostPaths(const tExactLandscape&, t2DiPoint,
                                                         std::span<const t2DiPoint>,
                                                         tExactSearchStats*);
  void Build(const tMatrixOfSingle& friction, tMatrixOfSingle* owned, const tPathRules& rules,
             const std::string& frictionName);
  bool Passable(int32_t row, int32_t col) const { return !std::isnan(Friction(row, col)); }
  double Weight(int32_t row, int32_t col) const; // frictionWeight * f + lengthWeight
  const float* Cells() const { return fCells.As<float>(); }
  const float* Z() const { return fZ.As<float>(); }
  const uint8_t* ZMissing() const { return fZMissing.As<uint8_t>(); }
  // The place of a cell (row, column from -1 to Rows or Cols) in the tiled
  // arrays.
  std::size_t Tiled(int32_t row, int32_t col) const {
    const auto r = static_cast<uint32_t>(row + 1), c = static_cast<uint32_t>(col + 1);
    const std::size_t tile = static_cast<std::size_t>(r >> fTileRowShift) * fTilesPerRow +
                             static_cast<std::size_t>(c >> fTileColShift);
    return (tile << (fTileRowShift + fTileColShift)) +
           ((r & ((1u << fTileRowShift) - 1)) << fTileColShift) + (c & ((1u << fTileColShift) - 1));
  }

  std::optional<float> fFlag;
  int32_t fRows = 0, fCols = 0;
  int d = 0; // 0: no slope rule
  double fTolerance = 0;
  double fLengthWeight = 0, fFrictionWeight = 1;
  double fMinStep = 0, fMaxStep = 0; // smallest positive and largest cost of entering a cell
  // The searches' copy of the map, in tiles of 2^fTileRowShift rows by
  // 2^fTileColShift columns (row-major within a tile, tiles row-major), the
  // map framed by one ring of cells that cannot be passed: neighbours are
  // found without bounds checks, and a search's working set stays in few
  // pages and cache lines whichever way it spreads. It is the run's only
  // whole copy of the friction: paths are costed from it.
  uint32_t fTileRowShift = 0, fTileColShift = 0;
  std::size_t fTilesPerRow = 0, fTiledCells = 0;
  tZeroedCells fCells;    // friction, NaN for cells that cannot be passed
  tZeroedCells fZ;        // topography, tiled, when d != 0
  tZeroedCells fZMissing; // topography flags, tiled, when d != 0 (1 on the frame)
};

// Refuses (EInvalidOperation) the criteria other than "Friction sum".
void CheckExactCriterion(tMinimiseCriterion criterion);

// The cheapest paths from source to every target, in the order of targets,
// by one search that stops once every reachable target is settled. A path's
// cost is the Monte-Carlo rule's: frictionWeight x sum of the friction of
// all its cells, both ends included, + lengthWeight x number of cells.
// Equal ends give the two-cell path (a, a), and ends outside the grid raise
// EAssertionFailed, as the Monte-Carlo search does.
// Ties: cells are settled in order of cost, then of row-major index; a cell
// keeps the first neighbour that reached it at its final cost.
// With stats, also tells what the search did (counted after it, so a search
// without them costs nothing more).
std::vector<tFoundPath> FindExactLeastCostPaths(const tExactLandscape& landscape, t2DiPoint source,
                                                std::span<const t2DiPoint> targets,
                                                tExactSearchStats* stats = nullptr);

// Bytes per friction cell a search holds at most while it runs (1 of state,
// 12 for each waiting cell, with room for a quarter more), beyond a fixed
// 100 KB or so; the state takes memory only in the pages the search
// reaches. The landscape that all searches share holds 4 bytes per cell (9
// with a slope rule), and is the run's only whole copy of the friction.
// Both count the cells of the tiled copy: the map with a frame of one cell,
// rounded up to whole tiles.
constexpr std::size_t kExactSearchBytesPerCell = 16;

} // namespace stravex
