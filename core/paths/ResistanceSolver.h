#pragma once
// The linear solvers behind tResistanceNetwork (internal to paths/): a
// part's grounded Laplacian, and the direct and iterative solvers of it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace stravex::resistance {

// A symmetric positive definite matrix in compressed rows, both triangles,
// columns sorted within a row.
struct tSparseMatrix {
  int32_t n = 0;
  std::vector<int64_t> rowStart; // n + 1
  std::vector<int32_t> col;
  std::vector<double> value;
};

class tLinearSolver {
public:
  virtual ~tLinearSolver() = default;
  // Solves A X = B for n x columns matrices, column by column in memory.
  // Solve may be called from several threads at once when
  // ConcurrentSolves().
  virtual void Solve(std::span<const double> b, std::span<double> x, int columns) const = 0;
  virtual bool ConcurrentSolves() const = 0;
  // The columns a call had best be given at most: a direct solve reads the
  // whole factor once per call, whatever the number of columns.
  virtual int BestColumns() const = 0;
  // The most iterations one solve took so far (0 for a direct solver).
  virtual int MostIterations() const { return 0; }
};

// The factor of a's analysis: its estimated size in bytes, then the
// factorisation itself. The analysis (a fill-reducing ordering: order, the
// rows in elimination order, or, when empty, the library's own) is kept
// between the two.
class tDirectSolver : public tLinearSolver {
public:
  explicit tDirectSolver(const tSparseMatrix& a, std::span<const int64_t> order = {});
  ~tDirectSolver() override;
  std::size_t FactorBytes() const { return fFactorBytes; }
  void Factorise();
  void Solve(std::span<const double> b, std::span<double> x, int columns) const override;
  bool ConcurrentSolves() const override { return true; }
  int BestColumns() const override { return 8; }

private:
  struct tState;
  std::unique_ptr<tState> fState;
  std::size_t fFactorBytes = 0;
};

// Nullptr when the library was not built in. a is freed once the library
// has its copy, before the multigrid hierarchy is built.
std::unique_ptr<tLinearSolver> MakeIterativeSolver(tSparseMatrix&& a, double tolerance,
                                                   int maxIterations);
bool IterativeSolverAvailable();

} // namespace stravex::resistance
