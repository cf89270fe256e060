#include "paths/Resistance.h"

#include "base/Errors.h"
#include "base/Numeric.h"
#include "paths/ResistanceSolver.h"
#include "raster/Raster.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <thread>
#include <utility>

#include <unistd.h>

namespace stravex {

namespace {

constexpr double kSqrt2 = 1.41421356237309504880;

// Calls work(0..count-1) on up to threads threads taking the next index as
// they free up; the first error stops the others and is rethrown here.
template <typename tWork>
void ForEachOnThreads(std::size_t count, int threads, tWork& work) {
  if (threads <= 1) {
    for (std::size_t k = 0; k < count; ++k) work(k);
    return;
  }
  std::atomic<std::size_t> next{0};
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(threads));
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&, t] {
      try {
        for (std::size_t k; (k = next.fetch_add(1)) < count;) work(k);
      } catch (...) {
        errors[static_cast<std::size_t>(t)] = std::current_exception();
        next = count;
      }
    });
  for (auto& th : pool) th.join();
  for (const auto& e : errors)
    if (e) std::rethrow_exception(e);
}

// 1 / (d x (r_a + r_b) / 2).
double Conductance(float ra, float rb, bool corner) {
  return 2.0 / ((corner ? kSqrt2 : 1.0) * (static_cast<double>(ra) + rb));
}

bool IsMissing(float v, std::optional<float> flag) {
  return (flag && v == *flag) || !std::isfinite(v);
}

// The 8 neighbours in row-major order, so that a node's links come sorted.
constexpr int kDr[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
constexpr int kDc[8] = {-1, 0, 1, -1, 1, -1, 0, 1};

// A nested-dissection elimination order of a part's nodes but those kept
// (left out, to come after): the part is cut across its longer side by one
// line of cells, which no 8-neighbour link crosses; each side is ordered the
// same way and the cut comes last. On a grid this is the order a graph
// partitioner finds, at a fraction of its time and memory (METIS took 5 s
// for 10^6 nodes, 13 GB for 1.6 x 10^7). Stable partitions keep the order
// the same on every platform.
std::vector<int64_t> GridDissection(const std::vector<std::size_t>& cells, int32_t cols,
                                    const std::vector<char>& kept) {
  const auto nodes = static_cast<int32_t>(cells.size());
  std::vector<int32_t> row(cells.size()), col(cells.size()), todo;
  todo.reserve(cells.size());
  for (int32_t n = 0; n < nodes; ++n) {
    row[static_cast<std::size_t>(n)] =
        static_cast<int32_t>(cells[static_cast<std::size_t>(n)] / static_cast<std::size_t>(cols));
    col[static_cast<std::size_t>(n)] =
        static_cast<int32_t>(cells[static_cast<std::size_t>(n)] % static_cast<std::size_t>(cols));
    if (!kept[static_cast<std::size_t>(n)]) todo.push_back(n);
  }
  std::vector<int64_t> order;
  order.reserve(todo.size());
  constexpr std::size_t kLeaf = 16;
  auto dissect = [&](auto&& self, std::vector<int32_t>::iterator first,
                     std::vector<int32_t>::iterator last) -> void {
    if (static_cast<std::size_t>(last - first) <= kLeaf) {
      order.insert(order.end(), first, last);
      return;
    }
    int32_t r0 = INT32_MAX, r1 = INT32_MIN, c0 = INT32_MAX, c1 = INT32_MIN;
    for (auto it = first; it != last; ++it) {
      const auto k = static_cast<std::size_t>(*it);
      r0 = std::min(r0, row[k]), r1 = std::max(r1, row[k]);
      c0 = std::min(c0, col[k]), c1 = std::max(c1, col[k]);
    }
    const std::vector<int32_t>& at = r1 - r0 >= c1 - c0 ? row : col;
    const int32_t cut = r1 - r0 >= c1 - c0 ? r0 + (r1 - r0) / 2 : c0 + (c1 - c0) / 2;
    const auto before = std::stable_partition(
        first, last, [&](int32_t n) { return at[static_cast<std::size_t>(n)] < cut; });
    const auto after = std::stable_partition(
        before, last, [&](int32_t n) { return at[static_cast<std::size_t>(n)] > cut; });
    self(self, first, before);
    self(self, before, after);
    order.insert(order.end(), after, last);
  };
  dissect(dissect, todo.begin(), todo.end());
  return order;
}

// An iterative part's solutions wait in a temporary file (unlinked at once,
// so nothing is left behind) until the multigrid hierarchy is freed: on a
// 4000 x 4000 map the hierarchy takes 6-7 GB and 30 solutions 3.7 GB, which
// together would need the sum where either alone fits.
class tSolutionSpill {
public:
  tSolutionSpill() {
    std::string dir;
    try {
      dir = std::filesystem::temp_directory_path().string();
    } catch (const std::filesystem::filesystem_error& e) {
      throw EInOutError(std::string("Resistance distance: no folder for temporary files (") +
                        e.what() + ")");
    }
    std::string path = (std::filesystem::path(dir) / "stravex-solutions-XXXXXX").string();
    fFd = ::mkstemp(path.data());
    if (fFd < 0)
      throw EInOutError("Resistance distance: cannot create a temporary file in " + dir + " (" +
                        std::strerror(errno) + ")");
    ::unlink(path.c_str());
    fDir = dir;
  }
  ~tSolutionSpill() { ::close(fFd); }
  tSolutionSpill(const tSolutionSpill&) = delete;
  tSolutionSpill& operator=(const tSolutionSpill&) = delete;

  void Put(std::size_t slot, std::span<const double> v) {
    Transfer(::pwrite, reinterpret_cast<const char*>(v.data()), slot, v.size_bytes(),
             "Resistance distance: cannot write a temporary file in " + fDir,
             std::strerror(ENOSPC));
  }
  void Get(std::size_t slot, std::span<double> v) const {
    Transfer(::pread, reinterpret_cast<char*>(v.data()), slot, v.size_bytes(),
             "Resistance distance: cannot read back a temporary file in " + fDir, "it is shorter");
  }

private:
  // Moves one solution's bytes through pread or pwrite, resuming after a
  // short transfer or a signal.
  template <class Io, class Byte>
  void Transfer(Io io, Byte* at, std::size_t slot, std::size_t bytes, const std::string& failure,
                const char* atEnd) const {
    auto offset = static_cast<off_t>(slot * bytes);
    for (std::size_t left = bytes; left > 0;) {
      const ssize_t done = io(fFd, at, left, offset);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0)
        throw EInOutError(failure + " (" + (done < 0 ? std::strerror(errno) : atEnd) + ")");
      at += done, left -= static_cast<std::size_t>(done), offset += done;
    }
  }

  int fFd = -1;
  std::string fDir;
};

} // namespace

struct tResistanceNetwork::tPart {
  std::vector<std::size_t> cells; // node -> cell, row-major
  int32_t ground = 0;             // the grounded node: that of the part's first point
  std::vector<std::size_t> points;
  // Per node, the conductances of its links to (r, c+1), (r+1, c-1),
  // (r+1, c) and (r+1, c+1), 0 where there is no node: each link is worked
  // out once, not once per pair and end.
  std::vector<double> forward;
  float lowest = std::numeric_limits<float>::infinity(), highest = 0; // friction
  // Solved subtraction-free: the points' distinct nodes (terminals; the
  // grounded node first), each one's harmonic extension (by node), the
  // reduced circuit's conductances and the terminals' resistances, k x k.
  bool subtractionFree = false;
  std::vector<int32_t> terminals;
  std::vector<std::vector<double>> harmonic, harmonicLow;
  std::vector<double> reduced, resistance;
};

bool IterativeResistanceSolverAvailable() { return resistance::IterativeSolverAvailable(); }

tResistanceNetwork::tResistanceNetwork(const tMatrixOfSingle& friction, std::optional<float> flag,
                                       const std::string& frictionName,
                                       std::span<const t2DiPoint> points,
                                       const tResistanceOptions& options)
    : fFrictionName(frictionName), fCellName(options.CellName),
      fPoints(points.begin(), points.end()) {
  if (options.Solver == tResistanceSolver::Iterative && !IterativeResistanceSolverAvailable())
    throw EInvalidOperation("Resistance distance: the iterative solver is not built in.");
  if (!(options.Tolerance > 0) || !std::isfinite(options.Tolerance))
    throw EInvalidOperation("Resistance distance: the tolerance must be a positive number (" +
                            FormatGeneral(options.Tolerance) + ").");
  if (options.MaxIterations < 1)
    throw EInvalidOperation("Resistance distance: the iterations must be at least 1 (" +
                            std::to_string(options.MaxIterations) + ").");
  const std::size_t rows = friction.size();
  const std::size_t cols = rows > 0 ? friction[0].size() : 0;
  for (const auto& r : friction)
    if (r.size() != cols)
      throw EAssertionFailed("Resistance distance: the friction matrix is not rectangular");
  // Nodes of a part are counted in 32 bits (the solvers' indices).
  if (rows > INT32_MAX || cols > INT32_MAX || rows * cols >= static_cast<std::size_t>(INT32_MAX))
    throw EOutOfResources("The friction map is too large for the resistance distance.");
  fRows = static_cast<int32_t>(rows);
  fCols = static_cast<int32_t>(cols);
  const std::size_t cells = rows * cols;
  fFriction.resize(cells);
  for (std::size_t r = 0; r < rows; ++r)
    for (std::size_t c = 0; c < cols; ++c) {
      const float f = friction[r][c];
      if (IsMissing(f, flag)) {
        fFriction[r * cols + c] = std::numeric_limits<float>::quiet_NaN();
        continue;
      }
      if (f <= 0)
        throw EInvalidOperation("Resistance distance: the friction map " + frictionName +
                                " holds a value that is not above 0 (" + FormatGeneral(f) +
                                " at row " + std::to_string(r) + ", column " + std::to_string(c) +
                                ").");
      fFriction[r * cols + c] = f;
    }

  for (const t2DiPoint& p : fPoints)
    if (p.row < 0 || p.row >= fRows || p.col < 0 || p.col >= fCols)
      throw EAssertionFailed("Resistance distance: a point is out of the map: (" +
                             std::to_string(p.row) + "," + std::to_string(p.col) + ")");

  // The parts that hold points, each found by a flood from its first point.
  fNode.assign(cells, -1);
  fPartOf.assign(cells, -1);
  fPointPart.assign(fPoints.size(), -1);
  std::vector<std::size_t> stack;
  for (std::size_t i = 0; i < fPoints.size(); ++i) {
    const std::size_t start = static_cast<std::size_t>(fPoints[i].row) * cols +
                              static_cast<std::size_t>(fPoints[i].col);
    if (std::isnan(fFriction[start])) continue;
    if (fPartOf[start] < 0) {
      const auto id = static_cast<int32_t>(fParts.size());
      auto part = std::make_unique<tPart>();
      fPartOf[start] = id;
      stack.assign(1, start);
      while (!stack.empty()) {
        const std::size_t cell = stack.back();
        stack.pop_back();
        part->cells.push_back(cell);
        const auto r = static_cast<int64_t>(cell / cols), c = static_cast<int64_t>(cell % cols);
        for (int k = 0; k < 8; ++k) {
          const int64_t nr = r + kDr[k], nc = c + kDc[k];
          if (nr < 0 || nr >= fRows || nc < 0 || nc >= fCols) continue;
          const std::size_t n = static_cast<std::size_t>(nr) * cols + static_cast<std::size_t>(nc);
          if (std::isnan(fFriction[n]) || fPartOf[n] >= 0) continue;
          fPartOf[n] = id;
          stack.push_back(n);
        }
      }
      // Row-major nodes: sorted links, and neighbours near in memory.
      std::sort(part->cells.begin(), part->cells.end());
      for (std::size_t n = 0; n < part->cells.size(); ++n)
        fNode[part->cells[n]] = static_cast<int32_t>(n);
      part->ground = fNode[start];
      fParts.push_back(std::move(part));
    }
    fPointPart[i] = fPartOf[start];
    fParts[static_cast<std::size_t>(fPointPart[i])]->points.push_back(i);
  }

  fPotential.resize(fPoints.size());
  fTerminal.assign(fPoints.size(), -1);
  for (auto& part : fParts) {
    for (const std::size_t cell : part->cells) {
      part->lowest = std::min(part->lowest, fFriction[cell]);
      part->highest = std::max(part->highest, fFriction[cell]);
    }
    part->forward.assign(part->cells.size() * 4, 0.0);
    for (std::size_t n = 0; n < part->cells.size(); ++n) {
      const std::size_t cell = part->cells[n];
      const auto r = static_cast<int64_t>(cell / cols), c = static_cast<int64_t>(cell % cols);
      for (int k = 4; k < 8; ++k) {
        const int64_t nr = r + kDr[k], nc = c + kDc[k];
        if (nr >= fRows || nc < 0 || nc >= fCols) continue;
        const float fb =
            fFriction[static_cast<std::size_t>(nr) * cols + static_cast<std::size_t>(nc)];
        if (!std::isnan(fb))
          part->forward[n * 4 + static_cast<std::size_t>(k - 4)] =
              Conductance(fFriction[cell], fb, kDr[k] != 0 && kDc[k] != 0);
      }
    }
    SolvePart(*part, options);
  }
}

tResistanceNetwork::~tResistanceNetwork() = default;

std::string tResistanceNetwork::CellText(int32_t row, int32_t col) const {
  return fCellName ? fCellName(row, col)
                   : "row " + std::to_string(row) + ", column " + std::to_string(col);
}

void tResistanceNetwork::Refuse(const tPart& part, const std::string& why) const {
  // The barrier: the cells above the geometric mean of the part's lowest and
  // highest friction, highest first.
  const double threshold = std::sqrt(static_cast<double>(part.lowest) * part.highest);
  std::vector<std::size_t> barrier;
  for (const std::size_t cell : part.cells)
    if (fFriction[cell] >= threshold) barrier.push_back(cell);
  std::stable_sort(barrier.begin(), barrier.end(),
                   [&](std::size_t a, std::size_t b) { return fFriction[a] > fFriction[b]; });
  constexpr std::size_t kNamed = 5;
  std::string cells;
  for (std::size_t k = 0; k < std::min(kNamed, barrier.size()); ++k)
    cells += (k ? "; " : "") +
             CellText(static_cast<int32_t>(barrier[k] / static_cast<std::size_t>(fCols)),
                      static_cast<int32_t>(barrier[k] % static_cast<std::size_t>(fCols))) +
             ": " + FormatGeneral(fFriction[barrier[k]]);
  if (barrier.size() > kNamed)
    cells += "; and " + std::to_string(barrier.size() - kNamed) + " more";
  throw EInvalidOperation(why + " (friction map " + fFrictionName + ": friction ratio " +
                          FormatGeneral(static_cast<double>(part.highest) / part.lowest) +
                          ", from " + FormatGeneral(part.lowest) + " to " +
                          FormatGeneral(part.highest) + "; barrier cells " + cells + ")");
}

void tResistanceNetwork::SolvePart(tPart& part, const tResistanceOptions& options) {
  const auto nodes = static_cast<int32_t>(part.cells.size());
  const int32_t g = part.ground;
  // Points on the grounded cell have potential 0 everywhere: no solve.
  std::vector<std::size_t> toSolve;
  for (const std::size_t i : part.points) {
    const std::size_t cell = static_cast<std::size_t>(fPoints[i].row) * fCols +
                             static_cast<std::size_t>(fPoints[i].col);
    if (fNode[cell] != g)
      toSolve.push_back(i);
    else
      fPotential[i].assign(static_cast<std::size_t>(nodes), 0.0);
  }
  if (toSolve.empty()) return;
  const double ratio = static_cast<double>(part.highest) / part.lowest;
  fInfo.LargestRatio = std::max(fInfo.LargestRatio, ratio);

  const auto setUpStart = std::chrono::steady_clock::now();
  // The Laplacian without the grounded node's row and column; reduced index
  // of node n: n, or n - 1 past the grounded node.
  resistance::tSparseMatrix a;
  a.n = nodes - 1;
  a.rowStart.reserve(static_cast<std::size_t>(a.n) + 1);
  a.col.reserve(static_cast<std::size_t>(a.n) * 9);
  a.value.reserve(static_cast<std::size_t>(a.n) * 9);
  a.rowStart.push_back(0);
  for (int32_t n = 0; n < nodes; ++n) {
    if (n == g) continue;
    const std::size_t cell = part.cells[static_cast<std::size_t>(n)];
    const auto r = static_cast<int64_t>(cell / static_cast<std::size_t>(fCols));
    const auto c = static_cast<int64_t>(cell % static_cast<std::size_t>(fCols));
    const float fa = fFriction[cell];
    double diagonal = 0;
    std::size_t diagonalAt = 0;
    for (int k = 0; k < 8; ++k) {
      if (k == 4) { // the node itself comes between (r, c-1) and (r, c+1)
        diagonalAt = a.value.size();
        a.col.push_back(n < g ? n : n - 1);
        a.value.push_back(0);
      }
      const int64_t nr = r + kDr[k], nc = c + kDc[k];
      if (nr < 0 || nr >= fRows || nc < 0 || nc >= fCols) continue;
      const std::size_t other = static_cast<std::size_t>(nr) * fCols + static_cast<std::size_t>(nc);
      const float fb = fFriction[other];
      if (std::isnan(fb)) continue;
      const double cond = Conductance(fa, fb, kDr[k] != 0 && kDc[k] != 0);
      diagonal += cond;
      const int32_t m = fNode[other];
      if (m == g) continue;
      a.col.push_back(m < g ? m : m - 1);
      a.value.push_back(-cond);
    }
    a.value[diagonalAt] = diagonal;
    a.rowStart.push_back(static_cast<int64_t>(a.col.size()));
  }

  std::unique_ptr<resistance::tLinearSolver> solver;
  bool direct = options.Solver != tResistanceSolver::Iterative;
  // Why the iterative solver has the part under auto, for a refusal's advice.
  std::string overBudget;
  if (direct) {
    std::vector<char> kept(static_cast<std::size_t>(nodes), 0);
    kept[static_cast<std::size_t>(g)] = 1;
    std::vector<int64_t> order = GridDissection(part.cells, fCols, kept);
    for (int64_t& n : order) n = n < g ? n : n - 1;
    auto d = std::make_unique<resistance::tDirectSolver>(a, order);
    if (options.Solver == tResistanceSolver::Auto && d->FactorBytes() > options.MemoryBudget &&
        IterativeResistanceSolverAvailable()) {
      direct = false;
      overBudget =
          " (auto chose it because the direct factor would take about " +
          FormatGeneral(std::ceil(static_cast<double>(d->FactorBytes()) / (1 << 20))) +
          " MB, over the budget of " +
          FormatGeneral(std::floor(static_cast<double>(options.MemoryBudget) / (1 << 20))) +
          " MB; the direct solver needs that much memory free)";
    } else if (ratio > kCholeskyRatioLimit) {
      // A Cholesky factor would lose the barrier's links to cancellation.
      ++fInfo.DirectParts;
      d.reset();
      a = {};
      SolveSubtractionFree(part, options, setUpStart);
      return;
    } else {
      fInfo.LargestFactorBytes = std::max(fInfo.LargestFactorBytes, d->FactorBytes());
      a = {}; // CHOLMOD has its own copy
      d->Factorise();
      solver = std::move(d);
    }
  }
  if (!direct) {
    if (ratio > kIterativeRatioLimit)
      Refuse(part, "Resistance distance: the iterative solver takes friction ratios up to " +
                       FormatGeneral(kIterativeRatioLimit) + " only; use --solver direct" +
                       overBudget);
    solver = resistance::MakeIterativeSolver(std::move(a), options.Tolerance,
                                             options.MaxIterations);
  }
  ++(direct ? fInfo.DirectParts : fInfo.IterativeParts);
  const auto solveStart = std::chrono::steady_clock::now();
  fInfo.SetUpSeconds += std::chrono::duration<double>(solveStart - setUpStart).count();
  double worst = 0;
  bool accepted = false;
  const int threads = solver->ConcurrentSolves() ? options.Threads : 1;
  try {
    accepted = SolveGrounded(part, solver, !direct, !direct, toSolve, threads, worst);
    // A Cholesky solution that fails its check takes one step of refinement
    // before the factor is given up.
    if (!accepted && direct) {
      ++fInfo.CholeskyRefined;
      accepted = SolveGrounded(part, solver, false, true, toSolve, threads, worst);
    }
  } catch (const EInvalidOperation& e) {
    if (direct) throw;
    Refuse(part, e.what());
  }
  solver.reset();
  fInfo.SolveSeconds +=
      std::chrono::duration<double>(std::chrono::steady_clock::now() - solveStart).count();
  if (accepted) {
    fInfo.SolvedPoints += static_cast<int>(toSolve.size());
    fInfo.WorstCheck = std::max(fInfo.WorstCheck, worst);
    return;
  }
  if (!direct)
    Refuse(part, "Resistance distance: the iterative solver's result failed its accuracy check "
                 "(estimated relative error " +
                     FormatGeneral(worst) + " of a resistance, above " +
                     FormatGeneral(kResistanceCheckLimit) + "; use --solver direct)");
  // The Cholesky factor was not accurate enough: eliminate again, subtraction-free.
  ++fInfo.CholeskyRejected;
  for (const std::size_t i : part.points) std::vector<double>().swap(fPotential[i]);
  SolveSubtractionFree(part, options, std::chrono::steady_clock::now());
}

// r = b - A x for one point's reduced solution, in long double: the
// refinement's residual, with the Laplacian read from the grid.
static void Residual(const std::vector<std::size_t>& cells, const std::vector<float>& friction,
                     const std::vector<int32_t>& nodeOf, int32_t rows, int32_t cols, int32_t g,
                     int32_t source, std::span<const double> x, std::span<double> r) {
  const auto nodes = static_cast<int32_t>(cells.size());
  auto reduced = [&](int32_t n) { return static_cast<std::size_t>(n < g ? n : n - 1); };
  for (int32_t n = 0; n < nodes; ++n) {
    if (n == g) continue;
    const std::size_t cell = cells[static_cast<std::size_t>(n)];
    const auto rr = static_cast<int64_t>(cell / static_cast<std::size_t>(cols));
    const auto cc = static_cast<int64_t>(cell % static_cast<std::size_t>(cols));
    const long double xn = x[reduced(n)];
    long double sum = n == source ? 1.0L : 0.0L;
    for (int k = 0; k < 8; ++k) {
      const int64_t nr = rr + kDr[k], nc = cc + kDc[k];
      if (nr < 0 || nr >= rows || nc < 0 || nc >= cols) continue;
      const std::size_t other = static_cast<std::size_t>(nr) * static_cast<std::size_t>(cols) +
                                static_cast<std::size_t>(nc);
      if (std::isnan(friction[other])) continue;
      const int32_t m = nodeOf[other];
      const long double xm = m == g ? 0.0L : static_cast<long double>(x[reduced(m)]);
      sum -= static_cast<long double>(
                 Conductance(friction[cell], friction[other], kDr[k] != 0 && kDc[k] != 0)) *
             (xn - xm);
    }
    r[reduced(n)] = static_cast<double>(sum);
  }
}

bool tResistanceNetwork::SolveGrounded(tPart& part,
                                       std::unique_ptr<resistance::tLinearSolver>& solver,
                                       bool iterative, bool refine,
                                       const std::vector<std::size_t>& toSolve, int threadsAsked,
                                       double& worst) {
  const auto nodes = static_cast<int32_t>(part.cells.size());
  const int32_t g = part.ground;
  // Without a temporary file the solutions stay in memory, as for a direct
  // part: a long run is not lost for want of a folder; the log says why.
  std::optional<tSolutionSpill> spill;
  std::vector<char> spilled(toSolve.size(), 0);
  if (iterative) try {
      spill.emplace();
    } catch (const EInOutError& e) {
      fInfo.KeptInMemory = e.what();
    }
  auto nodeOfPoint = [&](std::size_t i) {
    return fNode[static_cast<std::size_t>(fPoints[i].row) * fCols +
                 static_cast<std::size_t>(fPoints[i].col)];
  };
  // For the check: each solution's value at every point of the part, and
  // its error there as the refinement's correction estimates it.
  const std::size_t count = part.points.size();
  std::vector<std::vector<double>> atPoints(toSolve.size(), std::vector<double>(count, 0.0));
  std::vector<std::vector<double>> errorAt = atPoints;

  // The points in blocks, one call of the solver each; threads take whole
  // blocks, and each block writes only its own points' potentials. The
  // blocks do not depend on the number of threads: neither do the results.
  const auto perBlock = static_cast<std::size_t>(solver->BestColumns());
  const std::size_t blocks = (toSolve.size() + perBlock - 1) / perBlock;
  const int threads = std::clamp(threadsAsked, 1, static_cast<int>(blocks));
  const auto rows = static_cast<std::size_t>(nodes - 1);
  auto solveBlock = [&](std::size_t block) {
    const std::size_t first = block * perBlock;
    const std::size_t columns = std::min(perBlock, toSolve.size() - first);
    std::vector<double> b(rows * columns, 0.0), x(b.size());
    for (std::size_t k = 0; k < columns; ++k) {
      const int32_t n = nodeOfPoint(toSolve[first + k]);
      b[k * rows + static_cast<std::size_t>(n < g ? n : n - 1)] = 1;
    }
    solver->Solve(b, x, static_cast<int>(columns));
    // Refinement, its residual in long double: the correction is the
    // solution's error, however small the residual looked. With refine the
    // solution takes the first correction (an iterative one to 1e-4 of it:
    // the error shrinks that much) and is checked by the second; otherwise
    // it is only checked, so that Cholesky results stay the same to the bit.
    std::vector<double> r(b.size()), dx(b.size(), 0.0);
    for (int step = refine ? 0 : 1; step < 2; ++step) {
      bool any = false;
      for (std::size_t k = 0; k < columns; ++k) {
        const std::span<double> rk(r.data() + k * rows, rows);
        Residual(part.cells, fFriction, fNode, fRows, fCols, g, nodeOfPoint(toSolve[first + k]),
                 std::span<const double>(x.data() + k * rows, rows), rk);
        any = any || std::any_of(rk.begin(), rk.end(), [](double v) { return v != 0; });
      }
      std::fill(dx.begin(), dx.end(), 0.0);
      if (any) solver->SolveCorrection(r, dx, static_cast<int>(columns));
      if (step == 0)
        for (std::size_t q = 0; q < x.size(); ++q) x[q] += dx[q];
    }
    for (std::size_t k = 0; k < columns; ++k)
      for (std::size_t p = 0; p < count; ++p) {
        const int32_t n = nodeOfPoint(part.points[p]);
        if (n == g) continue;
        const std::size_t at = k * rows + static_cast<std::size_t>(n < g ? n : n - 1);
        atPoints[first + k][p] = x[at];
        const double e = std::fabs(dx[at]);
        errorAt[first + k][p] = std::isfinite(e) ? e : std::numeric_limits<double>::infinity();
      }
    for (std::size_t k = 0; k < columns; ++k) {
      // Allocated only now: the set-up's memory has been given back.
      std::vector<double>& v = fPotential[toSolve[first + k]];
      v.assign(static_cast<std::size_t>(nodes), 0.0);
      for (int32_t n = 0; n < nodes; ++n)
        if (n != g)
          v[static_cast<std::size_t>(n)] =
              x[k * rows + static_cast<std::size_t>(n < g ? n : n - 1)];
      if (spill && fInfo.KeptInMemory.empty()) try {
          spill->Put(first + k, v);
          spilled[first + k] = 1;
          std::vector<double>().swap(v);
        } catch (const EInOutError& e) {
          fInfo.KeptInMemory = e.what(); // a full disk: the rest stay in memory
        }
    }
  };
  ForEachOnThreads(blocks, threads, solveBlock);
  fInfo.MostIterations = std::max(fInfo.MostIterations, solver->MostIterations());
  if (spill) {
    solver.reset();
    for (std::size_t k = 0; k < toSolve.size(); ++k) {
      if (!spilled[k]) continue;
      std::vector<double>& v = fPotential[toSolve[k]];
      v.resize(static_cast<std::size_t>(nodes));
      spill->Get(k, v);
    }
  }

  // Each pair's resistance x_i(i) + x_j(j) - x_i(j) - x_j(i) against the
  // errors of its four terms, and the rounding of their sum: two points far
  // across a barrier from the ground cancel most of their potentials.
  std::vector<int> slot(count, -1);
  for (std::size_t k = 0; k < toSolve.size(); ++k)
    for (std::size_t p = 0; p < count; ++p)
      if (part.points[p] == toSolve[k]) slot[p] = static_cast<int>(k);
  worst = 0;
  for (std::size_t p = 0; p < count; ++p)
    for (std::size_t q = p + 1; q < count; ++q) {
      if (nodeOfPoint(part.points[p]) == nodeOfPoint(part.points[q])) continue;
      auto value = [&](std::size_t solution, std::size_t at) {
        return slot[solution] < 0 ? 0.0 : atPoints[static_cast<std::size_t>(slot[solution])][at];
      };
      auto err = [&](std::size_t solution, std::size_t at) {
        return slot[solution] < 0 ? 0.0 : errorAt[static_cast<std::size_t>(slot[solution])][at];
      };
      const double terms[4] = {value(p, p), value(q, q), value(p, q), value(q, p)};
      const double resistance = terms[0] + terms[1] - terms[2] - terms[3];
      double largest = 0;
      for (const double t : terms) largest = std::max(largest, std::fabs(t));
      const double bound = err(p, p) + err(q, q) + err(p, q) + err(q, p) +
                           4 * std::numeric_limits<double>::epsilon() * largest;
      const double relative = resistance > 0 ? bound / resistance
                                             : std::numeric_limits<double>::infinity();
      worst = std::max(worst, relative);
    }
  return worst <= kResistanceCheckLimit;
}

void tResistanceNetwork::PairFields(const tPart& part, int a, int b, tPairField& field) const {
  const int k = static_cast<int>(part.terminals.size());
  const std::size_t nodes = part.cells.size();
  // Sums of positive terms, in double-double as the harmonic extensions.
  auto potentials = [&](int source, int ground, std::vector<double>& high,
                        std::vector<double>& low) {
    const std::vector<resistance::tDouble2> at =
        resistance::tGroundedCircuit(part.reduced, k, ground).Potentials(source);
    std::vector<resistance::tDouble2> v(nodes);
    for (std::size_t t = 0; t < static_cast<std::size_t>(k); ++t) {
      if (!(at[t].hi > 0)) continue;
      const double* h = part.harmonic[t].data();
      const double* l = part.harmonicLow[t].data();
      for (std::size_t n = 0; n < nodes; ++n)
        v[n] = resistance::Add(v[n], resistance::Mul({h[n], l[n]}, at[t]));
    }
    high.resize(nodes);
    low.resize(nodes);
    for (std::size_t n = 0; n < nodes; ++n) high[n] = v[n].hi, low[n] = v[n].lo;
  };
  potentials(a, b, field.vHigh, field.vLow);
  potentials(b, a, field.wHigh, field.wLow);
}

namespace {

// The potential drop from node n to node m of a subtraction-free pair: from
// the potentials grounded at the pair's sink (v) where those are the
// smaller, else from those grounded at its source (w, rising the other
// way), so that neither side of a barrier differences two numbers of the
// order of its resistance. Where the two potentials are close their high
// parts differ exactly, and the low parts keep the digits a double alone
// would have lost (a region walled in between barriers).
inline double Drop(const tPairField& f, std::size_t n, std::size_t m) {
  if (f.vHigh[n] + f.vHigh[m] <= f.wHigh[n] + f.wHigh[m])
    return (f.vHigh[n] - f.vHigh[m]) + (f.vLow[n] - f.vLow[m]);
  return (f.wHigh[m] - f.wHigh[n]) + (f.wLow[m] - f.wLow[n]);
}

} // namespace

void tResistanceNetwork::SolveSubtractionFree(tPart& part, const tResistanceOptions& options,
                                              std::chrono::steady_clock::time_point setUpStart) {
  const auto nodes = static_cast<int32_t>(part.cells.size());
  // The terminals: the points' distinct nodes, the grounded node first.
  part.subtractionFree = true;
  part.terminals.clear();
  std::vector<int32_t> terminalOf(static_cast<std::size_t>(nodes), -1);
  for (const std::size_t i : part.points) {
    const int32_t n = fNode[static_cast<std::size_t>(fPoints[i].row) * fCols +
                            static_cast<std::size_t>(fPoints[i].col)];
    if (terminalOf[static_cast<std::size_t>(n)] < 0) {
      terminalOf[static_cast<std::size_t>(n)] = static_cast<int32_t>(part.terminals.size());
      part.terminals.push_back(n);
    }
    fTerminal[i] = terminalOf[static_cast<std::size_t>(n)];
  }
  const auto k = static_cast<int>(part.terminals.size());
  std::vector<char> kept(static_cast<std::size_t>(nodes), 0);
  for (const int32_t n : part.terminals) kept[static_cast<std::size_t>(n)] = 1;
  const std::vector<int64_t> order = GridDissection(part.cells, fCols, kept);

  // The links alone: no diagonal, no ground.
  resistance::tSparseMatrix links;
  links.n = nodes;
  links.rowStart.reserve(static_cast<std::size_t>(nodes) + 1);
  links.rowStart.push_back(0);
  for (int32_t n = 0; n < nodes; ++n) {
    const std::size_t cell = part.cells[static_cast<std::size_t>(n)];
    const auto r = static_cast<int64_t>(cell / static_cast<std::size_t>(fCols));
    const auto c = static_cast<int64_t>(cell % static_cast<std::size_t>(fCols));
    for (int d = 0; d < 8; ++d) {
      const int64_t nr = r + kDr[d], nc = c + kDc[d];
      if (nr < 0 || nr >= fRows || nc < 0 || nc >= fCols) continue;
      const std::size_t other = static_cast<std::size_t>(nr) * fCols + static_cast<std::size_t>(nc);
      if (std::isnan(fFriction[other])) continue;
      links.col.push_back(fNode[other]);
      links.value.push_back(
          Conductance(fFriction[cell], fFriction[other], kDr[d] != 0 && kDc[d] != 0));
    }
    links.rowStart.push_back(static_cast<int64_t>(links.col.size()));
  }
  resistance::tGthReduction gth(links, order, part.terminals);
  fInfo.LargestFactorBytes = std::max(fInfo.LargestFactorBytes, gth.FactorBytes());
  gth.Factorise();
  links = {};
  part.reduced = gth.Reduced();
  const auto solveStart = std::chrono::steady_clock::now();
  fInfo.SetUpSeconds += std::chrono::duration<double>(solveStart - setUpStart).count();

  part.harmonic.assign(static_cast<std::size_t>(k), {});
  part.harmonicLow.assign(static_cast<std::size_t>(k), {});
  constexpr int kBlock = 8;
  for (int first = 0; first < k; first += kBlock) {
    const int count = std::min(kBlock, k - first);
    std::vector<std::span<double>> high, low;
    for (int t = first; t < first + count; ++t) {
      part.harmonic[static_cast<std::size_t>(t)].assign(static_cast<std::size_t>(nodes), 0.0);
      part.harmonicLow[static_cast<std::size_t>(t)].assign(static_cast<std::size_t>(nodes), 0.0);
      high.emplace_back(part.harmonic[static_cast<std::size_t>(t)]);
      low.emplace_back(part.harmonicLow[static_cast<std::size_t>(t)]);
    }
    gth.Harmonic(first, count, high, low);
  }
  const auto kk = static_cast<std::size_t>(k);
  part.resistance.assign(kk * kk, 0.0);
  for (int g = 1; g < k; ++g) {
    const resistance::tGroundedCircuit circuit(part.reduced, k, g);
    for (int s = 0; s < g; ++s)
      part.resistance[static_cast<std::size_t>(s) * kk + static_cast<std::size_t>(g)] =
          part.resistance[static_cast<std::size_t>(g) * kk + static_cast<std::size_t>(s)] =
              circuit.Resistance(s);
  }

  // The check: the Dirichlet energy of a pair's potentials, normalised to 1
  // between its points, is at least 1 / R for the true R, and equals
  // 1 / R-hat to first order in the potentials' errors; summed from
  // positive terms, it does not share the elimination's rounding.
  std::vector<std::pair<int, int>> pairs;
  for (int a = 0; a < k; ++a)
    for (int b = a + 1; b < k; ++b) pairs.emplace_back(a, b);
  std::vector<double> mismatch(pairs.size(), 0.0);
  const auto cols = static_cast<std::size_t>(fCols);
  auto checkPair = [&](std::size_t p) {
    tPairField field;
    const auto [a, b] = pairs[p];
    PairFields(part, a, b, field);
    long double energy = 0;
    for (std::size_t n = 0; n < part.cells.size(); ++n) {
      const std::size_t cell = part.cells[n];
      const auto r = static_cast<int32_t>(cell / cols), c = static_cast<int32_t>(cell % cols);
      for (int d = 4; d < 8; ++d) {
        const double cond = part.forward[n * 4 + static_cast<std::size_t>(d - 4)];
        if (cond == 0 || r + kDr[d] >= fRows || c + kDc[d] < 0 || c + kDc[d] >= fCols) continue;
        const auto m = static_cast<std::size_t>(
            fNode[cell + static_cast<std::size_t>(kDr[d] * fCols + kDc[d])]);
        const long double drop = Drop(field, n, m);
        energy += cond * drop * drop;
      }
    }
    const double r =
        part.resistance[static_cast<std::size_t>(a) * kk + static_cast<std::size_t>(b)];
    const double m = static_cast<double>(std::fabs(energy / r - 1.0L));
    mismatch[p] = std::isfinite(m) ? m : std::numeric_limits<double>::infinity();
  };
  const int threads = std::clamp(options.Threads, 1, std::max(1, static_cast<int>(pairs.size())));
  ForEachOnThreads(pairs.size(), threads, checkPair);
  const double worst = mismatch.empty() ? 0.0 : *std::max_element(mismatch.begin(), mismatch.end());
  if (!(worst <= kResistanceCheckLimit))
    Refuse(part, "Resistance distance: the subtraction-free solve failed its accuracy check "
                 "(energy of a pair's potentials off its resistance by " +
                     FormatGeneral(worst) + ", above " + FormatGeneral(kResistanceCheckLimit) +
                     ")");
  ++fInfo.SubtractionFreeParts;
  fInfo.WorstCheck = std::max(fInfo.WorstCheck, worst);
  fInfo.SolvedPoints += static_cast<int>(std::count_if(
      part.points.begin(), part.points.end(), [&](std::size_t i) { return fTerminal[i] != 0; }));
  fInfo.SolveSeconds +=
      std::chrono::duration<double>(std::chrono::steady_clock::now() - solveStart).count();
}

double tResistanceNetwork::Resistance(std::size_t i, std::size_t j) const {
  const auto count = static_cast<long long>(fPoints.size());
  if (i >= fPoints.size()) RaiseRangeCheck("point", static_cast<long long>(i), 0, count - 1);
  if (j >= fPoints.size()) RaiseRangeCheck("point", static_cast<long long>(j), 0, count - 1);
  if (fPointPart[i] < 0 || fPointPart[i] != fPointPart[j]) return -1;
  if (fPoints[i] == fPoints[j]) return 0;
  auto node = [&](std::size_t k) {
    return static_cast<std::size_t>(fNode[static_cast<std::size_t>(fPoints[k].row) * fCols +
                                          static_cast<std::size_t>(fPoints[k].col)]);
  };
  const tPart& part = *fParts[static_cast<std::size_t>(fPointPart[i])];
  if (part.subtractionFree)
    return part.resistance[static_cast<std::size_t>(fTerminal[i]) * part.terminals.size() +
                           static_cast<std::size_t>(fTerminal[j])];
  const std::size_t a = node(i), b = node(j);
  const std::vector<double>&xi = fPotential[i], &xj = fPotential[j];
  return xi[a] + xj[b] - xi[b] - xj[a];
}

tMatrixOfDouble tResistanceNetwork::Resistances() const {
  const std::size_t n = fPoints.size();
  tMatrixOfDouble r(n, std::vector<double>(n, 0.0));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) r[i][j] = Resistance(i, j);
  return r;
}

double tResistanceNetwork::Potential(std::size_t i, int32_t row, int32_t col) const {
  if (i >= fPoints.size())
    RaiseRangeCheck("point", static_cast<long long>(i), 0,
                    static_cast<long long>(fPoints.size()) - 1);
  if (row < 0 || row >= fRows) RaiseRangeCheck("row", row, 0, fRows - 1);
  if (col < 0 || col >= fCols) RaiseRangeCheck("column", col, 0, fCols - 1);
  const std::size_t cell = static_cast<std::size_t>(row) * fCols + static_cast<std::size_t>(col);
  if (fPointPart[i] < 0 || fPartOf[cell] != fPointPart[i])
    return std::numeric_limits<double>::quiet_NaN();
  const tPart& part = *fParts[static_cast<std::size_t>(fPointPart[i])];
  if (part.subtractionFree) {
    const std::vector<resistance::tDouble2> at =
        resistance::tGroundedCircuit(part.reduced, static_cast<int>(part.terminals.size()), 0)
            .Potentials(fTerminal[i]);
    double v = 0;
    for (std::size_t t = 0; t < at.size(); ++t)
      v += at[t].hi * (part.harmonic[t][static_cast<std::size_t>(fNode[cell])] +
                       part.harmonicLow[t][static_cast<std::size_t>(fNode[cell])]);
    return v;
  }
  return fPotential[i][static_cast<std::size_t>(fNode[cell])];
}

template <class F>
void tResistanceNetwork::ForEachCellCurrent(std::size_t i, std::size_t j, F&& f) const {
  if (Resistance(i, j) <= 0) return;
  const tPart& part = *fParts[static_cast<std::size_t>(fPointPart[i])];
  if (!part.subtractionFree) {
    const double* xi = fPotential[i].data();
    const double* xj = fPotential[j].data();
    PairCurrents(
        part, i, j, [&](std::size_t n, std::size_t m) { return (xi[n] - xj[n]) - (xi[m] - xj[m]); },
        f);
    return;
  }
  tPairField field;
  PairFields(part, fTerminal[i], fTerminal[j], field);
  PairCurrents(
      part, i, j, [&](std::size_t n, std::size_t m) { return Drop(field, n, m); }, f);
}

template <class D, class F>
void tResistanceNetwork::PairCurrents(const tPart& part, std::size_t i, std::size_t j, D&& drop,
                                      F&& f) const {
  const double* forward = part.forward.data();
  const auto cols = static_cast<std::size_t>(fCols);
  const std::size_t cellI = static_cast<std::size_t>(fPoints[i].row) * cols +
                            static_cast<std::size_t>(fPoints[i].col);
  const std::size_t cellJ = static_cast<std::size_t>(fPoints[j].row) * cols +
                            static_cast<std::size_t>(fPoints[j].col);
  // Nodes come row by row: the row is found once per row, not by a division
  // per cell. The links are summed in neighbour order, as ever, so the sums
  // do not change.
  // The current on the link to neighbour k (0 where there is none), signed:
  // out of the node.
  const auto LinkCurrent = [&]<std::size_t k>(int32_t r, int32_t c, std::size_t cell,
                                              std::size_t n) -> double {
    const int32_t nr = r + kDr[k], nc = c + kDc[k];
    if (nr < 0 || nr >= fRows || nc < 0 || nc >= fCols) return 0.0;
    const int32_t m = fNode[cell + static_cast<std::size_t>(kDr[k] * fCols + kDc[k])];
    if (m < 0) return 0.0;
    // A link back to an earlier row or column is the other end's forward link.
    const double g = k < 4 ? forward[static_cast<std::size_t>(m) * 4 + (3 - k)]
                           : forward[n * 4 + (k - 4)];
    return g * drop(n, static_cast<std::size_t>(m));
  };
  // Kirchhoff's law at every node: what leaves by the links less what the
  // pair injects there. Currents taken from potentials that lost their
  // differences to rounding (as across a barrier) do not balance.
  double imbalance = 0;
  int32_t r = -1;
  std::size_t rowStart = 0, rowEnd = 0;
  for (std::size_t n = 0; n < part.cells.size(); ++n) {
    const std::size_t cell = part.cells[n];
    if (cell >= rowEnd) {
      r = static_cast<int32_t>(cell / cols);
      rowStart = static_cast<std::size_t>(r) * cols;
      rowEnd = rowStart + cols;
    }
    const auto c = static_cast<int32_t>(cell - rowStart);
    double sum = (cell == cellI || cell == cellJ) ? 1.0 : 0.0;
    // Unrolled: the eight terms are worked out side by side, then added in
    // order.
    double term[8];
    [&]<std::size_t... k>(std::index_sequence<k...>) {
      ((term[k] = LinkCurrent.template operator()<k>(r, c, cell, n)), ...);
    }
    (std::make_index_sequence<8>());
    double out = cell == cellI ? -1.0 : cell == cellJ ? 1.0 : 0.0;
    for (const double t : term) {
      sum += std::fabs(t);
      out += t;
    }
    imbalance += std::fabs(out);
    f(cell, r, c, 0.5 * sum);
  }
  if (!(imbalance / 2 <= kCurrentCheckLimit))
    Refuse(part, "Resistance distance: the currents between points " + std::to_string(i) + " and " +
                     std::to_string(j) + " do not balance (Kirchhoff imbalance " +
                     FormatGeneral(imbalance / 2) + " A of the pair's 1 A, above " +
                     FormatGeneral(kCurrentCheckLimit) + ")");
}

void tResistanceNetwork::AddPairCurrent(std::size_t i, std::size_t j,
                                        std::span<float> cumulative) const {
  if (cumulative.size() != static_cast<std::size_t>(fRows) * static_cast<std::size_t>(fCols))
    throw EAssertionFailed("Resistance distance: the current map is not of the friction's size");
  ForEachCellCurrent(i, j, [&](std::size_t cell, int32_t, int32_t, double current) {
    cumulative[cell] += static_cast<float>(current);
  });
}

std::vector<float> tResistanceNetwork::PairCurrent(std::size_t i, std::size_t j) const {
  std::vector<float> current(static_cast<std::size_t>(fRows) * static_cast<std::size_t>(fCols), 0);
  AddPairCurrent(i, j, current);
  return current;
}

std::optional<double> tResistanceNetwork::CurrentWeightedMean(std::size_t i, std::size_t j,
                                                              const tMatrixOfSingle& map,
                                                              std::optional<float> mapFlag) const {
  bool sameSize = map.size() == static_cast<std::size_t>(fRows);
  for (const auto& row : map) sameSize = sameSize && row.size() == static_cast<std::size_t>(fCols);
  if (!sameSize)
    throw EAssertionFailed("Resistance distance: the map is not of the friction's size");
  double weighted = 0, weight = 0;
  ForEachCellCurrent(i, j, [&](std::size_t, int32_t r, int32_t c, double current) {
    const float m = map[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
    if (current <= 0 || IsMissing(m, mapFlag)) return;
    weighted += current * m;
    weight += current;
  });
  if (weight == 0) return std::nullopt;
  return weighted / weight;
}

std::vector<std::optional<double>>
tResistanceNetwork::CurrentWeightedMeans(std::size_t i, std::size_t j,
                                         std::span<const tRaster* const> maps) const {
  for (const tRaster* m : maps)
    if (m->Rows != fRows || m->Columns != fCols)
      throw EInvalidOperation("Resistance distance: the map " + m->MapName() +
                              " does not overlay the friction map (" + std::to_string(m->Rows) +
                              " x " + std::to_string(m->Columns) + " cells, the friction " +
                              std::to_string(fRows) + " x " + std::to_string(fCols) + ")");
  std::vector<double> weighted(maps.size(), 0), weight(maps.size(), 0);
  ForEachCellCurrent(i, j, [&](std::size_t, int32_t r, int32_t c, double current) {
    if (current <= 0) return;
    for (std::size_t k = 0; k < maps.size(); ++k) {
      const tRaster& map = *maps[k];
      const double v = map.GetCell(r, c);
      if (!std::isfinite(v) || map.IsMissingValue(static_cast<float>(v))) continue;
      weighted[k] += current * v;
      weight[k] += current;
    }
  });
  std::vector<std::optional<double>> means(maps.size());
  for (std::size_t k = 0; k < maps.size(); ++k)
    if (weight[k] > 0) means[k] = weighted[k] / weight[k];
  return means;
}

} // namespace stravex
