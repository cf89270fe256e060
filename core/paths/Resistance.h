#pragma once
// Resistance distance: the friction map read as a grid of resistors. Every
// cell that holds friction is a node; a missing cell (the flag, NaN or
// infinite) is not part of the circuit. A cell is joined to each of its 8
// neighbours that is a node, also across a corner whose two side cells are
// missing, by the conductance 1 / (d x (r_a + r_b) / 2), r the two cells'
// friction, d = 1 for a side and sqrt(2) for a corner neighbour. The
// resistance distance of two points is the effective resistance between
// their cells.
//
// Each connected part of the circuit that holds points is solved on its own:
// its Laplacian, with one node grounded (potential 0), is factorised once
// (or, when the factor would not fit the memory budget, handed to an
// iterative solver), and one solve per point (1 A injected there) gives
// every pair by superposition. The solutions are kept (8 bytes per node of
// the part per point): a pair's potentials are the difference of its two
// points' solutions, so pairs cost nothing more than summing their currents.
#include "base/CommonDecl.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace stravex {

class tRaster;
struct tPairField {
  std::vector<double> vHigh, vLow, wHigh, wLow;
};
namespace resistance {
class tLinearSolver;
}

enum class tResistanceSolver : uint8_t {
  Auto,     // Direct when the factor's estimated size fits MemoryBudget (or when the
            // iterative solver is not built in), else Iterative
  Direct,   // sparse Cholesky factorisation (CHOLMOD)
  Iterative // conjugate gradients preconditioned by algebraic multigrid (hypre BoomerAMG)
};

struct tResistanceOptions {
  tResistanceSolver Solver = tResistanceSolver::Auto;
  // Bytes the factor of one part may take under Auto (parts are factorised
  // one after the other, each factor freed before the next).
  std::size_t MemoryBudget = std::size_t{4} << 30;
  // Iterative solver: a solve stops when ||b - A x|| <= Tolerance x ||b||;
  // one that does not get there within MaxIterations raises EInvalidOperation.
  double Tolerance = 1e-10;
  int MaxIterations = 2000;
  // Threads for the direct solves of a part's points, which go in blocks of
  // 8 (one pass over the factor a block); the result is the same for any
  // number. The iterative solves run one after the other.
  int Threads = 1;
  // How a refusal names a cell of the friction map (its row and column),
  // e.g. with the map's coordinates; "row R, column C" without it.
  std::function<std::string(int32_t row, int32_t col)> CellName;
};

// Every solve is checked before its resistances are accepted; a part whose
// check fails is solved again subtraction-free (direct) or refused
// (iterative, or the check failing again), naming the friction ratio and the
// barrier cells. Limits of the checks and of the solvers:
constexpr double kResistanceCheckLimit = 1e-8; // estimated relative error of a resistance
constexpr double kCurrentCheckLimit = 1e-6;    // a pair's Kirchhoff imbalance, in A of its 1 A
constexpr double kIterativeRatioLimit = 1e6;   // friction ratio the iterative solver takes
constexpr double kCholeskyRatioLimit = 1e6;    // above it the direct solver eliminates at once
                                               // subtraction-free

// Which solver the parts were solved by, for the run's log. A part whose
// points all stand on its grounded cell needs no solve and is not counted.
struct tResistanceSolveInfo {
  int DirectParts = 0;
  int IterativeParts = 0;
  // The largest factor (Direct parts), as estimated before factorising.
  std::size_t LargestFactorBytes = 0;
  // The most conjugate-gradient steps one solve took (Iterative parts).
  int MostIterations = 0;
  // Wall seconds of the factorisations or multigrid set-ups (with the
  // Laplacians' assembly and ordering), and of the solves.
  double SetUpSeconds = 0;
  double SolveSeconds = 0;
  // The points solved for (those on a part's grounded cell need no solve).
  int SolvedPoints = 0;
  // Iterative parts keep their solutions in a temporary file while the
  // multigrid hierarchy is alive; when that failed, why (they were kept in
  // memory instead). Empty otherwise.
  std::string KeptInMemory;
  // Parts the direct solver eliminated subtraction-free (GTH), of
  // DirectParts; because of their friction ratio, or because the Cholesky
  // factor's check failed (CholeskyRejected).
  int SubtractionFreeParts = 0;
  int CholeskyRejected = 0;
  // Direct parts whose Cholesky solutions failed the check as they were and
  // took one step of refinement (then passing it, or CholeskyRejected).
  int CholeskyRefined = 0;
  // The largest friction ratio (highest / lowest friction) of a solved part.
  double LargestRatio = 0;
  // The worst check of the accepted solves: the estimated relative error of
  // a resistance (Cholesky and iterative: refinement in long double; GTH:
  // the Dirichlet energy of the pair's potentials against its resistance).
  double WorstCheck = 0;
};

// True when the iterative solver was built in (the hypre library was found).
bool IterativeResistanceSolverAvailable();

class tResistanceNetwork {
public:
  // Builds the circuit of friction (rows of equal length; a cell is missing
  // when it equals flag, is NaN or is infinite) and solves it for every
  // point (row, column). A friction value <= 0 raises EInvalidOperation
  // naming frictionName and the cell; a point outside the map raises
  // EAssertionFailed. Iterative asked for without the hypre library, a
  // tolerance that is not a positive number and fewer than 1 iteration raise
  // EInvalidOperation.
  tResistanceNetwork(const tMatrixOfSingle& friction, std::optional<float> flag,
                     const std::string& frictionName, std::span<const t2DiPoint> points,
                     const tResistanceOptions& options = {});
  ~tResistanceNetwork();
  tResistanceNetwork(const tResistanceNetwork&) = delete;
  tResistanceNetwork& operator=(const tResistanceNetwork&) = delete;

  const tResistanceSolveInfo& Info() const { return fInfo; }
  std::size_t PointCount() const { return fPoints.size(); }

  // The resistance distance of points i and j: 0 for one cell, -1 when a
  // point is on a missing cell or the two are in different parts.
  double Resistance(std::size_t i, std::size_t j) const;
  // Every pair, [i][j], symmetric.
  tMatrixOfDouble Resistances() const;

  // The potential at a cell when 1 A enters at point i and leaves at its
  // part's grounded node; NaN for a cell outside point i's part (and for
  // every cell when point i is on a missing cell).
  double Potential(std::size_t i, int32_t row, int32_t col) const;

  // The current through each cell when 1 A flows from point i to point j:
  // half the sum of the absolute currents on the cell's links, plus, at the
  // two points' cells, half the 1 A that enters or leaves there (so a cell
  // that all the current passes through carries 1, the points included).
  // AddPairCurrent adds it to cumulative (rows x cols, row-major), which
  // sums the currents of several pairs. A pair with no resistance distance
  // or on one cell adds nothing.
  void AddPairCurrent(std::size_t i, std::size_t j, std::span<float> cumulative) const;
  // The current of one pair, as a map (rows x cols, row-major).
  std::vector<float> PairCurrent(std::size_t i, std::size_t j) const;

  // The mean of map's cells weighted by the pair's current, over the cells
  // the current passes where map is not missing (equal to mapFlag, NaN or
  // infinite); nullopt when there are none. map has the friction's size.
  std::optional<double> CurrentWeightedMean(std::size_t i, std::size_t j,
                                            const tMatrixOfSingle& map,
                                            std::optional<float> mapFlag) const;
  // The same for several maps of the friction's grid, read in place (GetCell;
  // missing: the map's background value, NaN or infinite) in one pass over the
  // pair's currents, so no map is copied. One mean per map, in order.
  std::vector<std::optional<double>>
  CurrentWeightedMeans(std::size_t i, std::size_t j, std::span<const tRaster* const> maps) const;

private:
  struct tPart;
  template <class F>
  void ForEachCellCurrent(std::size_t i, std::size_t j, F&& f) const;
  // The pass behind it, with drop(n, m) the potential drop from node n to
  // its neighbour m; refuses a pair whose currents do not balance.
  template <class D, class F>
  void PairCurrents(const tPart& part, std::size_t i, std::size_t j, D&& drop, F&& f) const;
  void SolvePart(tPart& part, const tResistanceOptions& options);
  // Solves the grounded Laplacian for the points of toSolve (with one step
  // of refinement when refine); false when the refinement check fails.
  // worst: the largest estimated relative error of a resistance. An
  // iterative solver is freed before spilled solutions are read back.
  bool SolveGrounded(tPart& part, std::unique_ptr<resistance::tLinearSolver>& solver,
                     bool iterative, bool refine, const std::vector<std::size_t>& toSolve,
                     int threads, double& worst);
  void SolveSubtractionFree(tPart& part, const tResistanceOptions& options,
                            std::chrono::steady_clock::time_point setUpStart);
  std::string CellText(int32_t row, int32_t col) const;
  // Potentials of a subtraction-free part's pair (1 A in at terminal a, out
  // at b), by node, as high and low doubles: v grounded at b, w at a.
  void PairFields(const tPart& part, int a, int b, tPairField& field) const;
  [[noreturn]] void Refuse(const tPart& part, const std::string& why) const;

  int32_t fRows = 0, fCols = 0;
  std::string fFrictionName;
  std::function<std::string(int32_t, int32_t)> fCellName;
  std::vector<float> fFriction;    // row-major, NaN for missing cells
  std::vector<int32_t> fNode;      // node of a cell within its part, -1 outside the parts
  std::vector<int32_t> fPartOf;    // part of a cell, -1 outside the parts
  std::vector<t2DiPoint> fPoints;  // as given
  std::vector<int32_t> fPointPart; // part of each point, -1 on a missing cell
  std::vector<int32_t> fTerminal;  // terminal of each point in a subtraction-free part, else -1
  std::vector<std::unique_ptr<tPart>> fParts;
  std::vector<std::vector<double>> fPotential; // per point: one value per node of its part
  tResistanceSolveInfo fInfo;
};

} // namespace stravex
