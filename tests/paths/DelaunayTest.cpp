#include "Delaunay.h"
#include "Errors.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <random>
#include <set>
#include <sstream>
#include <utility>

using namespace stravex;

namespace {

using tEdges = std::set<std::pair<int, int>>;

tMatrixOfBoolean Links(const t2DPoints& points) {
  tDelaunay d;
  d.AddPoints(points);
  d.Triangulate();
  tMatrixOfBoolean m;
  d.GetAdjacency(m);
  return m;
}

// The linked pairs (i < j), after checking the matrix shape: square,
// symmetric, false diagonal and false last row.
tEdges EdgesOf(const tMatrixOfBoolean& m) {
  tEdges edges;
  for (std::size_t i = 0; i < m.size(); ++i) {
    EXPECT_EQ(m[i].size(), m.size());
    EXPECT_FALSE(m[i][i]);
    for (std::size_t j = 0; j < m.size(); ++j) {
      EXPECT_EQ(m[i][j], m[j][i]) << i << "," << j;
      if (m[i][j] && i < j) edges.insert({static_cast<int>(i), static_cast<int>(j)});
    }
  }
  if (!m.empty()) {
    EXPECT_EQ(std::count(m.back().begin(), m.back().end(), true), 0);
  }
  return edges;
}

t2DPoints Transformed(const t2DPoints& points, double scale, double dx, double dy) {
  t2DPoints out;
  for (const auto& p : points) out.push_back({p.x * scale + dx, p.y * scale + dy});
  return out;
}

// A thin rhombus: the short diagonal 1-3 is the Delaunay one.
const t2DPoints kRhombus{{0, 0}, {3, 1}, {6, 0}, {3, -1}};
const tEdges kRhombusEdges{{0, 1}, {1, 2}, {2, 3}, {0, 3}, {1, 3}};

} // namespace

TEST(Delaunay, SmallConfigurations) {
  tMatrixOfBoolean m = Links({{0, 0}, {10, 0}, {3, 7}});
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(EdgesOf(m), (tEdges{{0, 1}, {1, 2}, {0, 2}}));

  EXPECT_EQ(EdgesOf(Links(kRhombus)), kRhombusEdges);
  // A point inside a triangle links to all three corners.
  EXPECT_EQ(EdgesOf(Links({{0, 0}, {10, 0}, {5, 9}, {5, 3}})),
            (tEdges{{0, 1}, {1, 2}, {0, 2}, {0, 3}, {1, 3}, {2, 3}}));

  // Fewer than three points, and collinear points: no triangle, empty matrix.
  for (const t2DPoints& pts : {t2DPoints{}, t2DPoints{{1, 2}}, t2DPoints{{1, 2}, {3, 4}},
                               t2DPoints{{0, 0}, {1, 0}, {2, 0}, {5, 0}},
                               t2DPoints{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {7, 7}},
                               t2DPoints{{4, 0}, {4, 1}, {4, 3}}}) {
    tDelaunay d;
    d.AddPoints(pts);
    d.Triangulate();
    EXPECT_EQ(d.TriangleCount(), 0);
    tMatrixOfBoolean out{{true}};
    d.GetAdjacency(out);
    EXPECT_TRUE(out.empty()) << pts.size() << " points";
  }
}

TEST(Delaunay, LinksFollowTheOrderOfAddition) {
  // Every order of the rhombus corners reports the same links, renamed.
  std::vector<int> perm{0, 1, 2, 3};
  do {
    t2DPoints pts;
    for (int p : perm) pts.push_back(kRhombus[p]);
    tEdges expected;
    for (const auto& [a, b] : kRhombusEdges) {
      const int ia = static_cast<int>(std::find(perm.begin(), perm.end(), a) - perm.begin());
      const int ib = static_cast<int>(std::find(perm.begin(), perm.end(), b) - perm.begin());
      expected.insert({std::min(ia, ib), std::max(ia, ib)});
    }
    EXPECT_EQ(EdgesOf(Links(pts)), expected);
  } while (std::next_permutation(perm.begin(), perm.end()));
}

TEST(Delaunay, DuplicatesKeepTheIndicesOfLaterPoints) {
  // Positions 1 and 4 repeat position 0 (within the tolerance); the rhombus
  // corners sit at 0, 2, 3 and 5.
  tDelaunay d;
  d.AddPoints({{0, 0}, {0.0000004, -0.0000009}, {3, 1}, {6, 0}, {0, 0}, {3, -1}});
  EXPECT_EQ(d.PointCount(), 6);
  EXPECT_EQ(d.VertexCount(), 4);
  d.Triangulate();
  tMatrixOfBoolean m;
  d.GetAdjacency(m);
  ASSERT_EQ(m.size(), 7u);
  EXPECT_EQ(EdgesOf(m), (tEdges{{0, 2}, {2, 3}, {3, 5}, {0, 5}, {2, 5}}));
  // Just outside the tolerance is a separate point.
  tDelaunay e;
  e.AddPoints({{0, 0}, {0.000001, 0}, {5, 5}});
  EXPECT_EQ(e.VertexCount(), 3);

  // Duplicates leaving fewer than three points: no triangle.
  tDelaunay f;
  f.AddPoints({{1, 1}, {1, 1}, {2, 5}});
  f.Triangulate();
  f.GetAdjacency(m);
  EXPECT_TRUE(m.empty());
}

TEST(Delaunay, ExtentAndPositionDoNotMatter) {
  // Small extents far from whole units, where a centre truncated to whole
  // units would leave points outside the enclosing triangle.
  for (const auto& [scale, dx, dy] : std::vector<std::array<double, 3>>{
           {0.01, 0.5, 0.5}, {0.05, 1000.45, -2000.55}, {1, 0.9, 0.9}, {1, -7.5, 3.5},
           {1000, 612345.5, 4812345.5}}) {
    EXPECT_EQ(EdgesOf(Links(Transformed(kRhombus, scale, dx, dy))), kRhombusEdges)
        << scale << " " << dx << " " << dy;
  }
}

TEST(Delaunay, FailuresAndLimits) {
  tDelaunay nan;
  EXPECT_THROW(nan.AddPoint(std::nan(""), 1), ERangeError);
  EXPECT_THROW(nan.AddPoint(1, INFINITY), ERangeError);
  EXPECT_EQ(nan.VertexCount(), 0);

  tDelaunay fewVertices(5, 100, 100);
  fewVertices.AddPoints({{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 2}});
  EXPECT_THROW(fewVertices.AddPoint(3, 5), ERangeError);
  fewVertices.AddPoint(1, 1);  // a duplicate takes no vertex number
  tDelaunay noRoomForCorners(5, 100, 100);
  noRoomForCorners.AddPoints({{0, 0}, {1, 0}, {0, 1}});
  EXPECT_THROW(noRoomForCorners.Triangulate(), ERangeError);
  tDelaunay exact(6, 100, 100);
  exact.AddPoints({{0, 0}, {1, 0}, {0, 1}});
  EXPECT_NO_THROW(exact.Triangulate());
  EXPECT_EQ(exact.TriangleCount(), 1);

  // 3 points need 7 triangles at the peak (1 enclosing, then 3, 5, 7).
  tDelaunay fewTriangles(100, 6, 100);
  fewTriangles.AddPoints({{0, 0}, {1, 0}, {0, 1}});
  EXPECT_THROW(fewTriangles.Triangulate(), ERangeError);
  tDelaunay fewEdges(100, 100, 5);
  fewEdges.AddPoints({{0, 0}, {1, 0}, {0, 1}, {1, 1}});
  EXPECT_THROW(fewEdges.Triangulate(), ERangeError);

  // Three corners within the tolerance of one horizontal line form a
  // Delaunay triangle here (the other points lie beyond its huge circle), and
  // its circumcircle cannot be computed.
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
  struct tCase {
    int n;
    unsigned seed;
    double x0, y0, width, height;
  };
  const tCase cases[] = {{10, 1, 0, 0, 100, 100},
                         {50, 2, 612000, 4810000, 20000, 15000},
                         {300, 3, 512000, 4600000, 30000, 30000},
                         {300, 4, 0.25, -3.5, 5, 4},
                         {50, 5, 10.3, 20.7, 0.8, 0.6},
                         {120, 6, -1, -1, 3, 0.5},
                         {200, 7, 512000.5, 4800000.25, 7, 9},
                         {150, 8, 20, 30, 9000, 400}};
  for (const tCase& c : cases) {
    std::mt19937_64 rng(c.seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    t2DPoints pts;
    std::ostringstream text;
    text << std::setprecision(17);
    for (int i = 0; i < c.n; ++i) {
      pts.push_back({c.x0 + c.width * u(rng), c.y0 + c.height * u(rng)});
      text << pts.back().x << ' ' << pts.back().y << '\n';
    }
    const std::string in = dir.file("points.txt"), out = dir.file("edges.txt");
    test::WriteFileBytes(in, text.str());
    std::string console;
    const int rc = test::RunCommand("/usr/bin/python3 '" + script + "' '" + in + "' '" + out + "'", console);
    if (rc == 3) GTEST_SKIP() << "scipy missing";
    ASSERT_EQ(rc, 0) << console;
    tEdges expected;
    std::istringstream edges(test::ReadFileBytes(out));
    for (int a, b; edges >> a >> b;) expected.insert({a, b});
    ASSERT_FALSE(expected.empty());

    const tEdges got = EdgesOf(Links(pts));
    std::vector<std::pair<int, int>> missing, extra;
    std::set_difference(expected.begin(), expected.end(), got.begin(), got.end(),
                        std::back_inserter(missing));
    std::set_difference(got.begin(), got.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    EXPECT_TRUE(missing.empty() && extra.empty())
        << c.n << " points, seed " << c.seed << ": " << missing.size() << " missing, "
        << extra.size() << " extra of " << expected.size();
  }
}
