#pragma once
// An independent recomputation of the reports from the map and data files:
// maps read straight from their documentation text and image bytes, strips
// found cell by cell, day numbers counted from the calendar. The report tests
// check whole reports (and their expected copies) row by row against it.
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace stravex::test {

// A map read straight from its documentation text and image bytes.
struct tGrid {
  int32_t rows = 0, cols = 0;
  double minX = 0, maxX = 0, minY = 0, maxY = 0;
  bool background = false;
  double flag = 0;
  std::vector<double> cells;
  bool Inside(int32_t r, int32_t c) const { return r >= 0 && r < rows && c >= 0 && c < cols; }
  double At(int32_t r, int32_t c) const { return cells.at(static_cast<size_t>(r) * cols + c); }
  bool Missing(double v) const { return background && v == flag; }
  // The cell that contains the point; the far edges belong to the last cell.
  static int32_t Containing(double offset, double extent, int32_t cells) {
    const auto c = static_cast<int32_t>(std::floor(offset / (extent / cells)));
    return c == cells && offset <= extent ? cells - 1 : c;
  }
  int32_t Col(double x) const { return Containing(x - minX, maxX - minX, cols); }
  int32_t Row(double y) const { return Containing(maxY - y, maxY - minY, rows); }
};

struct tCell {
  int32_t r, c;
};

// A strip on a grid, from the definitions: end cells by rounding, the length
// the integer square root of the squared cell distance (at least 1), the unit
// step kept at 32-bit precision, `lines` parallel lines.
struct tStrip {
  int32_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
  int64_t L = 1;
  float sc = 0, sr = 0;
  int lines = 0;
  // One entry per line that reaches the cell: a cell on two lines counts twice.
  std::vector<tCell> cells;
};

struct tBinaryStats {
  int64_t count = 0, area = 0;
};

struct tQuantStats {
  double sum = -1, mean = -1, sd = -1;
  int64_t area = 0;
};

// A report: header names and rows of fields; every line must end in CR LF.
struct tReport {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  size_t Col(const std::string& name) const {
    for (size_t k = 0; k < header.size(); ++k)
      if (header[k] == name) return k;
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
};

// The maps scanned in a run and the path it asked for.
struct tScanSetup {
  std::vector<std::string> binary, quantitative;
  std::string topography;
  int width = 1; // negative: ratio
  bool leastCost = false;
};

struct tFix {
  double x, y, t;
  uint32_t id;
};

tGrid LoadGrid(const std::string& name);

// The steps t in 1..L whose coordinate start + t * step rounds (halves to
// even) onto index k, as an interval [lo, hi] (empty when lo > hi). The
// rounding is monotone in t, so the steps onto one index are consecutive.
std::pair<int64_t, int64_t> StepsOnto(double start, double step, int64_t L, int32_t k);

// The strip's cells found cell by cell: a cell of the bounding box belongs to
// a line when one step lands on both its row and its column. A line's start
// cell and cells off the grid are left out; `width` < 0 is a length:width ratio.
tStrip StripCells(const tGrid& g, int width, double x1, double y1, double x2, double y2);

// Every strip cell lies near the straight segment between the end cells:
// within half the strip's lines (plus the rounding of start and step) across
// it, and not beyond its ends.
void ExpectNearTheSegment(const tStrip& s, const std::string& where);

tBinaryStats BinaryStats(const tGrid& g, const std::vector<tCell>& cells);

tQuantStats QuantStats(const tGrid& g, const std::vector<tCell>& cells);

std::vector<std::string> Split(const std::string& s, char sep);

// Lines of a text whose every line ends in CR LF (no bare CR or LF).
std::vector<std::string> CrLfLines(const std::string& text);

tReport ParseReport(const std::string& path);

// A real of the reports: 23 characters, sign blank or "-", 14 decimals, E, 4-digit exponent.
double Real(const std::string& field);

int64_t Int(const std::string& field);

void ExpectClose(double actual, double expected, const std::string& what, double rel = 1e-12);

std::vector<std::vector<double>> NumberLines(const std::vector<std::string>& lines, size_t from,
                                             size_t count);

// The map columns of one row, recomputed for the path (x1, y1) -> (x2, y2).
// rel: relative tolerance of values that depend on the end points (looser
// when the points are read back from the report's 15 digits).
void CheckMapColumns(const tReport& rep, const std::vector<std::string>& row,
                     const tScanSetup& setup, double x1, double y1, double x2, double y2,
                     const std::string& where, double rel = 1e-12);

// Every pair of the population file, in order, with its fixed columns and map columns.
void CheckMatrixReport(const std::string& path, const tScanSetup& setup);

// Serial day of a date from 1 January 1900 on: days since 30 December 1899
// (1 January 1900 is day 2), counted year by year and month by month from
// the calendar rules.
int64_t SerialDay(int y, int m, int d);

// Day number and the time of day as its fraction.
double DateTime(int y, int m, int d, int hh, int mm, int ss);

std::vector<tFix> Tracks();

// Every segment of the track file (no duration filter), in order.
void CheckSequenceReport(const std::string& path, const tScanSetup& setup);

// Walks: each step has a length drawn from the individual's segment lengths
// (the distance file, itself checked against the tracks), starts where the
// previous one ended, the first at the individual's second location.
void CheckBootstrapReport(const std::string& path, const std::string& distancesPath, int replicates,
                          const tScanSetup& setup);

} // namespace stravex::test
