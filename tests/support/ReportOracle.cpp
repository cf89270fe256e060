#include "ReportOracle.h"

#include "CliSupport.h"
#include "TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

namespace stravex::test {

namespace fs = std::filesystem;

namespace {
const fs::path kLandscape = fs::path(STRAVEX_EXAMPLES_DIR) / "landscape";
} // namespace

// ---------------------------------------------------------------------------
// Independent recomputation from the files.

tGrid LoadGrid(const std::string& name) {
  std::map<std::string, std::string> doc;
  std::istringstream in(ReadFileBytes((kLandscape / (name + ".rdc")).string()));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 14) continue;
    std::string key = line.substr(0, 12);
    key.erase(key.find_last_not_of(' ') + 1);
    doc.emplace(key, line.substr(14));
  }
  tGrid g;
  g.rows = std::stoi(doc.at("rows"));
  g.cols = std::stoi(doc.at("columns"));
  g.minX = std::stod(doc.at("min. X"));
  g.maxX = std::stod(doc.at("max. X"));
  g.minY = std::stod(doc.at("min. Y"));
  g.maxY = std::stod(doc.at("max. Y"));
  g.background = doc.at("flag def'n") == "background";
  if (g.background) g.flag = std::stod(doc.at("flag value"));
  const std::string type = doc.at("data type");
  const std::string bytes = ReadFileBytes((kLandscape / (name + ".rst")).string());
  const size_t size = type == "byte" ? 1 : type == "integer" ? 2 : 4;
  EXPECT_EQ(bytes.size(), size * g.rows * g.cols) << name;
  for (size_t i = 0; i + size <= bytes.size(); i += size) {
    const auto* p = reinterpret_cast<const unsigned char*>(&bytes[i]);
    if (size == 1) {
      g.cells.push_back(p[0]);
    } else if (size == 2) {
      g.cells.push_back(static_cast<int16_t>(p[0] | (p[1] << 8)));
    } else {
      const uint32_t u = p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
      float f;
      std::memcpy(&f, &u, 4);
      g.cells.push_back(f);
    }
  }
  return g;
}

// The steps t in 1..L whose coordinate start + t * step rounds (halves to
// even) onto index k, as an interval [lo, hi] (empty when lo > hi). The
// rounding is monotone in t, so the steps onto one index are consecutive.
std::pair<int64_t, int64_t> StepsOnto(double start, double step, int64_t L, int32_t k) {
  auto on = [&](int64_t t) { return std::nearbyint(start + static_cast<double>(t) * step) == k; };
  if (step == 0)
    return on(1) ? std::pair<int64_t, int64_t>{1, L} : std::pair<int64_t, int64_t>{1, 0};
  // The bounds are first estimated by division, then settled by the rounding itself.
  const double a = (k - 0.5 - start) / step, b = (k + 0.5 - start) / step;
  const double limit = static_cast<double>(L) + 1;
  int64_t lo = std::max<int64_t>(
      1, static_cast<int64_t>(std::ceil(std::clamp(std::min(a, b), 0.0, limit))) - 1);
  int64_t hi = std::min<int64_t>(
      L, static_cast<int64_t>(std::floor(std::clamp(std::max(a, b), 0.0, limit))) + 1);
  while (lo <= hi && !on(lo)) ++lo;
  while (hi >= lo && !on(hi)) --hi;
  return {lo, hi};
}

// The strip's cells found cell by cell: a cell of the bounding box belongs to
// a line when one step lands on both its row and its column. A line's start
// cell and cells off the grid are left out; `width` < 0 is a length:width ratio.
tStrip StripCells(const tGrid& g, int width, double x1, double y1, double x2, double y2) {
  tStrip s;
  s.c1 = g.Col(x1), s.r1 = g.Row(y1), s.c2 = g.Col(x2), s.r2 = g.Row(y2);
  const int64_t dc = s.c2 - s.c1, dr = s.r2 - s.r1;
  s.L = 0;
  while ((s.L + 1) * (s.L + 1) <= dc * dc + dr * dr) ++s.L;
  s.L = std::max<int64_t>(s.L, 1);
  s.lines = width;
  if (width < 0)
    s.lines = std::max(1, static_cast<int>(std::nearbyint(static_cast<double>(s.L) / -width)));
  s.sc = static_cast<float>(static_cast<double>(dc) / static_cast<double>(s.L));
  s.sr = static_cast<float>(static_cast<double>(dr) / static_cast<double>(s.L));
  for (int j = 0; j < s.lines; ++j) {
    const double o = j - s.lines / 2;
    const double sCol = std::nearbyint(s.c1 - o * s.sr), sRow = std::nearbyint(s.r1 + o * s.sc);
    const auto lastCol =
        static_cast<int32_t>(std::nearbyint(sCol + static_cast<double>(s.L) * s.sc));
    const auto lastRow =
        static_cast<int32_t>(std::nearbyint(sRow + static_cast<double>(s.L) * s.sr));
    for (auto r = static_cast<int32_t>(std::min<double>(sRow, lastRow));
         r <= std::max<double>(sRow, lastRow); ++r) {
      const auto rows = StepsOnto(sRow, s.sr, s.L, r);
      for (auto c = static_cast<int32_t>(std::min<double>(sCol, lastCol));
           c <= std::max<double>(sCol, lastCol); ++c) {
        const auto cols = StepsOnto(sCol, s.sc, s.L, c);
        if (std::max(rows.first, cols.first) > std::min(rows.second, cols.second)) continue;
        if ((r == sRow && c == sCol) || !g.Inside(r, c)) continue;
        s.cells.push_back({r, c});
      }
    }
  }
  return s;
}

// Every strip cell lies near the straight segment between the end cells:
// within half the strip's lines (plus the rounding of start and step) across
// it, and not beyond its ends.
void ExpectNearTheSegment(const tStrip& s, const std::string& where) {
  const double dc = s.c2 - s.c1, dr = s.r2 - s.r1, d = std::hypot(dc, dr);
  if (d == 0) {
    EXPECT_TRUE(s.cells.empty()) << where << ": both ends in one cell";
    return;
  }
  for (const tCell& cell : s.cells) {
    const double along = ((cell.c - s.c1) * dc + (cell.r - s.r1) * dr) / d;
    const double across = std::fabs((cell.r - s.r1) * dc - (cell.c - s.c1) * dr) / d;
    EXPECT_LE(across, s.lines / 2 + 1.5) << where << " cell " << cell.r << "," << cell.c;
    EXPECT_GE(along, -1.5) << where << " cell " << cell.r << "," << cell.c;
    EXPECT_LE(along, d + 1.5) << where << " cell " << cell.r << "," << cell.c;
  }
}

tBinaryStats BinaryStats(const tGrid& g, const std::vector<tCell>& cells) {
  tBinaryStats s;
  for (const tCell& cell : cells) {
    const double v = std::nearbyint(g.At(cell.r, cell.c));
    if (g.Missing(v)) continue;
    ++s.area;
    if (v > 0) s.count += static_cast<int64_t>(v);
  }
  return s;
}

tQuantStats QuantStats(const tGrid& g, const std::vector<tCell>& cells) {
  tQuantStats s;
  long double sum = 0, squares = 0;
  for (const tCell& cell : cells) {
    const double v = static_cast<float>(g.At(cell.r, cell.c));
    if (g.Missing(v)) continue;
    ++s.area;
    sum += v;
    squares += static_cast<long double>(v) * v;
  }
  if (s.area == 0) return s;
  s.sum = static_cast<double>(sum);
  s.mean = static_cast<double>(sum / s.area);
  s.sd = std::sqrt(std::max(0.0, static_cast<double>(squares / s.area) - s.mean * s.mean));
  return s;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = s.find(sep, start)) != std::string::npos; start = at + 1)
    parts.push_back(s.substr(start, at - start));
  parts.push_back(s.substr(start));
  return parts;
}

// Lines of a text whose every line ends in CR LF (no bare CR or LF).
std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; start < text.size(); start = end + 2) {
    end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "last line not ended by CR LF: " << text.substr(start);
      break;
    }
    lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << "bare CR or LF";
  }
  return lines;
}

tReport ParseReport(const std::string& path) {
  tReport r;
  const auto lines = CrLfLines(ReadFileBytes(path));
  if (lines.empty()) return r;
  r.header = Split(lines[0], '\t');
  for (size_t k = 1; k < lines.size(); ++k) {
    r.rows.push_back(Split(lines[k], '\t'));
    EXPECT_EQ(r.rows.back().size(), r.header.size()) << path << " line " << k;
  }
  return r;
}

// A real of the reports: 23 characters, sign blank or "-", 14 decimals, E, 4-digit exponent.
double Real(const std::string& field) {
  EXPECT_EQ(field.size(), 23u) << field;
  EXPECT_TRUE(field[0] == ' ' || field[0] == '-') << field;
  EXPECT_EQ(field[17], 'E') << field;
  return std::strtod(field.c_str(), nullptr);
}

int64_t Int(const std::string& field) {
  size_t used = 0;
  const long long v = std::stoll(field, &used);
  EXPECT_EQ(used, field.size()) << field;
  return v;
}

void ExpectClose(double actual, double expected, const std::string& what, double rel) {
  EXPECT_NEAR(actual, expected, rel * std::max(1.0, std::fabs(expected))) << what;
}

std::vector<std::vector<double>> NumberLines(const std::vector<std::string>& lines, size_t from,
                                             size_t count) {
  std::vector<std::vector<double>> out;
  for (size_t k = from; k < from + count; ++k) {
    std::istringstream in(lines.at(k));
    std::vector<double> v;
    for (double d; in >> d;) v.push_back(d);
    out.push_back(v);
  }
  return out;
}

// The map columns of one row, recomputed for the path (x1, y1) -> (x2, y2).
// rel: relative tolerance of values that depend on the end points (looser
// when the points are read back from the report's 15 digits).
void CheckMapColumns(const tReport& rep, const std::vector<std::string>& row,
                     const tScanSetup& setup, double x1, double y1, double x2, double y2,
                     const std::string& where, double rel) {
  static std::map<std::string, tGrid> grids;
  auto grid = [](const std::string& name) -> const tGrid& {
    auto it = grids.find(name);
    if (it == grids.end()) it = grids.emplace(name, LoadGrid(name)).first;
    return it->second;
  };
  auto field = [&](const std::string& column) { return row.at(rep.Col(column)); };
  const std::string first = !setup.binary.empty() ? setup.binary[0] : setup.quantitative.at(0);

  if (setup.leastCost) {
    // Both computations draw the same numbers: one length and cost per path set.
    const std::string length = field(first + "_Length"), cost = field(first + "_Cost");
    EXPECT_GT(Real(length), 0) << where;
    for (const auto& names : {setup.binary, setup.quantitative})
      for (const std::string& m : names) {
        EXPECT_EQ(field(m + "_Length"), length) << where << " " << m;
        EXPECT_EQ(field(m + "_Cost"), cost) << where << " " << m;
        EXPECT_GT(Int(field(m + "_Area")), 0) << where << " " << m;
      }
    for (const std::string& m : setup.binary)
      EXPECT_LE(Int(field(m + "_Count")), 2 * Int(field(m + "_Area"))) << where;
    EXPECT_EQ(std::count(rep.header.begin(), rep.header.end(), setup.topography + "_Slope"), 0)
        << "no topography";
    return;
  }

  const tStrip strip = StripCells(grid(first), setup.width, x1, y1, x2, y2);
  ExpectNearTheSegment(strip, where);
  for (const std::string& m : setup.binary) {
    const tBinaryStats s = BinaryStats(grid(m), strip.cells);
    EXPECT_EQ(Int(field(m + "_Count")), s.count) << where << " " << m;
    EXPECT_EQ(Int(field(m + "_Area")), s.area) << where << " " << m;
    EXPECT_EQ(field(m + "_Length"), "0");
    EXPECT_EQ(field(m + "_Cost"), "0");
  }
  for (const std::string& m : setup.quantitative) {
    const tQuantStats s = QuantStats(grid(m), strip.cells);
    ExpectClose(Real(field(m + "_Sum")), s.sum, where + " " + m + "_Sum");
    ExpectClose(Real(field(m + "_Mean")), s.mean, where + " " + m + "_Mean");
    ExpectClose(Real(field(m + "_SD")), s.sd, where + " " + m + "_SD", 1e-9);
    EXPECT_EQ(Int(field(m + "_Area")), s.area) << where << " " << m;
  }
  if (!setup.topography.empty()) {
    const tGrid& dem = grid(setup.topography);
    const tStrip own = StripCells(dem, setup.width, x1, y1, x2, y2);
    const tQuantStats s = QuantStats(dem, own.cells);
    const std::string& t = setup.topography;
    EXPECT_EQ(Int(field(t + "_Area")), s.area) << where;
    ExpectClose(Real(field(t + "_Mean")), s.area ? s.mean : -9999, where + " topography mean");
    ExpectClose(Real(field(t + "_SD")), s.area ? s.sd : -9999, where + " topography SD", 1e-9);
    // An elevation that is off the grid or missing gives the sentinel, not a
    // value computed from the flag.
    auto elevation = [&dem](int32_t r, int32_t c) {
      const double z = dem.Inside(r, c) ? static_cast<float>(dem.At(r, c)) : NAN;
      return dem.Missing(z) ? NAN : z;
    };
    const double d = std::hypot(x1 - x2, y1 - y2);
    const double rise = elevation(own.r2, own.c2) - elevation(own.r1, own.c1);
    const double slope = d == 0 ? 0 : std::isnan(rise) ? -9999 : rise / d;
    ExpectClose(Real(field(t + "_Slope")), slope, where + " slope", rel);
    const double half = static_cast<double>(own.L) / 2;
    const double z = elevation(static_cast<int32_t>(std::nearbyint(own.r1 + half * own.sr)),
                               static_cast<int32_t>(std::nearbyint(own.c1 + half * own.sc)));
    ExpectClose(Real(field(t + "_Convexity")), s.area && !std::isnan(z) ? z - s.mean : -9999,
                where + " convexity", 1e-9);
  }
}

// Every pair of the population file, in order, with its fixed columns and map columns.
void CheckMatrixReport(const std::string& path, const tScanSetup& setup) {
  SCOPED_TRACE(path);
  const auto lines = CrLfLines(ReadFileBytes((kLandscape / "samples.txt").string()));
  const size_t n = static_cast<size_t>(std::stoi(lines.at(1)));
  const auto points = NumberLines(lines, 3, n);
  const auto distance = NumberLines(lines, 4 + n, n);
  const auto significance = NumberLines(lines, 5 + 2 * n, n);

  const tReport rep = ParseReport(path);
  ASSERT_EQ(rep.rows.size(), n * (n - 1) / 2);
  size_t k = 0;
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j, ++k) {
      const auto& row = rep.rows[k];
      const std::string where = "pair " + std::to_string(i) + "," + std::to_string(j);
      ASSERT_EQ(Int(row[rep.Col("PopID1")]), static_cast<int64_t>(i)) << where;
      ASSERT_EQ(Int(row[rep.Col("PopID2")]), static_cast<int64_t>(j)) << where;
      // Coordinates are read at single precision.
      const double x1 = static_cast<float>(points[i][0]), y1 = static_cast<float>(points[i][1]);
      const double x2 = static_cast<float>(points[j][0]), y2 = static_cast<float>(points[j][1]);
      EXPECT_EQ(Real(row[rep.Col("X1")]), x1);
      EXPECT_EQ(Real(row[rep.Col("Y2")]), y2);
      ExpectClose(Real(row[rep.Col("GenDist")]), distance[i][j], where + " GenDist");
      ExpectClose(Real(row[rep.Col("Gsig")]), static_cast<float>(significance[i][j]),
                  where + " Gsig");
      ExpectClose(Real(row[rep.Col("GeoDist")]),
                  std::sqrt((x1 - x2) * (x1 - x2) + (y1 - y2) * (y1 - y2)), where + " GeoDist");
      CheckMapColumns(rep, row, setup, x1, y1, x2, y2, where);
    }
}

// Serial day of a date from 1 January 1900 on: days since 30 December 1899
// (1 January 1900 is day 2), counted year by year and month by month from
// the calendar rules.
int64_t SerialDay(int y, int m, int d) {
  auto leap = [](int yy) { return (yy % 4 == 0 && yy % 100 != 0) || yy % 400 == 0; };
  static constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int64_t n = 2;
  for (int yy = 1900; yy < y; ++yy) n += leap(yy) ? 366 : 365;
  for (int mm = 1; mm < m; ++mm) n += kMonthDays[mm - 1] + (mm == 2 && leap(y) ? 1 : 0);
  return n + d - 1;
}

// Day number and the time of day as its fraction.
double DateTime(int y, int m, int d, int hh, int mm, int ss) {
  return static_cast<double>(SerialDay(y, m, d)) + (hh + mm / 60.0 + ss / 3600.0) / 24.0;
}

std::vector<tFix> Tracks() {
  const auto lines = CrLfLines(ReadFileBytes((kLandscape / "tracks.txt").string()));
  std::vector<tFix> fixes;
  for (const auto& v : NumberLines(lines, 1, lines.size() - 1))
    fixes.push_back(
        {v.at(0), v.at(1),
         DateTime(static_cast<int>(v[5]), static_cast<int>(v[4]), static_cast<int>(v[3]),
                  static_cast<int>(v[6]), static_cast<int>(v[7]), static_cast<int>(v[8])),
         static_cast<uint32_t>(v[2])});
  return fixes;
}

// Every segment of the track file (no duration filter), in order.
void CheckSequenceReport(const std::string& path, const tScanSetup& setup) {
  SCOPED_TRACE(path);
  const auto fixes = Tracks();
  const tReport rep = ParseReport(path);
  size_t k = 0;
  for (size_t i = 1; i < fixes.size(); ++i) {
    if (fixes[i].id != fixes[i - 1].id) continue;
    ASSERT_LT(k, rep.rows.size());
    const auto& row = rep.rows[k++];
    const tFix &a = fixes[i - 1], &b = fixes[i];
    const std::string where = "segment to location " + std::to_string(i);
    EXPECT_EQ(Int(row[rep.Col("ID")]), b.id) << where;
    EXPECT_EQ(Real(row[rep.Col("X1")]), a.x);
    EXPECT_EQ(Real(row[rep.Col("Y2")]), b.y);
    ExpectClose(Real(row[rep.Col("T1")]), a.t, where + " T1");
    ExpectClose(Real(row[rep.Col("T2")]), b.t, where + " T2");
    ExpectClose(Real(row[rep.Col("Length")]), std::hypot(b.x - a.x, b.y - a.y), where + " Length");
    ExpectClose(Real(row[rep.Col("Time")]), b.t - a.t, where + " Time", 1e-9);
    CheckMapColumns(rep, row, setup, a.x, a.y, b.x, b.y, where);
  }
  EXPECT_EQ(k, rep.rows.size());
}

// Walks: each step has a length drawn from the individual's segment lengths
// (the distance file, itself checked against the tracks), starts where the
// previous one ended, the first at the individual's second location.
void CheckBootstrapReport(const std::string& path, const std::string& distancesPath, int replicates,
                          const tScanSetup& setup) {
  SCOPED_TRACE(path);
  const auto fixes = Tracks();
  std::map<uint32_t, std::vector<double>> lengths;
  std::map<uint32_t, tFix> start;
  for (size_t i = 1; i < fixes.size(); ++i)
    if (fixes[i].id == fixes[i - 1].id) {
      lengths[fixes[i].id].push_back(
          std::hypot(fixes[i].x - fixes[i - 1].x, fixes[i].y - fixes[i - 1].y));
      start.emplace(fixes[i].id, fixes[i]);
    }

  const auto distanceLines = CrLfLines(ReadFileBytes(distancesPath));
  ASSERT_EQ(distanceLines.size(), lengths.size());
  for (const std::string& line : distanceLines) {
    const auto fields = Split(line, '\t');
    const auto id = static_cast<uint32_t>(Int(fields.at(0)));
    ASSERT_EQ(fields.size(), lengths[id].size() + 1) << line;
    for (size_t k = 1; k < fields.size(); ++k)
      ExpectClose(Real(fields[k]), lengths[id][k - 1], "distance");
  }

  const tReport rep = ParseReport(path);
  size_t expectedRows = 0;
  for (const auto& [id, l] : lengths) expectedRows += l.size() * static_cast<size_t>(replicates);
  ASSERT_EQ(rep.rows.size(), expectedRows);
  double x = 0, y = 0;
  for (size_t k = 0; k < rep.rows.size(); ++k) {
    const auto& row = rep.rows[k];
    const std::string where = "walk line " + std::to_string(k + 1);
    const auto id = static_cast<uint32_t>(Int(row[rep.Col("ID")]));
    const int64_t step = Int(row[rep.Col("T1")]);
    EXPECT_EQ(Int(row[rep.Col("T2")]), step + 1);
    EXPECT_EQ(row[rep.Col("Time")], "1");
    EXPECT_GE(Int(row[rep.Col("Replicate")]), 1);
    EXPECT_LE(Int(row[rep.Col("Replicate")]), replicates);
    const double x1 = Real(row[rep.Col("X1")]), y1 = Real(row[rep.Col("Y1")]);
    const double x2 = Real(row[rep.Col("X2")]), y2 = Real(row[rep.Col("Y2")]);
    if (step == 0) {
      x = start.at(id).x;
      y = start.at(id).y;
    }
    EXPECT_EQ(x1, x) << where;
    EXPECT_EQ(y1, y) << where;
    const double length = Real(row[rep.Col("Length")]);
    const auto& drawn = lengths.at(id);
    EXPECT_TRUE(std::any_of(drawn.begin(), drawn.end(),
                            [&](double l) { return std::fabs(l - length) < 1e-9 * l; }))
        << where << ": " << length << " is no segment length of " << id;
    ExpectClose(std::hypot(x2 - x1, y2 - y1), length, where + " step length", 1e-9);
    CheckMapColumns(rep, row, setup, x1, y1, x2, y2, where, 1e-9);
    x = x2;
    y = y2;
  }
}

} // namespace stravex::test
