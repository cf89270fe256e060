#include "analysis/ResistanceScan.h"

#include "analysis/OrderedRunner.h"
#include "analysis/ReportWriter.h"
#include "base/AtomicFile.h"
#include "base/Errors.h"
#include "base/Numeric.h"
#include "paths/Resistance.h"
#include "raster/IdrisiFile.h"
#include "raster/Raster.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace stravex {

namespace {

std::vector<const tRaster*> ScannedMaps(const tMapSet& maps) {
  std::vector<const tRaster*> scanned;
  for (const tRaster* m : maps.Binary()) scanned.push_back(m);
  for (const tRaster* m : maps.Quantitative()) scanned.push_back(m);
  return scanned;
}

tResistanceSolver SolverOf(TResistanceSolver solver) {
  switch (solver) {
  case rsDirect: return tResistanceSolver::Direct;
  case rsIterative: return tResistanceSolver::Iterative;
  default: return tResistanceSolver::Auto;
  }
}

std::string Megabytes(std::size_t bytes) {
  return FormatGeneral(std::round(static_cast<double>(bytes) / (1 << 20) * 10) / 10) + " MB";
}

std::string Short(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2g", v);
  return text;
}

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", s);
  return text;
}

} // namespace

std::string ResistanceHeaderColumns(const tMapSet& maps) {
  std::string h = "\tResistance";
  for (const tRaster* m : ScannedMaps(maps)) h += "\t" + m->MapName() + "_CurrentMean";
  return h;
}

tResistanceScan::tResistanceScan(const tMapSet& maps, const tRaster& friction,
                                 tMatrixOfSingle& frictionCells,
                                 const std::vector<t2DPoint>& points, TResistanceSolver solver,
                                 int threads)
    : fMaps(ScannedMaps(maps)),
      fCellCount(static_cast<std::size_t>(std::max(friction.Rows, 0)) *
                 static_cast<std::size_t>(std::max(friction.Columns, 0))) {
  for (const tRaster* m : fMaps)
    if (m->Rows != friction.Rows || m->Columns != friction.Columns)
      throw EInvalidOperation("Resistance distance: the map " + m->MapName() +
                              " does not overlay the friction map " + friction.MapName());
  for (const t2DPoint& p : points) fCells.push_back({friction.RowOfY(p.y), friction.ColOfX(p.x)});
  tResistanceOptions options;
  options.Solver = SolverOf(solver);
  options.Threads = static_cast<int>(EffectiveThreads(threads));
  fTolerance = options.Tolerance;
  // A refusal names the barrier's cells by their centres' coordinates too
  // (the geometry copied: a pair's refusal comes after the map may be gone).
  options.CellName = [minX = friction.MinX, maxY = friction.MaxY, width = friction.CellWidth,
                      height = friction.CellHeight](int32_t row, int32_t col) {
    return "row " + std::to_string(row) + ", column " + std::to_string(col) + " (x " +
           FormatGeneral(static_cast<double>(minX + (col + 0.5L) * width)) + ", y " +
           FormatGeneral(static_cast<double>(maxY - (row + 0.5L) * height)) + ")";
  };
  std::optional<float> flag;
  if (friction.FlagDef == fdBackground) flag = friction.FlagValue;
  fNetwork = std::make_unique<tResistanceNetwork>(frictionCells, flag, friction.MapName(), fCells,
                                                  options);
  // The network keeps its own copy of the friction.
  tMatrixOfSingle().swap(frictionCells);
}

tResistanceScan::~tResistanceScan() = default;

double tResistanceScan::Resistance(int32_t i, int32_t j) const {
  return fNetwork->Resistance(static_cast<std::size_t>(i), static_cast<std::size_t>(j));
}

std::string tResistanceScan::Columns(int32_t i, int32_t j) const {
  const double r = Resistance(i, j);
  tReportRow row;
  row.AddTab().AddReal(r);
  std::vector<std::optional<double>> means(fMaps.size());
  if (r > 0) {
    means = fNetwork->CurrentWeightedMeans(static_cast<std::size_t>(i), static_cast<std::size_t>(j),
                                           fMaps);
  } else if (r == 0) {
    // Both points on one cell: the flow is that cell.
    const t2DiPoint& c = fCells[static_cast<std::size_t>(i)];
    for (std::size_t k = 0; k < fMaps.size(); ++k) {
      const double v = fMaps[k]->GetCell(c.row, c.col);
      if (std::isfinite(v) && !fMaps[k]->IsMissingValue(static_cast<float>(v))) means[k] = v;
    }
  }
  for (const std::optional<double>& m : means) row.AddTab().AddReal(m.value_or(-1.0));
  return row.Text();
}

void tResistanceScan::AddPairCurrent(int32_t i, int32_t j, std::span<float> cells) const {
  fNetwork->AddPairCurrent(static_cast<std::size_t>(i), static_cast<std::size_t>(j), cells);
}

std::size_t tResistanceScan::CellCount() const { return fCellCount; }

std::vector<std::string> tResistanceScan::SolverLines() const {
  const tResistanceSolveInfo& info = fNetwork->Info();
  std::vector<std::string> lines;
  if (info.DirectParts > 0)
    lines.push_back(std::string("Resistance solver: direct (") +
                    (info.SubtractionFreeParts == 0 ? "sparse Cholesky"
                     : info.SubtractionFreeParts == info.DirectParts
                         ? "subtraction-free elimination"
                         : "sparse Cholesky and subtraction-free elimination") +
                    "), " + std::to_string(info.DirectParts) + " connected part" +
                    (info.DirectParts == 1 ? "" : "s") + ", largest factor about " +
                    Megabytes(info.LargestFactorBytes));
  if (info.IterativeParts > 0)
    lines.push_back("Resistance solver: iterative (conjugate gradients, algebraic multigrid), " +
                    std::to_string(info.IterativeParts) + " connected part" +
                    (info.IterativeParts == 1 ? "" : "s") + ", tolerance " +
                    FormatGeneral(fTolerance) + ", most iterations " +
                    std::to_string(info.MostIterations));
  if (lines.empty()) {
    lines.push_back("Resistance solver: none needed (no pair of points to solve)");
    return lines;
  }
  if (info.SubtractionFreeParts > 0)
    lines.push_back("Resistance solver: " + std::to_string(info.SubtractionFreeParts) +
                    " of the direct parts eliminated subtraction-free (GTH), " +
                    (info.CholeskyRejected > 0
                         ? std::to_string(info.CholeskyRejected) +
                               " of them after the Cholesky factor failed its check"
                         : std::string("for their friction ratio")) +
                    "; largest friction ratio " + Short(info.LargestRatio));
  if (info.CholeskyRefined > 0)
    lines.push_back("Resistance solver: " + std::to_string(info.CholeskyRefined) +
                    " Cholesky part" + (info.CholeskyRefined == 1 ? "" : "s") +
                    " refined one step after failing the accuracy check");
  // The accuracy check every accepted solve passed, at its worst.
  lines.push_back("Resistance solver: accuracy check passed, worst estimated relative error of a "
                  "resistance " +
                  Short(info.WorstCheck) + " (limit " + Short(kResistanceCheckLimit) + ")");
  if (!info.KeptInMemory.empty())
    lines.push_back("Resistance solver: solutions kept in memory (" + info.KeptInMemory + ")");
  // Where a long run's time went: the set-up grows faster than the map.
  lines.push_back("Resistance solver: set-up " + Seconds(info.SetUpSeconds) + ", solves " +
                  Seconds(info.SolveSeconds) + " (" + std::to_string(info.SolvedPoints) +
                  " points)");
  return lines;
}

std::unique_ptr<tRaster> WriteCurrentMap(const tRaster& geometry, const std::string& name,
                                         std::span<const float> cells,
                                         const std::vector<std::string>& notes) {
  std::unique_ptr<tRaster> map = tRaster::CreateLike(geometry);
  map->DataType = dtReal;
  // Every cell is a value, 0 included, as in the other corridor maps.
  map->FlagDef = fdNone;
  map->FileName = name;
  map->Comments = notes;
  // The current of 1 A between the points of each pair.
  map->ValueUnits = "current (A)";
  const auto n = static_cast<std::size_t>(std::max(map->Rows, 0)) *
                 static_cast<std::size_t>(std::max(map->Columns, 0));
  if (cells.size() != n)
    throw EAssertionFailed("Current map " + name + ": the cells are not of the map's size");
  float lo = 0, hi = 0;
  if (n > 0) {
    const auto [a, b] = std::minmax_element(cells.begin(), cells.end());
    lo = *a;
    hi = *b;
  }
  map->MinValue = lo;
  map->MaxValue = hi;
  map->DisplayMin = lo;
  map->DisplayMax = hi;
  tAtomicFile image(ImagePath(*map));
  std::vector<unsigned char> block;
  constexpr std::size_t kBlock = 1 << 16;
  for (std::size_t done = 0; done < n; done += kBlock) {
    const std::size_t m = std::min(kBlock, n - done);
    block.resize(m * 4);
    for (std::size_t k = 0; k < m; ++k) EncodeRecord(cells[done + k], dtReal, &block[k * 4]);
    image.Write(block.data(), block.size());
  }
  image.Commit();
  map->WriteDoc();
  return map;
}

} // namespace stravex
