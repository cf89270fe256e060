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

// A nested-dissection elimination order of a part's reduced nodes (node n
// is n, or n - 1 past the grounded node, which is left out): the part is
// cut across its longer side by one line of cells, which no 8-neighbour
// link crosses; each side is ordered the same way and the cut comes last.
// On a grid this is the order a graph partitioner finds, at a fraction of
// its time and memory (METIS took 5 s for 10^6 nodes, 13 GB for 1.6 x 10^7).
// Stable partitions keep the order the same on every platform.
std::vector<int64_t> GridDissection(const std::vector<std::size_t>& cells, int32_t cols,
                                    int32_t ground) {
  const auto nodes = static_cast<int32_t>(cells.size());
  std::vector<int32_t> row(cells.size()), col(cells.size()), todo;
  todo.reserve(cells.size());
  for (int32_t n = 0; n < nodes; ++n) {
    row[static_cast<std::size_t>(n)] =
        static_cast<int32_t>(cells[static_cast<std::size_t>(n)] / static_cast<std::size_t>(cols));
    col[static_cast<std::size_t>(n)] =
        static_cast<int32_t>(cells[static_cast<std::size_t>(n)] % static_cast<std::size_t>(cols));
    if (n != ground) todo.push_back(n);
  }
  std::vector<int64_t> order;
  order.reserve(todo.size());
  constexpr std::size_t kLeaf = 16;
  auto dissect = [&](auto&& self, std::vector<int32_t>::iterator first,
                     std::vector<int32_t>::iterator last) -> void {
    if (static_cast<std::size_t>(last - first) <= kLeaf) {
      for (auto it = first; it != last; ++it) order.push_back(*it < ground ? *it : *it - 1);
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
    for (auto it = after; it != last; ++it) order.push_back(*it < ground ? *it : *it - 1);
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
};

bool IterativeResistanceSolverAvailable() { return resistance::IterativeSolverAvailable(); }

tResistanceNetwork::tResistanceNetwork(const tMatrixOfSingle& friction, std::optional<float> flag,
                                       const std::string& frictionName,
                                       std::span<const t2DiPoint> points,
                                       const tResistanceOptions& options)
    : fPoints(points.begin(), points.end()) {
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
  for (auto& part : fParts) {
    SolvePart(*part, options);
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
  }
}

tResistanceNetwork::~tResistanceNetwork() = default;

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
  if (direct) {
    auto d = std::make_unique<resistance::tDirectSolver>(a, GridDissection(part.cells, fCols, g));
    if (options.Solver == tResistanceSolver::Auto && d->FactorBytes() > options.MemoryBudget &&
        IterativeResistanceSolverAvailable())
      direct = false;
    else {
      fInfo.LargestFactorBytes = std::max(fInfo.LargestFactorBytes, d->FactorBytes());
      a = {}; // CHOLMOD has its own copy
      d->Factorise();
      solver = std::move(d);
    }
  }
  if (!direct)
    solver = resistance::MakeIterativeSolver(std::move(a), options.Tolerance,
                                             options.MaxIterations);
  ++(direct ? fInfo.DirectParts : fInfo.IterativeParts);
  // Without a temporary file the solutions stay in memory, as for a direct
  // part: a long run is not lost for want of a folder; the log says why.
  std::optional<tSolutionSpill> spill;
  std::vector<char> spilled(toSolve.size(), 0);
  if (!direct) try {
      spill.emplace();
    } catch (const EInOutError& e) {
      fInfo.KeptInMemory = e.what();
    }
  const auto solveStart = std::chrono::steady_clock::now();
  fInfo.SetUpSeconds += std::chrono::duration<double>(solveStart - setUpStart).count();

  // The points in blocks, one call of the solver each; threads take whole
  // blocks, and each block writes only its own points' potentials. The
  // blocks do not depend on the number of threads: neither do the results.
  const auto perBlock = static_cast<std::size_t>(solver->BestColumns());
  const std::size_t blocks = (toSolve.size() + perBlock - 1) / perBlock;
  const int threads =
      solver->ConcurrentSolves() ? std::clamp(options.Threads, 1, static_cast<int>(blocks)) : 1;
  const auto rows = static_cast<std::size_t>(nodes - 1);
  auto solveBlock = [&](std::size_t block) {
    const std::size_t first = block * perBlock;
    const std::size_t count = std::min(perBlock, toSolve.size() - first);
    std::vector<double> b(rows * count, 0.0), x(b.size());
    for (std::size_t k = 0; k < count; ++k) {
      const t2DiPoint p = fPoints[toSolve[first + k]];
      const int32_t n =
          fNode[static_cast<std::size_t>(p.row) * fCols + static_cast<std::size_t>(p.col)];
      b[k * rows + static_cast<std::size_t>(n < g ? n : n - 1)] = 1;
    }
    solver->Solve(b, x, static_cast<int>(count));
    for (std::size_t k = 0; k < count; ++k) {
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
  if (threads == 1) {
    for (std::size_t block = 0; block < blocks; ++block) solveBlock(block);
  } else {
    std::atomic<std::size_t> next{0};
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(threads));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back([&, t] {
        try {
          for (std::size_t k; (k = next.fetch_add(1)) < blocks;) solveBlock(k);
        } catch (...) {
          errors[static_cast<std::size_t>(t)] = std::current_exception();
          next = blocks;
        }
      });
    for (auto& th : pool) th.join();
    for (const auto& e : errors)
      if (e) std::rethrow_exception(e);
  }
  fInfo.MostIterations = std::max(fInfo.MostIterations, solver->MostIterations());
  fInfo.SolvedPoints += static_cast<int>(toSolve.size());
  if (spill) {
    solver.reset();
    for (std::size_t k = 0; k < toSolve.size(); ++k) {
      if (!spilled[k]) continue;
      std::vector<double>& v = fPotential[toSolve[k]];
      v.resize(static_cast<std::size_t>(nodes));
      spill->Get(k, v);
    }
  }
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
  return fPotential[i][static_cast<std::size_t>(fNode[cell])];
}

template <class F>
void tResistanceNetwork::ForEachCellCurrent(std::size_t i, std::size_t j, F&& f) const {
  if (Resistance(i, j) <= 0) return;
  const tPart& part = *fParts[static_cast<std::size_t>(fPointPart[i])];
  const double* xi = fPotential[i].data();
  const double* xj = fPotential[j].data();
  const double* forward = part.forward.data();
  const auto cols = static_cast<std::size_t>(fCols);
  const std::size_t cellI = static_cast<std::size_t>(fPoints[i].row) * cols +
                            static_cast<std::size_t>(fPoints[i].col);
  const std::size_t cellJ = static_cast<std::size_t>(fPoints[j].row) * cols +
                            static_cast<std::size_t>(fPoints[j].col);
  // Nodes come row by row: the row is found once per row, not by a division
  // per cell. The links are summed in neighbour order, as ever, so the sums
  // do not change.
  // The current on the link to neighbour k (0 where there is none).
  const auto LinkCurrent = [&]<std::size_t k>(int32_t r, int32_t c, std::size_t cell, std::size_t n,
                                              double v) -> double {
    const int32_t nr = r + kDr[k], nc = c + kDc[k];
    if (nr < 0 || nr >= fRows || nc < 0 || nc >= fCols) return 0.0;
    const int32_t m = fNode[cell + static_cast<std::size_t>(kDr[k] * fCols + kDc[k])];
    if (m < 0) return 0.0;
    // A link back to an earlier row or column is the other end's forward link.
    const double g = k < 4 ? forward[static_cast<std::size_t>(m) * 4 + (3 - k)]
                           : forward[n * 4 + (k - 4)];
    return g * std::fabs(v - (xi[m] - xj[m]));
  };
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
    const double v = xi[n] - xj[n];
    double sum = (cell == cellI || cell == cellJ) ? 1.0 : 0.0;
    // Unrolled: the eight terms are worked out side by side, then added in
    // order.
    double term[8];
    [&]<std::size_t... k>(std::index_sequence<k...>) {
      ((term[k] = LinkCurrent.template operator()<k>(r, c, cell, n, v)), ...);
    }
    (std::make_index_sequence<8>());
    for (const double t : term) sum += t;
    f(cell, r, c, 0.5 * sum);
  }
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
