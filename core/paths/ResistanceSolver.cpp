// The direct solver: CHOLMOD's sparse Cholesky factorisation (64-bit
// indices: a factor can hold more than 2^31 entries).
#include "paths/ResistanceSolver.h"

#include "base/Errors.h"

#include <cholmod.h>

#include <algorithm>
#include <string>

namespace stravex::resistance {

namespace {

// A CHOLMOD workspace; each thread's solves use their own.
struct tCommon {
  cholmod_common c;
  tCommon() {
    cholmod_l_start(&c);
    c.print = 0; // errors become exceptions, not printed lines
  }
  ~tCommon() { cholmod_l_finish(&c); }
  tCommon(const tCommon&) = delete;
  tCommon& operator=(const tCommon&) = delete;
  void Check(const char* step) const {
    if (c.status == CHOLMOD_OUT_OF_MEMORY)
      throw EOutOfMemory(std::string("Resistance distance: not enough memory for the ") + step +
                         ".");
    if (c.status != CHOLMOD_OK)
      throw EInvalidOperation(std::string("Resistance distance: the ") + step +
                              " failed (CHOLMOD status " + std::to_string(c.status) + ").");
  }
};

} // namespace

struct tDirectSolver::tState {
  tCommon common;
  cholmod_sparse* a = nullptr; // upper triangle, until factorised
  cholmod_factor* l = nullptr;
  ~tState() {
    cholmod_l_free_sparse(&a, &common.c);
    cholmod_l_free_factor(&l, &common.c);
  }
};

tDirectSolver::tDirectSolver(const tSparseMatrix& m, std::span<const int64_t> order)
    : fState(std::make_unique<tState>()) {
  cholmod_common& c = fState->common.c;
  // In compressed columns, column j of the symmetric matrix is its row j:
  // the upper triangle is each row's columns up to j.
  std::size_t upper = 0;
  for (int32_t r = 0; r < m.n; ++r)
    for (int64_t k = m.rowStart[r]; k < m.rowStart[r + 1]; ++k) upper += m.col[k] <= r;
  fState->a = cholmod_l_allocate_sparse(m.n, m.n, upper, 1, 1, 1, CHOLMOD_REAL, &c);
  fState->common.Check("matrix");
  auto* p = static_cast<SuiteSparse_long*>(fState->a->p);
  auto* i = static_cast<SuiteSparse_long*>(fState->a->i);
  auto* x = static_cast<double*>(fState->a->x);
  SuiteSparse_long at = 0;
  for (int32_t r = 0; r < m.n; ++r) {
    p[r] = at;
    for (int64_t k = m.rowStart[r]; k < m.rowStart[r + 1] && m.col[k] <= r; ++k, ++at) {
      i[at] = m.col[k];
      x[at] = m.value[k];
    }
  }
  p[m.n] = at;
  if (order.empty()) {
    fState->l = cholmod_l_analyze(fState->a, &c);
  } else {
    c.nmethods = 1;
    c.method[0].ordering = CHOLMOD_GIVEN;
    std::vector<SuiteSparse_long> perm(order.begin(), order.end());
    fState->l = cholmod_l_analyze_p(fState->a, perm.data(), nullptr, 0, &c);
  }
  fState->common.Check("ordering");
  const cholmod_factor& l = *fState->l;
  // Values and row indices of the factor as it will be stored.
  fFactorBytes = l.is_super ? l.xsize * sizeof(double) + l.ssize * sizeof(SuiteSparse_long)
                            : static_cast<std::size_t>(c.lnz) *
                                  (sizeof(double) + sizeof(SuiteSparse_long));
}

tDirectSolver::~tDirectSolver() = default;

void tDirectSolver::Factorise() {
  cholmod_common& c = fState->common.c;
  cholmod_l_factorize(fState->a, fState->l, &c);
  // A part of the circuit is connected and grounded: anything but positive
  // definite means values CHOLMOD could not work with.
  fState->common.Check("factorisation");
  cholmod_l_free_sparse(&fState->a, &c);
}

void tDirectSolver::Solve(std::span<const double> b, std::span<double> x, int columns) const {
  tCommon common;
  cholmod_dense rhs{};
  rhs.nrow = rhs.d = b.size() / static_cast<std::size_t>(columns);
  rhs.ncol = static_cast<std::size_t>(columns);
  rhs.nzmax = b.size();
  rhs.x = const_cast<double*>(b.data()); // read only by the solve
  rhs.xtype = CHOLMOD_REAL;
  rhs.dtype = CHOLMOD_DOUBLE;
  cholmod_dense* solution = cholmod_l_solve(CHOLMOD_A, fState->l, &rhs, &common.c);
  common.Check("solve");
  const auto* values = static_cast<const double*>(solution->x);
  std::copy(values, values + x.size(), x.begin());
  cholmod_l_free_dense(&solution, &common.c);
}

} // namespace stravex::resistance
