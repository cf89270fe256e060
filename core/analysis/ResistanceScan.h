#pragma once
// The resistance distance of a population matrix run: the friction map read
// as a grid of resistors, solved once for every sample point, the report
// columns of a pair and the maps of the current that flows between pairs.
#include "analysis/AnalysisSettings.h"
#include "analysis/MapSet.h"
#include "base/CommonDecl.h"
#include "base/Reporter.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace stravex {

class tRaster;
class tResistanceNetwork;

// The report columns after the pair's (each preceded by a tab): Resistance,
// then MAP_CurrentMean of every binary and every quantitative map.
std::string ResistanceHeaderColumns(const tMapSet& maps);

class tResistanceScan {
public:
  // Solves the circuit of frictionCells (the friction map's cells, which it
  // frees) for every point, each on the friction's cell of the point under
  // the map's cell rule. Raises what the network raises (a friction <= 0
  // names the map and the cell). threads < 1: one per core.
  tResistanceScan(const tMapSet& maps, const tRaster& friction, tMatrixOfSingle& frictionCells,
                  const std::vector<t2DPoint>& points, TResistanceSolver solver, int threads);
  ~tResistanceScan();
  tResistanceScan(const tResistanceScan&) = delete;
  tResistanceScan& operator=(const tResistanceScan&) = delete;

  // The effective resistance of points i and j: 0 on one cell, -1 when a
  // point is on a missing cell or the two are not connected.
  double Resistance(int32_t i, int32_t j) const;
  // The columns of ResistanceHeaderColumns for points i and j. A map's mean
  // is -1 when the pair has no resistance distance or the current passes no
  // cell where the map holds a value; on one cell it is the map's value there.
  // Safe to call from several threads.
  std::string Columns(int32_t i, int32_t j) const;
  // Adds the current of the pair (1 A from i to j) to cells (rows x columns
  // of the friction, row-major); nothing for a pair without current.
  void AddPairCurrent(int32_t i, int32_t j, std::span<float> cells) const;
  std::size_t CellCount() const;
  // What solved the network, for the run's log.
  std::vector<std::string> SolverLines() const;

private:
  std::vector<const tRaster*> fMaps; // binary, then quantitative
  std::vector<t2DiPoint> fCells;     // the points' cells
  std::size_t fCellCount = 0;
  std::string fSolverName;
  double fTolerance = 0;
  std::unique_ptr<tResistanceNetwork> fNetwork;
};

// Writes cells (geometry's rows x columns, row-major) as a 32-bit real map
// named name (without extension) on geometry's grid, with the notes as its
// comments; every cell a value (no background). Both files are replaced only
// once complete. Returns the map written (documentation fields only).
std::unique_ptr<tRaster> WriteCurrentMap(const tRaster& geometry, const std::string& name,
                                         std::span<const float> cells,
                                         const std::vector<std::string>& notes);

} // namespace stravex
