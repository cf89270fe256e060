#include "paths/Delaunay.h"
#include "CliSupport.h"
#include "TestSupport.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <random>
#include <set>
#include <sstream>

using namespace stravex;

namespace {

using tEdges = std::set<std::pair<int, int>>;

// The linked pairs (i < j), after checking the matrix shape: square,
// symmetric, false diagonal and false last row.
tEdges EdgesOf(const tMatrixOfBoolean& m) {
  tEdges edges;
  for (std::size_t i = 0; i < m.size(); ++i) {
    EXPECT_EQ(m[i].size(), m.size());
    EXPECT_FALSE(m[i][i] || m.back()[i]);
    for (std::size_t j = i + 1; j < m.size(); ++j) {
      EXPECT_EQ(m[i][j], m[j][i]);
      if (m[i][j]) edges.insert({static_cast<int>(i), static_cast<int>(j)});
    }
  }
  return edges;
}

tEdges Links(const t2DPoints& points, std::size_t expectedSize = 0) {
  tDelaunay d;
  d.AddPoints(points);
  d.Triangulate();
  tMatrixOfBoolean m{{true}};
  d.GetAdjacency(m);
  if (expectedSize) {
    EXPECT_EQ(m.size(), expectedSize);
  }
  return EdgesOf(m);
}

// A thin rhombus: the short diagonal 1-3 is the Delaunay one.
const t2DPoints kRhombus{{0, 0}, {3, 1}, {6, 0}, {3, -1}};
const tEdges kRhombusEdges{{0, 1}, {1, 2}, {2, 3}, {0, 3}, {1, 3}};

} // namespace

TEST(Delaunay, SmallConfigurations) {
  EXPECT_EQ(Links({{0, 0}, {10, 0}, {3, 7}}, 4), (tEdges{{0, 1}, {1, 2}, {0, 2}}));
  EXPECT_EQ(Links(kRhombus, 5), kRhombusEdges);
  EXPECT_EQ(Links({{0, 0}, {10, 0}, {5, 9}, {5, 3}}), // a point inside a triangle
            (tEdges{{0, 1}, {1, 2}, {0, 2}, {0, 3}, {1, 3}, {2, 3}}));

  // Fewer than three points, and collinear points: no triangle, empty matrix.
  for (const t2DPoints& pts :
       {t2DPoints{}, t2DPoints{{1, 2}, {3, 4}}, t2DPoints{{1, 1}, {1, 1}, {2, 5}},
        t2DPoints{{0, 0}, {1, 0}, {2, 0}, {5, 0}},
        t2DPoints{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {7, 7}}, t2DPoints{{4, 0}, {4, 1}, {4, 3}}}) {
    tDelaunay d;
    d.AddPoints(pts);
    d.Triangulate();
    tMatrixOfBoolean m{{true}};
    d.GetAdjacency(m);
    EXPECT_TRUE(m.empty() && d.TriangleCount() == 0) << pts.size() << " points";
  }

  // Every order of addition reports the same links under the caller's indices.
  std::vector<int> perm{0, 1, 2, 3};
  do {
    t2DPoints pts;
    for (int p : perm) pts.push_back(kRhombus[p]);
    tEdges expected;
    for (auto [a, b] : kRhombusEdges) {
      a = static_cast<int>(std::find(perm.begin(), perm.end(), a) - perm.begin());
      b = static_cast<int>(std::find(perm.begin(), perm.end(), b) - perm.begin());
      expected.insert({std::min(a, b), std::max(a, b)});
    }
    EXPECT_EQ(Links(pts), expected);
  } while (std::next_permutation(perm.begin(), perm.end()));
}

TEST(Delaunay, DuplicatesAndSmallExtents) {
  // Positions 1 and 4 repeat position 0 within the tolerance: later points
  // keep their own indices, the duplicates' rows stay false.
  tDelaunay d;
  d.AddPoints({{0, 0}, {0.0000004, -0.0000009}, {3, 1}, {6, 0}, {0, 0}, {3, -1}, {0.000001, 0}});
  EXPECT_EQ(d.PointCount(), 7);
  EXPECT_EQ(d.VertexCount(), 5); // the last one is just outside the tolerance
  tDelaunay e;
  e.AddPoints({{0, 0}, {0.0000004, -0.0000009}, {3, 1}, {6, 0}, {0, 0}, {3, -1}});
  e.Triangulate();
  tMatrixOfBoolean m;
  e.GetAdjacency(m);
  EXPECT_EQ(m.size(), 7u);
  EXPECT_EQ(EdgesOf(m), (tEdges{{0, 2}, {2, 3}, {3, 5}, {0, 5}, {2, 5}}));

  // Spans of less than a unit, away from whole units, and map coordinates.
  for (const auto& [scale, dx, dy] :
       std::vector<std::array<double, 3>>{{0.01, 0.5, 0.5},
                                          {0.05, 1000.45, -2000.55},
                                          {1, 0.9, 0.9},
                                          {1000, 612345.5, 4812345.5}}) {
    t2DPoints pts;
    for (const auto& p : kRhombus) pts.push_back({p.x * scale + dx, p.y * scale + dy});
    EXPECT_EQ(Links(pts), kRhombusEdges) << scale << " " << dx << " " << dy;
  }
}

TEST(Delaunay, FailuresAndLimits) {
  tDelaunay nan;
  EXPECT_THROW(nan.AddPoint(std::nan(""), 1), ERangeError);
  EXPECT_THROW(nan.AddPoint(1, INFINITY), ERangeError);
  EXPECT_EQ(nan.VertexCount(), 0);

  tDelaunay fewVertices(5, 100, 100);
  fewVertices.AddPoints(
      {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 2}, {1, 1}}); // a duplicate takes no number
  EXPECT_THROW(fewVertices.AddPoint(3, 5), ERangeError);
  tDelaunay noRoomForCorners(5, 100, 100), exact(6, 100, 100);
  noRoomForCorners.AddPoints({{0, 0}, {1, 0}, {0, 1}});
  EXPECT_THROW(noRoomForCorners.Triangulate(), ERangeError);
  exact.AddPoints({{0, 0}, {1, 0}, {0, 1}});
  exact.Triangulate();
  EXPECT_EQ(exact.TriangleCount(), 1);
  // Three points need 7 triangles at the peak (1, then 3, 5, 7).
  tDelaunay fewTriangles(100, 6, 100), fewEdges(100, 100, 5);
  fewTriangles.AddPoints({{0, 0}, {1, 0}, {0, 1}});
  EXPECT_THROW(fewTriangles.Triangulate(), ERangeError);
  fewEdges.AddPoints({{0, 0}, {1, 0}, {0, 1}, {1, 1}});
  EXPECT_THROW(fewEdges.Triangulate(), ERangeError);

  // Three corners within the tolerance of one horizontal line form a Delaunay
  // triangle here (the other points lie beyond its huge circle).
  tDelaunay flat;
  flat.AddPoints({{0, 0}, {1, -0.0000005}, {2, 0}, {1, -3e6}, {5e6, -1e6}});
  try {
    flat.Triangulate();
    ADD_FAILURE() << "no error for a flat triangle";
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "INCIRCUM - F - Points are coincident !!");
  }
}

// Against Qhull (scipy.spatial.Delaunay), for random sets in general position.
TEST(Delaunay, MatchesQhullOnRandomPoints) {
  const std::string script = std::string(STRAVEX_SOURCE_DIR) + "/tests/paths/delaunay_reference.py";
  if (!test::HaveProgram("/usr/bin/python3")) GTEST_SKIP() << "python3 missing";
  test::TempDir dir;
  struct {
    int n;
    double x0, y0, width, height;
  } const cases[] = {{10, 0, 0, 100, 100},
                     {50, 612000, 4810000, 20000, 15000},
                     {300, 512000, 4600000, 30000, 30000},
                     {300, 0.25, -3.5, 5, 4},
                     {50, 10.3, 20.7, 0.8, 0.6},
                     {120, -1, -1, 3, 0.5},
                     {200, 512000.5, 4800000.25, 7, 9},
                     {150, 20, 30, 9000, 400}};
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (const auto& c : cases) {
    t2DPoints pts;
    std::ostringstream text;
    text << std::setprecision(17);
    for (int i = 0; i < c.n; ++i) {
      pts.push_back({c.x0 + c.width * u(rng), c.y0 + c.height * u(rng)});
      text << pts.back().x << ' ' << pts.back().y << '\n';
    }
    const std::string in = dir.file("points.txt"), out = dir.file("edges.txt");
    test::WriteFileBytes(in, text.str());
    const test::tCliRun r = test::RunProgram("/usr/bin/python3", {script, in, out}, "/");
    if (r.status == 3) GTEST_SKIP() << "scipy missing";
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    tEdges expected;
    std::istringstream edges(test::ReadFileBytes(out));
    for (int a, b; edges >> a >> b;) expected.insert({a, b});
    ASSERT_GT(expected.size(), static_cast<std::size_t>(c.n));
    EXPECT_EQ(Links(pts, c.n + 1), expected)
        << c.n << " points in " << c.width << " x " << c.height;
  }
}
