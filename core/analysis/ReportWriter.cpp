#include "analysis/ReportWriter.h"

#include "base/Errors.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace stravex {

namespace {

constexpr size_t kRealWidth = 23;

std::string RightAligned(const std::string& s) {
  return std::string(kRealWidth - s.size(), ' ') + s;
}

} // namespace

std::string FormatReal23(long double v) {
  if (std::isnan(v)) return RightAligned("Nan");
  if (std::isinf(v)) return RightAligned(v > 0 ? "+Inf" : "-Inf");
  // to_chars does not follow the process locale, so the point stays a point.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific,
                                 14);
  const std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
  const size_t e = text.find('e');
  // Rounding already carried into the exponent: 9.999999999999999 gives 1.0e+01.
  int exponent = 0;
  std::from_chars(text.data() + e + 1 + (text[e + 1] == '+' ? 1 : 0), text.data() + text.size(),
                  exponent);
  // Four digits hold every exponent of a long double (at most 4951).
  std::string exp = std::to_string(exponent < 0 ? -exponent : exponent);
  if (exp.size() < 4) exp.insert(0, 4 - exp.size(), '0');
  std::string out;
  out.reserve(kRealWidth);
  out += v < 0 ? '-' : ' ';
  out.append(text.substr(0, e));
  out += 'E';
  out += exponent < 0 ? '-' : '+';
  out += exp;
  return out;
}

std::string FormatReal23(double v) { return FormatReal23(static_cast<long double>(v)); }

std::string FormatInteger(int64_t v) { return std::to_string(v); }

void tReportRow::RefuseNonFinite(long double v) const {
  const auto column = std::count(fText.begin(), fText.end(), '\t') + 1;
  std::string text = FormatReal23(v);
  text.erase(0, text.find_first_not_of(' '));
  throw EInvalidOperation("A report value is not a number: " + text + " in column " +
                          std::to_string(column) + " of the row \"" + fText +
                          "\"; no report holds it");
}

tReportFile::tReportFile(std::string fileName) : fFileName(std::move(fileName)) {
  fFile = std::fopen(fFileName.c_str(), "wb");
  if (!fFile)
    throw EInOutError("Cannot create file \"" + fFileName + "\": " + std::strerror(errno));
  // Unbuffered: each line goes to the system in a single write.
  std::setvbuf(fFile, nullptr, _IONBF, 0);
}

tReportFile::tReportFile(std::string fileName, uint64_t keepBytes)
    : fFileName(std::move(fileName)), fBytesWritten(keepBytes) {
  std::error_code ec;
  std::filesystem::resize_file(fFileName, keepBytes, ec);
  if (ec) throw EInOutError("Cannot continue file \"" + fFileName + "\": " + ec.message());
  fFile = std::fopen(fFileName.c_str(), "ab");
  if (!fFile)
    throw EInOutError("Cannot continue file \"" + fFileName + "\": " + std::strerror(errno));
  std::setvbuf(fFile, nullptr, _IONBF, 0);
}

tReportFile::~tReportFile() {
  if (fFile) std::fclose(fFile);
}

void tReportFile::WriteLine(std::string_view text) {
  if (!fFile) throw EInvalidOperation("Report file \"" + fFileName + "\" is not open");
  fBuffer.assign(text);
  fBuffer += "\r\n";
  errno = 0;
  const bool ok = std::fwrite(fBuffer.data(), 1, fBuffer.size(), fFile) == fBuffer.size() &&
                  std::fflush(fFile) == 0;
  if (ok) {
    fBytesWritten += fBuffer.size();
    return;
  }
  const int err = errno;
  std::fclose(fFile);
  fFile = nullptr;
  // Whatever part of the line got through is cut off again.
  std::error_code ec;
  if (std::filesystem::is_regular_file(fFileName, ec))
    std::filesystem::resize_file(fFileName, fBytesWritten, ec);
  throw EInOutError("Cannot write to file \"" + fFileName +
                    "\": " + (err ? std::strerror(err) : "write failed"));
}

void tReportFile::Close() {
  if (!fFile) return;
  FILE* f = fFile;
  fFile = nullptr;
  if (std::fclose(f) != 0)
    throw EInOutError("Cannot close file \"" + fFileName + "\": " + std::strerror(errno));
}

std::string ReportFileName(const std::string& projectName, const std::string& fixedName) {
  return projectName + "-" + fixedName;
}

std::vector<std::string> LabelledNameLines(const std::string& label,
                                           const std::vector<std::string>& names) {
  if (names.empty()) return {label};
  std::vector<std::string> lines{label + names.front()};
  lines.insert(lines.end(), names.begin() + 1, names.end());
  lines.emplace_back();
  return lines;
}

} // namespace stravex
