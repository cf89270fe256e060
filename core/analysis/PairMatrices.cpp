#include "analysis/PairMatrices.h"

#include "base/AtomicFile.h"
#include "base/Errors.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <string_view>

namespace stravex {

namespace {

constexpr std::array<std::string_view, 9> kFixed = {"PopID1", "X1",      "Y1",   "PopID2", "X2",
                                                    "Y2",     "GenDist", "Gsig", "GeoDist"};
constexpr std::size_t kPopID1 = 0, kPopID2 = 3, kGenDist = 6, kGeoDist = 8;
constexpr std::string_view kReportName = "MatrixAnalysis.txt";
constexpr double kTopographySentinel = -9999.0;
constexpr double kNoPathCost = -1.0;
// The matrices filled in one pass over the report hold at most this many
// cells together (64 MB); a large run reads its report more than once.
constexpr std::size_t kCellsPerPass = std::size_t{1} << 23;
constexpr double kNA = std::numeric_limits<double>::quiet_NaN();

// The map blocks of the report, told apart by their first column's suffix.
const std::vector<std::string_view> kBinaryBlock = {"_Count", "_Area", "_Length", "_Cost"};
const std::vector<std::string_view> kQuantitativeBlock = {"_Sum",  "_Mean",   "_SD",
                                                          "_Area", "_Length", "_Cost"};
const std::vector<std::string_view> kTopographyBlock = {"_Mean", "_SD", "_Slope", "_Convexity",
                                                        "_Area"};

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The report's lines, CR LF ends taken off.
class tReportLines {
public:
  explicit tReportLines(const std::string& path) : fPath(path), fIn(path, std::ios::binary) {
    if (!fIn) throw EInOutError("Cannot open file \"" + path + "\"");
  }
  bool Next(std::string& line) {
    if (!std::getline(fIn, line)) {
      if (fIn.bad()) throw EInOutError("Cannot read file \"" + fPath + "\"");
      return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++fNumber;
    return true;
  }
  [[noreturn]] void Refuse(const std::string& why) const {
    throw EInOutError("Pair matrices: line " + std::to_string(fNumber) + " of \"" + fPath + "\" " +
                      why);
  }

private:
  std::string fPath;
  std::ifstream fIn;
  uint64_t fNumber = 0;
};

double ParseReal(std::string_view text, const tReportLines& lines) {
  // Reals of the report carry a blank sign position; "+Inf" a plus.
  const std::string_view original = text;
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double v = 0;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || res.ec != std::errc() || res.ptr != text.data() + text.size())
    lines.Refuse("has \"" + std::string(original) + "\" where a number belongs");
  return v;
}

int32_t ParseId(std::string_view text, int32_t points, const tReportLines& lines) {
  int32_t id = -1;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), id);
  if (text.empty() || res.ec != std::errc() || res.ptr != text.data() + text.size() || id < 0 ||
      id >= points)
    lines.Refuse("has the PopID \"" + std::string(text) + "\", not one of the " +
                 std::to_string(points) + " sample points");
  return id;
}

// The pair's value of a column; NaN where it has none.
double PairValue(const tPairColumn& c, const std::vector<std::string_view>& fields,
                 const tReportLines& lines) {
  if (c.NoPathField >= 0 &&
      ParseReal(fields[static_cast<std::size_t>(c.NoPathField)], lines) == kNoPathCost)
    return kNA;
  if (c.AreaField >= 0 && ParseReal(fields[static_cast<std::size_t>(c.AreaField)], lines) == 0)
    return kNA;
  const double v = ParseReal(fields[c.Field], lines);
  if (c.TopographySentinel && v == kTopographySentinel) return kNA;
  return std::isfinite(v) ? v : kNA;
}

tPairColumn Column(std::string name, std::size_t field) {
  tPairColumn c;
  c.Name = std::move(name);
  c.Field = field;
  return c;
}

[[noreturn]] void RefuseColumn(const std::vector<std::string_view>& names, std::size_t k) {
  throw EInOutError("Pair matrices: the report's column " + std::to_string(k + 1) + " (" +
                    (k < names.size() ? std::string(names[k]) : std::string("missing")) +
                    ") is not one of a population matrix report");
}

void AppendValue(std::string& line, double v) {
  if (std::isnan(v)) {
    line += "NA";
    return;
  }
  // The shortest text that reads back as the same double, locale-free.
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  line.append(buf, res.ptr);
}

void WriteMatrix(const std::string& path, const std::vector<double>& values, int32_t points) {
  tAtomicFile file(path);
  // An empty quoted corner: R's read.csv(row.names = 1) and pandas'
  // read_csv(index_col = 0) take the first column as the row names.
  std::string line = "\"\"";
  for (int32_t j = 0; j < points; ++j) line += "," + std::to_string(j);
  line += "\r\n";
  file.Write(line);
  const auto n = static_cast<std::size_t>(points);
  for (std::size_t i = 0; i < n; ++i) {
    line = std::to_string(i);
    for (std::size_t j = 0; j < n; ++j) {
      line += ',';
      if (i != j) AppendValue(line, values[i * n + j]);
    }
    line += "\r\n";
    file.Write(line);
  }
  file.Commit();
}

} // namespace

std::vector<tPairColumn> PairMatrixColumns(const std::string& header,
                                           const tPairMatrixOptions& options,
                                           std::vector<std::string>* duplicates) {
  const std::vector<std::string_view> names = SplitTabs(header);
  const auto refuse = [&](std::size_t k) { RefuseColumn(names, k); };
  for (std::size_t k = 0; k < kFixed.size(); ++k)
    if (k >= names.size() || names[k] != kFixed[k]) refuse(k);

  std::vector<tPairColumn> columns;
  const auto add = [&](tPairColumn c) {
    for (const tPairColumn& known : columns) {
      if (known.Name == c.Name) {
        if (duplicates) duplicates->push_back(c.Name);
        return;
      }
    }
    columns.push_back(std::move(c));
  };
  add(Column("GenDist", kGenDist));
  add(Column("GeoDist", kGeoDist));

  std::size_t k = kFixed.size();
  if (k < names.size() && names[k] == "Delaunay") ++k;
  if (options.ResistanceColumns) {
    // Resistance, then one current-weighted mean per map; a resistance of -1
    // (no connection) leaves the pair without a value in all of them.
    if (k >= names.size() || names[k] != "Resistance") refuse(k);
    const auto resistance = static_cast<std::ptrdiff_t>(k);
    for (; k < names.size(); ++k) {
      if (k > static_cast<std::size_t>(resistance) && !EndsWith(names[k], "_CurrentMean"))
        refuse(k);
      tPairColumn c = Column(std::string(names[k]), k);
      c.NoPathField = resistance;
      add(std::move(c));
    }
    return columns;
  }
  while (k < names.size()) {
    const std::vector<std::string_view>* block = nullptr;
    for (const auto* b : {&kBinaryBlock, &kQuantitativeBlock, &kTopographyBlock})
      if (!block && EndsWith(names[k], b->front())) block = b;
    if (!block) RefuseColumn(names, k);
    const std::string map(names[k].substr(0, names[k].size() - block->front().size()));
    for (std::size_t s = 0; s < block->size(); ++s)
      if (k + s >= names.size() || names[k + s] != map + std::string((*block)[s])) refuse(k + s);
    const auto field = [&](std::string_view suffix) {
      const auto at = std::find(block->begin(), block->end(), suffix);
      return at == block->end() ? std::ptrdiff_t{-1}
                                : static_cast<std::ptrdiff_t>(k) + (at - block->begin());
    };
    const bool topography = block == &kTopographyBlock;
    for (std::size_t s = 0; s < block->size(); ++s) {
      const std::string_view suffix = (*block)[s];
      const bool pathColumn = suffix == "_Length" || suffix == "_Cost";
      if (pathColumn && !options.PathColumns) continue;
      tPairColumn c = Column(map + std::string(suffix), k + s);
      // Without a path the counts and areas are 0 and the statistics
      // sentinels: none of them measures the pair.
      if (options.PathColumns && !topography) c.NoPathField = field("_Cost");
      if (block == &kQuantitativeBlock &&
          (suffix == "_Sum" || suffix == "_Mean" || suffix == "_SD"))
        c.AreaField = field("_Area");
      c.TopographySentinel = topography && suffix != "_Area";
      add(std::move(c));
    }
    k += block->size();
  }
  return columns;
}

std::string PairMatrixPath(const std::string& reportPath, const std::string& column) {
  std::string prefix = reportPath;
  if (EndsWith(prefix, kReportName)) prefix.resize(prefix.size() - kReportName.size());
  return prefix + column + "-matrix.csv";
}

std::vector<std::string> PairMatrixPaths(const std::string& reportPath,
                                         const std::vector<tPairColumn>& columns) {
  std::vector<std::string> paths;
  paths.reserve(columns.size());
  for (const tPairColumn& c : columns) paths.push_back(PairMatrixPath(reportPath, c.Name));
  return paths;
}

std::vector<std::string> WritePairMatrices(const std::string& reportPath,
                                           const tPairMatrixOptions& options, tReporter& log) {
  std::vector<tPairColumn> columns;
  std::size_t fieldCount = 0;
  {
    tReportLines lines(reportPath);
    std::string header;
    if (!lines.Next(header)) lines.Refuse("is missing: the report is empty");
    std::vector<std::string> duplicates;
    columns = PairMatrixColumns(header, options, &duplicates);
    for (const std::string& name : duplicates)
      log.Warning("Pair matrix " + name +
                  " written once only: the report has two columns of that name");
    fieldCount = SplitTabs(header).size();
  }
  const std::vector<std::string> paths = PairMatrixPaths(reportPath, columns);
  const int32_t points = std::max(options.Points, 0);
  const auto n = static_cast<std::size_t>(points);
  const std::size_t cells = n * n;
  const std::size_t perPass =
      std::max<std::size_t>(1, kCellsPerPass / std::max<std::size_t>(cells, 1));

  for (std::size_t first = 0; first < columns.size(); first += perPass) {
    const std::size_t last = std::min(columns.size(), first + perPass);
    std::vector<std::vector<double>> matrices(last - first, std::vector<double>(cells, kNA));
    tReportLines lines(reportPath);
    std::string line;
    lines.Next(line); // the header, checked above
    while (lines.Next(line)) {
      const std::vector<std::string_view> fields = SplitTabs(line);
      if (fields.size() != fieldCount)
        lines.Refuse("has " + std::to_string(fields.size()) + " fields, the header " +
                     std::to_string(fieldCount));
      const auto i = static_cast<std::size_t>(ParseId(fields[kPopID1], points, lines));
      const auto j = static_cast<std::size_t>(ParseId(fields[kPopID2], points, lines));
      if (i == j) lines.Refuse("pairs a point with itself");
      for (std::size_t c = first; c < last; ++c) {
        const double v = PairValue(columns[c], fields, lines);
        std::vector<double>& m = matrices[c - first];
        m[i * n + j] = v;
        if (!options.Ordered) m[j * n + i] = v;
      }
    }
    for (std::size_t c = first; c < last; ++c) WriteMatrix(paths[c], matrices[c - first], points);
  }
  log.Log("Pair matrices: " + std::to_string(paths.size()) + " files written");
  return paths;
}

} // namespace stravex
