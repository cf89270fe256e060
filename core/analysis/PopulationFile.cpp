#include "analysis/PopulationFile.h"
#include "base/TextUtils.h"

#include "base/Errors.h"
#include "base/Numeric.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace stravex {

namespace {

bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= ' '; }

[[noreturn]] void Corrupt(const tTextScanner& scanner, const std::string& what) {
  throw EInOutError(std::string(kCorruptPopulationFile) + ": " + scanner.Where() + ": " + what);
}

std::string Found(const std::string& line, bool atEnd) {
  if (atEnd) return "the end of the file";
  return line.empty() ? "an empty line" : "\"" + line + "\"";
}

void ExpectHeader(tTextScanner& scanner, const char* header) {
  const bool atEnd = scanner.AtEnd();
  const std::string line = scanner.ReadLine();
  if (!HeaderMatches(line, header))
    Corrupt(scanner, std::string("expected \"") + header + "\", found " + Found(line, atEnd));
}

FILE* OpenForReading(const std::string& fileName) {
  FILE* f = std::fopen(fileName.c_str(), "rb");
  if (!f) f = std::fopen(fileName.c_str(), "rb"); // a second try before giving up
  if (!f) throw EInOutError("Cannot open file \"" + fileName + "\": " + std::strerror(errno));
  return f;
}

// The value at single precision; a value that a float cannot hold is refused
// like any other number that does not convert.
double NarrowToSingle(const tTextScanner& scanner, double v) {
  if (!(std::fabs(v) <= static_cast<double>(FLT_MAX)))
    throw EInOutError(std::string(kInvalidNumericInput) + ": " + scanner.Where() + ": '" +
                      std::string(scanner.LastToken()) + "' is beyond single precision");
  return static_cast<double>(static_cast<float>(v));
}

double NextValue(tTextScanner& scanner, const char* section) {
  const std::optional<double> v = scanner.ReadReal();
  if (!v) Corrupt(scanner, std::string("the file ends inside the ") + section);
  return *v;
}

// Bytes that k numbers need at least: one character each and a separator
// between two of them. Checked before a table is sized so that a size that
// the file cannot hold fails as a corrupt file instead of exhausting memory.
void RequireNumbers(const tTextScanner& scanner, int64_t k, int32_t n, const char* section) {
  if (k > 0 && 2 * k - 1 > static_cast<int64_t>(scanner.Remaining()))
    Corrupt(scanner, "the " + std::string(section) + " of " + std::to_string(n) + " samples need " +
                         std::to_string(k) + " numbers, more than the rest of the file holds");
}

// Lower triangle with diagonal, row i holding i + 1 values; each value is
// mirrored. Row i's echo lists the values as read.
void ReadTriangle(tTextScanner& scanner, int32_t n, bool single, tMatrixOfDouble& m, bool echo,
                  tReporter& reporter) {
  const char* section = single ? "significance rows" : "genetic distance rows";
  RequireNumbers(scanner, static_cast<int64_t>(n) * (static_cast<int64_t>(n) + 1) / 2, n, section);
  m.assign(static_cast<size_t>(n), tVectorOfDouble(static_cast<size_t>(n), 0.0));
  for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
    std::string line;
    for (size_t j = 0; j <= i; ++j) {
      double v = NextValue(scanner, section);
      if (single) v = NarrowToSingle(scanner, v);
      m[i][j] = v;
      m[j][i] = v;
      if (echo) line += FormatGeneral(v, 4) + "\t";
    }
    scanner.SkipLine();
    if (echo) reporter.Log(line);
  }
}

} // namespace

std::string tTextScanner::LoadFile(const std::string& fileName) {
  FILE* f = OpenForReading(fileName);
  std::string text;
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
  const bool failed = std::ferror(f) != 0;
  const int err = errno;
  std::fclose(f);
  if (failed) throw EInOutError("Cannot read file \"" + fileName + "\": " + std::strerror(err));
  return text;
}

bool tTextScanner::OnlyBlanksLeft() const {
  for (size_t p = fPos; p < fText.size(); ++p)
    if (!IsSeparator(fText[p])) return false;
  return true;
}

std::string tTextScanner::ReadLine() {
  fMark = fPos;
  fTokenLength = 0;
  if (AtEnd()) return {};
  size_t end = fText.find('\n', fPos);
  const size_t next = end == std::string::npos ? fText.size() : end + 1;
  if (end == std::string::npos) end = fText.size();
  if (end > fPos && fText[end - 1] == '\r') --end;
  std::string line = fText.substr(fPos, end - fPos);
  fPos = next;
  return line;
}

void tTextScanner::SkipLine() {
  if (AtEnd()) return;
  const size_t end = fText.find('\n', fPos);
  fPos = end == std::string::npos ? fText.size() : end + 1;
}

std::optional<std::string_view> tTextScanner::NextToken() {
  while (fPos < fText.size() && IsSeparator(fText[fPos])) ++fPos;
  fMark = fPos;
  fTokenLength = 0;
  if (AtEnd()) return std::nullopt;
  while (fPos < fText.size() && !IsSeparator(fText[fPos])) ++fPos;
  fTokenLength = fPos - fMark;
  return LastToken();
}

std::string_view tTextScanner::LastToken() const {
  return std::string_view(fText).substr(fMark, fTokenLength);
}

std::string tTextScanner::Where() const {
  // Counted only for a message: the line of the mark's character, or of the
  // text's last character once the mark is past it.
  const size_t at = fText.empty() ? 0 : std::min(fMark, fText.size() - 1);
  const auto line =
      std::count(fText.begin(), fText.begin() + static_cast<std::ptrdiff_t>(at), '\n') + 1;
  return (fFileName.empty() ? std::string("text") : fFileName) + " line " + std::to_string(line);
}

void tTextScanner::NotANumber() const {
  throw EInOutError(std::string(kInvalidNumericInput) + ": " + Where() + ": '" +
                    std::string(LastToken()) + "' is not a number");
}

std::optional<double> tTextScanner::ReadReal() {
  const auto token = NextToken();
  if (!token) return std::nullopt;
  const std::optional<double> v = ParseDecimalText(std::string(*token));
  if (!v) NotANumber();
  return v;
}

std::optional<int64_t> tTextScanner::ReadInteger() {
  const auto token = NextToken();
  if (!token) return std::nullopt;
  std::string_view s = *token;
  if (s.size() > 1 && s.front() == '+' && s[1] != '-') s.remove_prefix(1);
  int64_t v = 0;
  const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) NotANumber();
  return v;
}

bool HeaderMatches(const std::string& line, const char* header) {
  return LowerAscii(TrimBlanks(line)) == header;
}

std::string OutsidePointsMessage(const std::vector<std::string>& points) {
  std::string text = std::string(kOutsidePointsError) + " Outside:";
  const size_t listed = std::min(points.size(), kOutsidePointsListed);
  for (size_t i = 0; i < listed; ++i) text += (i == 0 ? " " : ", ") + points[i];
  if (points.size() > listed) text += ", and " + std::to_string(points.size() - listed) + " more";
  return text;
}

std::string FormatPoint(double x, double y) {
  return FormatGeneral(x, 15) + "\t" + FormatGeneral(y, 15);
}

void ReadPopulationFile(TAnalysisSettings& settings, tPopulationData& data, tReporter& reporter,
                        const tPointFilter& accept, const tAllRefusedNote& allRefused) {
  tTextScanner scanner(tTextScanner::LoadFile(settings.DataFile), settings.DataFile);
  data = tPopulationData{};

  ExpectHeader(scanner, "[sample size]");
  const std::optional<int64_t> size = scanner.ReadInteger();
  if (!size) Corrupt(scanner, "expected the sample size, found the end of the file");
  if (*size < 0 || *size > INT32_MAX)
    Corrupt(scanner, "the sample size " + std::string(scanner.LastToken()) +
                         " is not between 0 and " + std::to_string(INT32_MAX));
  const auto n = static_cast<int32_t>(*size);
  scanner.SkipLine();
  data.SampleSize = n;

  ExpectHeader(scanner, "[coordinates]");
  RequireNumbers(scanner, 2 * static_cast<int64_t>(n), n, "coordinates");
  data.SamplePoints.reserve(static_cast<size_t>(n));
  if (settings.EchoSamplePoints) {
    reporter.Log("");
    reporter.Log("Sample points coordinates");
    reporter.Log("*************************");
    reporter.Log("X\tY");
  }
  std::vector<std::string> refused;
  t2DPoints refusedPoints;
  for (int32_t k = 0; k < n; ++k) {
    const double x = NarrowToSingle(scanner, NextValue(scanner, "coordinates"));
    const double y = NarrowToSingle(scanner, NextValue(scanner, "coordinates"));
    scanner.SkipLine();
    if (accept && !accept(x, y)) {
      reporter.Log(FormatPoint(x, y) + kOutsidePointSuffix);
      refused.push_back("point " + std::to_string(k) + " at (" + FormatGeneral(x, 15) + ", " +
                        FormatGeneral(y, 15) + ")");
      refusedPoints.push_back({x, y});
      continue;
    }
    data.SamplePoints.push_back({x, y});
    if (settings.EchoSamplePoints) reporter.Log(FormatPoint(x, y));
  }
  if (!refused.empty()) {
    std::string message = OutsidePointsMessage(refused);
    if (data.SamplePoints.empty() && allRefused) message += allRefused(refusedPoints);
    throw EInOutError(message);
  }

  ExpectHeader(scanner, "[genetic distance]");
  if (settings.EchoMatrices) {
    reporter.Log("");
    reporter.Log("Genetic distance matrix");
    reporter.Log("***********************");
  }
  ReadTriangle(scanner, n, false, data.GeneticDistance, settings.EchoMatrices, reporter);

  // Blanks and blank lines after the last row end the file like its real end.
  if (!scanner.OnlyBlanksLeft()) {
    if (HeaderMatches(scanner.ReadLine(), "[significance]")) {
      if (settings.EchoMatrices) {
        reporter.Log("Genetic dist. significance matrix");
        reporter.Log("***********************************");
      }
      ReadTriangle(scanner, n, true, data.Significance, settings.EchoMatrices, reporter);
      data.HasSignificance = true;
    } else {
      reporter.Warning(kSignificanceWarning);
    }
  }
  if (!data.HasSignificance) {
    data.Significance.assign(static_cast<size_t>(n), tVectorOfDouble(static_cast<size_t>(n), 0.0));
    settings.SignificantOnly = false;
  }
}

} // namespace stravex
