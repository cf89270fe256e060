#include "paths/Delaunay.h"

#include "base/Errors.h"

#include <cmath>
#include <utility>

namespace stravex {

namespace {

// Size of the enclosing triangle in units of the larger extent of the points
// (its base spans 4 x this). A corner near the points falls inside the
// circumcircles of the thin triangles along the hull, and those triangles are
// then lost with the corners: at 2 extents (the classic choice) most sets of a
// few hundred random points lose hull links. At 1e5 only hull triangles with a
// circumradius of that order are lost, and the circle centres are still far
// from losing precision (which starts near 1e8).
constexpr double kEnclosingScale = 100000.0;
// Extent used should the points span nothing (not possible with three
// distinct points; a guard against a degenerate triangle of zero size).
constexpr double kMinimumExtent = 1.0;

} // namespace

tDelaunay::tDelaunay() : tDelaunay(MaxVertices, MaxTriangles, EdgeCapacity) {}

tDelaunay::tDelaunay(int32_t maxVertices, int32_t maxTriangles, int32_t edgeCapacity)
    : fMaxVertices(maxVertices), fMaxTriangles(maxTriangles), fEdgeCapacity(edgeCapacity) {
  fVertices.resize(1);
  fTriangles.resize(1);
}

bool tDelaunay::IsDuplicate(double x, double y) const {
  // |x - vx| grows monotonically away from x on either side, so the points
  // within tolerance in x form one run around x in the ordered map.
  auto hi = fByX.lower_bound(x);
  for (auto it = hi; it != fByX.end() && std::abs(x - it->first) < PointTolerance; ++it)
    if (std::abs(y - it->second) < PointTolerance) return true;
  for (auto it = hi; it != fByX.begin();) {
    --it;
    if (!(std::abs(x - it->first) < PointTolerance)) break;
    if (std::abs(y - it->second) < PointTolerance) return true;
  }
  return false;
}

void tDelaunay::AddPoint(double x, double y) {
  // NaN would defeat both the duplicate test and the ordering by x.
  if (!std::isfinite(x) || !std::isfinite(y))
    throw ERangeError("Range check error: point coordinates must be finite numbers");
  if (fPointCount == INT32_MAX)
    RaiseRangeCheck("number of points", fPointCount + 1LL, 0, INT32_MAX);
  const int32_t listIndex = fPointCount;
  if (IsDuplicate(x, y)) {
    ++fPointCount;
    return;
  }
  if (fNextVertex > fMaxVertices)
    RaiseRangeCheck("number of distinct points", fNextVertex, 0, fMaxVertices);
  ++fPointCount;
  fVertices.resize(static_cast<std::size_t>(fNextVertex) + 1);
  fVertices[fNextVertex] = {x, y, listIndex};
  fByX.emplace(x, y);
  ++fNextVertex;
  // A new point invalidates an earlier triangulation.
  fTriangleCount = 0;
}

void tDelaunay::AddPoints(const t2DPoints& points) {
  for (const t2DPoint& p : points) AddPoint(p.x, p.y);
}

void tDelaunay::SortVerticesByX(int32_t lo, int32_t hi) {
  // Recursing into the smaller part only keeps the stack shallow on sorted input.
  while (lo < hi) {
    const double pivot = fVertices[(lo + hi) / 2].x;
    int32_t i = lo, j = hi;
    do {
      while (fVertices[i].x < pivot) ++i;
      while (fVertices[j].x > pivot) --j;
      if (i <= j) {
        std::swap(fVertices[i], fVertices[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - lo < hi - i) {
      if (j > lo) SortVerticesByX(lo, j);
      lo = i;
    } else {
      if (i < hi) SortVerticesByX(i, hi);
      hi = j;
    }
  }
}

bool tDelaunay::InCircle(double xp, double yp, tTriangle& t, double& xc, double& yc,
                         double& r) const {
  if (t.cached) {
    xc = t.xc;
    yc = t.yc;
    r = t.r;
    const double dx = xp - xc, dy = yp - yc;
    return dx * dx + dy * dy <= r * r;
  }
  const double x1 = fVertices[t.first].x, y1 = fVertices[t.first].y;
  const double x2 = fVertices[t.second].x, y2 = fVertices[t.second].y;
  const double x3 = fVertices[t.third].x, y3 = fVertices[t.third].y;
  if (std::abs(y1 - y2) < PointTolerance && std::abs(y2 - y3) < PointTolerance)
    throw EInvalidOperation("INCIRCUM - F - Points are coincident !!");

  const double mx1 = (x1 + x2) / 2, my1 = (y1 + y2) / 2;
  const double mx2 = (x2 + x3) / 2, my2 = (y2 + y3) / 2;
  if (std::abs(y2 - y1) < PointTolerance) {
    const double m2 = -(x3 - x2) / (y3 - y2);
    xc = mx1;
    yc = m2 * (xc - mx2) + my2;
  } else if (std::abs(y3 - y2) < PointTolerance) {
    const double m1 = -(x2 - x1) / (y2 - y1);
    xc = mx2;
    yc = m1 * (xc - mx1) + my1;
  } else {
    const double m1 = -(x2 - x1) / (y2 - y1);
    const double m2 = -(x3 - x2) / (y3 - y2);
    if (m1 != m2) {
      xc = (m1 * mx1 - m2 * mx2 + my2 - my1) / (m1 - m2);
      yc = m1 * (xc - mx1) + my1;
    } else { // collinear
      xc = (x1 + x2 + x3) / 3;
      yc = (y1 + y2 + y3) / 3;
    }
  }
  const double rx = x2 - xc, ry = y2 - yc;
  const double rsqr = rx * rx + ry * ry;
  r = std::sqrt(rsqr);
  t.xc = xc;
  t.yc = yc;
  t.r = r;
  t.cached = 1;
  const double dx = xp - xc, dy = yp - yc;
  return dx * dx + dy * dy <= rsqr;
}

int32_t tDelaunay::Construct(int32_t n) {
  double xmin = fVertices[1].x, xmax = xmin, ymin = fVertices[1].y, ymax = ymin;
  for (int32_t i = 2; i <= n; ++i) {
    xmin = std::min(xmin, fVertices[i].x);
    xmax = std::max(xmax, fVertices[i].x);
    ymin = std::min(ymin, fVertices[i].y);
    ymax = std::max(ymax, fVertices[i].y);
  }
  const double dx = xmax - xmin, dy = ymax - ymin;
  double dmax = dx > dy ? dx : dy;
  if (!(dmax > 0)) dmax = kMinimumExtent;
  // The exact centre: truncating it to whole units can leave points outside
  // the enclosing triangle when they span only a few units.
  const double xmid = (xmax + xmin) / 2, ymid = (ymax + ymin) / 2;
  const double s = kEnclosingScale * dmax;
  fVertices.resize(static_cast<std::size_t>(n) + 4);
  fVertices[n + 1] = {xmid - 2 * s, ymid - s, -1};
  fVertices[n + 2] = {xmid, ymid + 2 * s, -1};
  fVertices[n + 3] = {xmid + 2 * s, ymid - s, -1};

  // Storage grows with need up to the limits instead of being reserved whole.
  fTriangles.assign(2, tTriangle{});
  std::vector<char> complete(2, 0);
  std::vector<tEdge> edges;
  fTriangles[1] = {n + 1, n + 2, n + 3, 0, 0, 0, 0};
  int32_t T = 1;

  for (int32_t p = 1; p <= n; ++p) {
    const double xp = fVertices[p].x, yp = fVertices[p].y;
    edges.clear();
    int32_t k = 0;
    do {
      ++k;
      if (complete[k]) continue;
      double xc, yc, r;
      const bool inside = InCircle(xp, yp, fTriangles[k], xc, yc, r);
      if (xc + r < xp) {
        // Points come in increasing x: no later point can enter this circle.
        complete[k] = 1;
      } else if (inside) {
        if (static_cast<int64_t>(edges.size()) + 3 > fEdgeCapacity)
          RaiseRangeCheck("number of edges", static_cast<long long>(edges.size()) + 3, 0,
                          fEdgeCapacity);
        const tTriangle& t = fTriangles[k];
        edges.push_back({t.first, t.second});
        edges.push_back({t.second, t.third});
        edges.push_back({t.third, t.first});
        fTriangles[k] = fTriangles[T];
        complete[k] = complete[T];
        fTriangles[T].cached = 0;
        --k;
        --T;
      }
    } while (k < T);

    // Edges shared by two removed triangles meet in opposite orientation.
    const std::size_t E = edges.size();
    for (std::size_t a = 0; a + 1 < E; ++a) {
      for (std::size_t b = a + 1; b < E; ++b) {
        if (edges[a].u == 0 || edges[b].u == 0) continue;
        if (edges[a].u == edges[b].w && edges[a].w == edges[b].u) {
          edges[a] = {0, 0};
          edges[b] = {0, 0};
        }
      }
    }

    for (const tEdge& e : edges) {
      if (e.u == 0 && e.w == 0) continue;
      if (T + 1 > fMaxTriangles) RaiseRangeCheck("number of triangles", T + 1LL, 0, fMaxTriangles);
      ++T;
      if (static_cast<std::size_t>(T) >= fTriangles.size()) {
        fTriangles.emplace_back();
        complete.push_back(0);
      }
      fTriangles[T] = {e.u, e.w, p, 0, 0, 0, 0};
      complete[T] = 0;
    }
  }

  // Drop every triangle with a corner of the enclosing triangle.
  int32_t k = 0;
  while (k < T) {
    ++k;
    const tTriangle& t = fTriangles[k];
    if (t.first > n || t.second > n || t.third > n) {
      fTriangles[k] = fTriangles[T];
      --k;
      --T;
    }
  }
  fTriangles.resize(static_cast<std::size_t>(T) + 1);
  return T;
}

void tDelaunay::Triangulate() {
  const int32_t n = fNextVertex - 1;
  fTriangleCount = 0;
  fVertices.resize(static_cast<std::size_t>(n) + 1);
  if (n > 1) SortVerticesByX(1, n);
  if (n < 3) return;
  // No numbers left for the enclosing corners.
  if (n > fMaxVertices - 3) RaiseRangeCheck("number of distinct points", n, 0, fMaxVertices - 3LL);
  fTriangleCount = Construct(n);
}

void tDelaunay::GetAdjacency(tMatrixOfBoolean& adjacency) const {
  adjacency.clear();
  if (fTriangleCount <= 0) return;
  const std::size_t size = static_cast<std::size_t>(fPointCount) + 1;
  adjacency.assign(size, std::vector<bool>(size, false));
  for (int32_t k = 1; k <= fTriangleCount; ++k) {
    const tTriangle& t = fTriangles[k];
    const auto a = static_cast<std::size_t>(fVertices[t.first].listIndex);
    const auto b = static_cast<std::size_t>(fVertices[t.second].listIndex);
    const auto d = static_cast<std::size_t>(fVertices[t.third].listIndex);
    adjacency[a][b] = adjacency[b][a] = true;
    adjacency[a][d] = adjacency[d][a] = true;
    adjacency[b][d] = adjacency[d][b] = true;
  }
}

} // namespace stravex
