#pragma once
// The linear solvers behind tResistanceNetwork (internal to paths/): a
// part's grounded Laplacian, and the direct and iterative solvers of it.
#include <cmath>
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
  // The same for a refinement's correction, whose size alone matters: an
  // iterative solver may stop sooner.
  virtual void SolveCorrection(std::span<const double> b, std::span<double> x, int columns) const {
    Solve(b, x, columns);
  }
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

namespace stravex::resistance {

// A double-double number (hi + lo, about 32 digits) and the few operations
// the harmonic extensions need: a region walled in by barriers on all sides
// sits at a potential of the order of the barriers' resistance, and its own
// currents are differences 1e-15 of that or less.
struct tDouble2 {
  double hi = 0, lo = 0;
};
inline tDouble2 QuickTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}
inline tDouble2 Add(tDouble2 a, tDouble2 b) {
  const double s = a.hi + b.hi, bb = s - a.hi;
  const double e = (a.hi - (s - bb)) + (b.hi - bb) + a.lo + b.lo;
  return QuickTwoSum(s, e);
}
inline tDouble2 Mul(tDouble2 a, double b) {
  const double p = a.hi * b;
  return QuickTwoSum(p, std::fma(a.hi, b, -p) + a.lo * b);
}
inline tDouble2 Mul(tDouble2 a, tDouble2 b) {
  const double p = a.hi * b.hi;
  return QuickTwoSum(p, std::fma(a.hi, b.hi, -p) + (a.hi * b.lo + a.lo * b.hi));
}
inline tDouble2 Div(tDouble2 a, tDouble2 b) {
  const double q1 = a.hi / b.hi;
  const tDouble2 p = Mul(b, q1);
  const tDouble2 r = Add(a, {-p.hi, -p.lo});
  return QuickTwoSum(q1, r.hi / b.hi);
}

// Elimination of a part's Laplacian onto a few of its nodes (the terminals)
// in the Grassmann-Taksar-Heyman form: the matrix is kept as its links'
// conductances only (no diagonal, no ground), a Schur update only adds to a
// link, and each pivot is the sum of its node's remaining links. Nothing is
// ever subtracted, so every value keeps its relative accuracy whatever the
// ratio of the conductances: a barrier of 1e30 costs no digit. The factor is
// simplicial and left-looking.
class tGthReduction {
public:
  // links: the conductances (> 0) of the part's links, both triangles, no
  // diagonal. order: the other nodes in elimination order; terminals: the
  // nodes kept, in the order of their indices below.
  tGthReduction(const tSparseMatrix& links, std::span<const int64_t> order,
                std::span<const int32_t> terminals);
  ~tGthReduction();
  tGthReduction(const tGthReduction&) = delete;
  tGthReduction& operator=(const tGthReduction&) = delete;

  std::size_t FactorBytes() const { return fFactorBytes; }
  // The numeric elimination.
  void Factorise();
  // The reduced circuit: conductance between terminals a and b, [a * k + b]
  // (0 on the diagonal).
  const std::vector<double>& Reduced() const { return fReduced; }
  // The harmonic extension of terminals first .. first + count - 1: for
  // each, the potential at every node (by node) when that terminal is held
  // at 1 and the other terminals at 0, as high and low doubles. Each value
  // is the mean of later ones weighted by the stored links, worked out in
  // double-double: in [0, 1], relatively accurate even where tiny, and
  // harmonic to 32 digits, so that neighbours' differences keep their own
  // digits where the values are nearly equal.
  void Harmonic(int first, int count, std::span<const std::span<double>> high,
                std::span<const std::span<double>> low) const;

private:
  int32_t fN = 0, fInterior = 0, fTerminals = 0;
  std::vector<int32_t> fNodeAt;   // position -> node
  std::vector<int32_t> fPosition; // node -> position
  const tSparseMatrix* fLinks;    // until factorised
  std::vector<int64_t> fColStart; // interior columns of the factor
  std::vector<int32_t> fRow;      // positions, sorted within a column
  std::vector<double> fValue;     // the links at the column's elimination
  std::vector<double> fPivot;
  std::vector<double> fReduced;
  std::size_t fFactorBytes = 0;
};

// A reduced circuit of k terminals (conductances [a * k + b]) grounded at
// one terminal and eliminated the same subtraction-free way, in
// double-double, for the potentials and resistances between its terminals.
// The potentials' differences feed the currents: all terminals but one may
// stand within 1e-15 of each other behind a barrier.
class tGroundedCircuit {
public:
  tGroundedCircuit(const std::vector<double>& conductance, int k, int ground);
  // The resistance between terminal source and the ground.
  double Resistance(int source) const;
  // Every terminal's potential (the ground's 0) when 1 A enters at source
  // and leaves at the ground; all >= 0.
  std::vector<tDouble2> Potentials(int source) const;

private:
  int fK, fGround;
  std::vector<int> fOrder;      // the other terminals in elimination order
  std::vector<int> fRank;       // terminal -> position in fOrder
  std::vector<tDouble2> fS;     // row a's links to later terminals at a's elimination
  std::vector<tDouble2> fPivot; // by position
  std::vector<tDouble2> Forward(int source) const;
};

} // namespace stravex::resistance
