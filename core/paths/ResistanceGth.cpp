// The subtraction-free elimination behind barrier maps (see
// ResistanceSolver.h). A Laplacian stored by its entries loses a node's tiny
// row excess to cancellation: with links of 1e-15 beside links of 1, the
// pivot (sum of links) - (updates) keeps only its rounding error. Here the
// pivot is the sum of the links still left, so it is as accurate as they.
#include "paths/ResistanceSolver.h"

#include "base/Errors.h"

#include <algorithm>

namespace stravex::resistance {

tGthReduction::tGthReduction(const tSparseMatrix& links, std::span<const int64_t> order,
                             std::span<const int32_t> terminals)
    : fN(links.n), fInterior(static_cast<int32_t>(order.size())),
      fTerminals(static_cast<int32_t>(terminals.size())), fLinks(&links) {
  if (fInterior + fTerminals != fN || fTerminals < 1)
    throw EAssertionFailed("Resistance distance: the elimination order does not cover the part");
  fNodeAt.reserve(static_cast<std::size_t>(fN));
  for (const int64_t n : order) fNodeAt.push_back(static_cast<int32_t>(n));
  for (const int32_t n : terminals) fNodeAt.push_back(n);
  fPosition.assign(static_cast<std::size_t>(fN), -1);
  for (int32_t p = 0; p < fN; ++p) fPosition[static_cast<std::size_t>(fNodeAt[p])] = p;

  // Symbolic: a column's rows are its own later links and its children's
  // rows below it (a child's parent is its first row).
  const auto n = static_cast<std::size_t>(fN);
  std::vector<int32_t> firstChild(n, -1), nextSibling(n, -1), mark(n, -1);
  fColStart.assign(static_cast<std::size_t>(fInterior) + 1, 0);
  for (int32_t j = 0; j < fInterior; ++j) {
    const auto start = static_cast<int64_t>(fRow.size());
    fColStart[static_cast<std::size_t>(j)] = start;
    mark[static_cast<std::size_t>(j)] = j;
    auto add = [&](int32_t row) {
      if (row > j && mark[static_cast<std::size_t>(row)] != j) {
        mark[static_cast<std::size_t>(row)] = j;
        fRow.push_back(row);
      }
    };
    const int32_t node = fNodeAt[static_cast<std::size_t>(j)];
    for (int64_t k = links.rowStart[static_cast<std::size_t>(node)];
         k < links.rowStart[static_cast<std::size_t>(node) + 1]; ++k)
      add(fPosition[static_cast<std::size_t>(links.col[static_cast<std::size_t>(k)])]);
    for (int32_t c = firstChild[static_cast<std::size_t>(j)]; c >= 0;
         c = nextSibling[static_cast<std::size_t>(c)])
      for (int64_t k = fColStart[static_cast<std::size_t>(c)];
           k < fColStart[static_cast<std::size_t>(c) + 1]; ++k)
        add(fRow[static_cast<std::size_t>(k)]);
    // A connected part with a terminal left: every node has a later link.
    if (static_cast<int64_t>(fRow.size()) == start)
      throw EAssertionFailed("Resistance distance: a node of the part has no link left");
    std::sort(fRow.begin() + start, fRow.end());
    const int32_t parent = fRow[static_cast<std::size_t>(start)];
    if (parent < fInterior) {
      nextSibling[static_cast<std::size_t>(j)] = firstChild[static_cast<std::size_t>(parent)];
      firstChild[static_cast<std::size_t>(parent)] = j;
    }
  }
  fColStart[static_cast<std::size_t>(fInterior)] = static_cast<int64_t>(fRow.size());
  fRow.shrink_to_fit();
  fFactorBytes = fRow.size() * (sizeof(int32_t) + sizeof(double));
}

tGthReduction::~tGthReduction() = default;

void tGthReduction::Factorise() {
  const tSparseMatrix& links = *fLinks;
  const auto n = static_cast<std::size_t>(fN);
  const auto k = static_cast<std::size_t>(fTerminals);
  fValue.assign(fRow.size(), 0.0);
  fPivot.assign(static_cast<std::size_t>(fInterior), 0.0);
  fReduced.assign(k * k, 0.0);
  // Left-looking: column j gathers the updates of the earlier columns that
  // have row j, each of which then waits in the list of its next row.
  std::vector<double> w(n, 0.0);
  std::vector<int32_t> head(n, -1), link(static_cast<std::size_t>(fInterior), -1);
  std::vector<int64_t> next(static_cast<std::size_t>(fInterior), 0);
  auto enqueue = [&](int32_t m, int64_t at) {
    next[static_cast<std::size_t>(m)] = at;
    if (at >= fColStart[static_cast<std::size_t>(m) + 1]) return;
    const int32_t row = fRow[static_cast<std::size_t>(at)];
    if (row >= fInterior) return; // the terminals' block is gathered below
    link[static_cast<std::size_t>(m)] = head[static_cast<std::size_t>(row)];
    head[static_cast<std::size_t>(row)] = m;
  };
  for (int32_t j = 0; j < fInterior; ++j) {
    const int32_t node = fNodeAt[static_cast<std::size_t>(j)];
    for (int64_t e = links.rowStart[static_cast<std::size_t>(node)];
         e < links.rowStart[static_cast<std::size_t>(node) + 1]; ++e) {
      const int32_t row =
          fPosition[static_cast<std::size_t>(links.col[static_cast<std::size_t>(e)])];
      if (row > j) w[static_cast<std::size_t>(row)] = links.value[static_cast<std::size_t>(e)];
    }
    for (int32_t m = head[static_cast<std::size_t>(j)]; m >= 0;) {
      const int32_t after = link[static_cast<std::size_t>(m)];
      const int64_t at = next[static_cast<std::size_t>(m)];
      // S_ij += c_im c_jm / d_m: a sum of positive terms.
      const double f = fValue[static_cast<std::size_t>(at)] / fPivot[static_cast<std::size_t>(m)];
      for (int64_t q = at + 1; q < fColStart[static_cast<std::size_t>(m) + 1]; ++q)
        w[static_cast<std::size_t>(fRow[static_cast<std::size_t>(q)])] +=
            fValue[static_cast<std::size_t>(q)] * f;
      enqueue(m, at + 1);
      m = after;
    }
    const int64_t first = fColStart[static_cast<std::size_t>(j)];
    const int64_t last = fColStart[static_cast<std::size_t>(j) + 1];
    double pivot = 0;
    for (int64_t q = first; q < last; ++q)
      pivot += w[static_cast<std::size_t>(fRow[static_cast<std::size_t>(q)])];
    fPivot[static_cast<std::size_t>(j)] = pivot;
    for (int64_t q = first; q < last; ++q) {
      double& v = w[static_cast<std::size_t>(fRow[static_cast<std::size_t>(q)])];
      fValue[static_cast<std::size_t>(q)] = v;
      v = 0;
    }
    enqueue(j, first);
  }
  // The terminals' block: their own links, plus c_am c_bm / d_m from every
  // column that reaches two of them (its last rows).
  for (int32_t a = 0; a < fTerminals; ++a) {
    const int32_t node = fNodeAt[static_cast<std::size_t>(fInterior + a)];
    for (int64_t e = links.rowStart[static_cast<std::size_t>(node)];
         e < links.rowStart[static_cast<std::size_t>(node) + 1]; ++e) {
      const int32_t b =
          fPosition[static_cast<std::size_t>(links.col[static_cast<std::size_t>(e)])] - fInterior;
      if (b >= 0)
        fReduced[static_cast<std::size_t>(a) * k + static_cast<std::size_t>(b)] +=
            links.value[static_cast<std::size_t>(e)];
    }
  }
  for (int32_t m = 0; m < fInterior; ++m) {
    int64_t q0 = fColStart[static_cast<std::size_t>(m) + 1];
    while (q0 > fColStart[static_cast<std::size_t>(m)] &&
           fRow[static_cast<std::size_t>(q0) - 1] >= fInterior)
      --q0;
    const double d = fPivot[static_cast<std::size_t>(m)];
    for (int64_t p = q0; p < fColStart[static_cast<std::size_t>(m) + 1]; ++p)
      for (int64_t q = q0; q < fColStart[static_cast<std::size_t>(m) + 1]; ++q)
        if (p != q)
          fReduced[static_cast<std::size_t>(fRow[static_cast<std::size_t>(p)] - fInterior) * k +
                   static_cast<std::size_t>(fRow[static_cast<std::size_t>(q)] - fInterior)] +=
              fValue[static_cast<std::size_t>(p)] * (fValue[static_cast<std::size_t>(q)] / d);
  }
  fLinks = nullptr;
}

void tGthReduction::Harmonic(int first, int count, std::span<const std::span<double>> high,
                             std::span<const std::span<double>> low) const {
  const auto c = static_cast<std::size_t>(count);
  std::vector<tDouble2> h(static_cast<std::size_t>(fN) * c);
  for (std::size_t t = 0; t < c; ++t)
    h[(static_cast<std::size_t>(fInterior + first) + t) * c + t].hi = 1;
  // Back substitution: each node's value is the mean of its later rows'
  // weighted by its links at its elimination, divided by their sum taken
  // again here: the weights add up to 1 exactly, as a network's do, which
  // the rounded quotients would not.
  std::vector<tDouble2> sum(c);
  for (int32_t j = fInterior - 1; j >= 0; --j) {
    std::fill(sum.begin(), sum.end(), tDouble2{});
    tDouble2 total;
    for (int64_t q = fColStart[static_cast<std::size_t>(j)];
         q < fColStart[static_cast<std::size_t>(j) + 1]; ++q) {
      const double link = fValue[static_cast<std::size_t>(q)];
      total = Add(total, {link, 0});
      const tDouble2* from = &h[static_cast<std::size_t>(fRow[static_cast<std::size_t>(q)]) * c];
      for (std::size_t t = 0; t < c; ++t)
        if (from[t].hi != 0) sum[t] = Add(sum[t], Mul(from[t], link));
    }
    tDouble2* to = &h[static_cast<std::size_t>(j) * c];
    for (std::size_t t = 0; t < c; ++t) to[t] = sum[t].hi == 0 ? tDouble2{} : Div(sum[t], total);
  }
  for (std::size_t t = 0; t < c; ++t)
    for (int32_t p = 0; p < fN; ++p) {
      const auto node = static_cast<std::size_t>(fNodeAt[static_cast<std::size_t>(p)]);
      high[t][node] = h[static_cast<std::size_t>(p) * c + t].hi;
      low[t][node] = h[static_cast<std::size_t>(p) * c + t].lo;
    }
}

tGroundedCircuit::tGroundedCircuit(const std::vector<double>& conductance, int k, int ground)
    : fK(k), fGround(ground), fRank(static_cast<std::size_t>(k), -1) {
  for (int a = 0; a < k; ++a)
    if (a != ground) {
      fRank[static_cast<std::size_t>(a)] = static_cast<int>(fOrder.size());
      fOrder.push_back(a);
    }
  const auto m = fOrder.size();
  const auto kk = static_cast<std::size_t>(k);
  // Working copy of the links among the non-grounded terminals, and each
  // one's excess: its links to the ground.
  fS.assign(m * m, tDouble2{});
  std::vector<tDouble2> excess(m);
  for (std::size_t p = 0; p < m; ++p) {
    const auto a = static_cast<std::size_t>(fOrder[p]);
    excess[p].hi = conductance[a * kk + static_cast<std::size_t>(ground)];
    for (std::size_t q = 0; q < m; ++q)
      if (q != p) fS[p * m + q].hi = conductance[a * kk + static_cast<std::size_t>(fOrder[q])];
  }
  fPivot.assign(m, tDouble2{});
  for (std::size_t p = 0; p < m; ++p) {
    tDouble2 d = excess[p];
    for (std::size_t q = p + 1; q < m; ++q) d = Add(d, fS[p * m + q]);
    fPivot[p] = d;
    for (std::size_t q = p + 1; q < m; ++q) {
      if (fS[q * m + p].hi == 0) continue;
      const tDouble2 s = Div(fS[q * m + p], d);
      excess[q] = Add(excess[q], Mul(s, excess[p]));
      for (std::size_t r = p + 1; r < m; ++r)
        if (r != q) fS[q * m + r] = Add(fS[q * m + r], Mul(s, fS[p * m + r]));
    }
  }
}

// y = L^-1 e_source: y_q = sum over earlier p of (S_pq / d_p) y_p, all >= 0.
std::vector<tDouble2> tGroundedCircuit::Forward(int source) const {
  const auto m = fOrder.size();
  std::vector<tDouble2> y(m);
  const auto s = static_cast<std::size_t>(fRank[static_cast<std::size_t>(source)]);
  y[s].hi = 1;
  for (std::size_t p = s; p < m; ++p) {
    if (y[p].hi == 0) continue;
    const tDouble2 f = Div(y[p], fPivot[p]);
    for (std::size_t q = p + 1; q < m; ++q) y[q] = Add(y[q], Mul(fS[p * m + q], f));
  }
  return y;
}

double tGroundedCircuit::Resistance(int source) const {
  if (source == fGround) return 0;
  const std::vector<tDouble2> y = Forward(source);
  tDouble2 r;
  for (std::size_t p = 0; p < y.size(); ++p) r = Add(r, Div(Mul(y[p], y[p]), fPivot[p]));
  return r.hi + r.lo;
}

std::vector<tDouble2> tGroundedCircuit::Potentials(int source) const {
  std::vector<tDouble2> v(static_cast<std::size_t>(fK));
  if (source == fGround) return v;
  const std::vector<tDouble2> y = Forward(source);
  const auto m = fOrder.size();
  std::vector<tDouble2> x(m);
  for (std::size_t p = m; p-- > 0;) {
    tDouble2 sum = y[p];
    for (std::size_t q = p + 1; q < m; ++q) sum = Add(sum, Mul(fS[p * m + q], x[q]));
    x[p] = Div(sum, fPivot[p]);
  }
  for (std::size_t p = 0; p < m; ++p) v[static_cast<std::size_t>(fOrder[p])] = x[p];
  return v;
}

} // namespace stravex::resistance
