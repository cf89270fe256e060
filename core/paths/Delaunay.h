#pragma once
// Delaunay triangulation of planar points by incremental circumcircle
// insertion (Bowyer-Watson). Only the adjacency of the points leaves the
// object; the triangles are internal.
#include "base/CommonDecl.h"

#include <cstdint>
#include <map>
#include <vector>

namespace stravex {

class tDelaunay {
public:
  // Highest vertex number; three numbers above the last point belong to the
  // enclosing triangle, so at most MaxVertices - 3 points can be triangulated.
  static constexpr int32_t MaxVertices = 500000;
  static constexpr int32_t MaxTriangles = 1000000;
  // Highest edge number in the edge buffer of one insertion.
  static constexpr int32_t EdgeCapacity = 3000000;
  // Points closer than this in both x and y are one point; also the tolerance
  // of the horizontal-triangle test.
  static constexpr double PointTolerance = 0.000001;

  tDelaunay();
  // Lower limits, so that the range errors can be exercised without half a
  // million points.
  tDelaunay(int32_t maxVertices, int32_t maxTriangles, int32_t edgeCapacity);
  virtual ~tDelaunay() = default;

  // Appends a point unless it lies within PointTolerance (x and y) of one
  // already stored; a duplicate is dropped silently but still counts as a
  // list position. Non-finite coordinates raise ERangeError.
  virtual void AddPoint(double x, double y);
  virtual void AddPoints(const t2DPoints& points);
  // Sorts the stored points by x and builds the triangulation (only the sort
  // with fewer than 3 stored points).
  virtual void Triangulate();
  // (AddPoint calls + 1) square matrix; [a][b] is true when the a-th and b-th
  // added points share a triangle edge. A point dropped as a duplicate is no
  // vertex and keeps a false row and column. Empty when there is no triangle.
  virtual void GetAdjacency(tMatrixOfBoolean& adjacency) const;

  int32_t TriangleCount() const { return fTriangleCount; }
  // Points stored (duplicates excluded) and AddPoint calls (duplicates included).
  int32_t VertexCount() const { return fNextVertex - 1; }
  int32_t PointCount() const { return fPointCount; }

private:
  struct tVertex {
    double x = 0, y = 0;
    int32_t listIndex = -1; // 0-based position in the caller's list; -1 for the enclosing corners
  };
  struct tTriangle {
    int32_t first = 0, second = 0, third = 0;
    int32_t cached = 0;
    double xc = 0, yc = 0, r = 0;
  };
  struct tEdge {
    int32_t u = 0, w = 0;
  };

  bool IsDuplicate(double x, double y) const;
  void SortVerticesByX(int32_t lo, int32_t hi);
  bool InCircle(double xp, double yp, tTriangle& t, double& xc, double& yc, double& r) const;
  int32_t Construct(int32_t n);

  int32_t fMaxVertices, fMaxTriangles, fEdgeCapacity;
  std::vector<tVertex> fVertices;    // [0] unused; 1 .. n points, n+1 .. n+3 enclosing corners
  std::vector<tTriangle> fTriangles; // [0] unused; 1 .. fTriangleCount valid
  // Stored points by x, for the duplicate test without a scan of all points.
  std::multimap<double, double> fByX; // x -> y
  int32_t fTriangleCount = 0;
  int32_t fNextVertex = 1;
  int32_t fPointCount = 0;
};

} // namespace stravex
