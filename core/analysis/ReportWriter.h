#pragma once
// Report files: tab-separated 8-bit text, CR LF line ends, one header line and
// one row per pair, segment or walk step. A row is built in memory and reaches
// the file whole, so an interrupted run leaves complete lines only.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace stravex {

// The 23-character real of the reports: a blank or "-", one digit, ".", 14
// digits, "E", the exponent's sign and four digits (1.5 gives
// " 1.50000000000000E+0000"). Zero, also negative zero, has a blank sign.
// NaN and infinities, which no statistic should produce, are written
// right-aligned in the same width as "Nan", "+Inf" and "-Inf".
std::string FormatReal23(long double v);
std::string FormatReal23(double v);

// Integers of the reports: plain decimal, no padding.
std::string FormatInteger(int64_t v);

// One report line under construction.
class tReportRow {
public:
  tReportRow& AddTab() {
    fText += '\t';
    return *this;
  }
  tReportRow& AddInt(int64_t v) {
    fText += FormatInteger(v);
    return *this;
  }
  // EInvalidOperation for NaN and infinities: a report never holds them, so
  // a statistic that produced one stops the run instead of reaching R.
  tReportRow& AddReal(long double v) {
    if (!std::isfinite(v)) RefuseNonFinite(v);
    fText += FormatReal23(v);
    return *this;
  }
  tReportRow& AddReal(double v) { return AddReal(static_cast<long double>(v)); }
  tReportRow& AddText(std::string_view s) {
    fText += s;
    return *this;
  }
  const std::string& Text() const { return fText; }
  bool Empty() const { return fText.empty(); }
  void Clear() { fText.clear(); }

private:
  [[noreturn]] void RefuseNonFinite(long double v) const;
  std::string fText;
};

// A report created anew (an existing file is overwritten). Every line goes to
// the file in one write followed by a flush. When a write fails, the file is
// cut back to its last complete line, closed, and EInOutError is raised.
class tReportFile {
public:
  // EInOutError naming the file when it cannot be created.
  explicit tReportFile(std::string fileName);
  // An existing report continued: cut back to its first keepBytes bytes
  // (whole lines), then appended to. EInOutError naming the file when it
  // cannot be opened or cut.
  tReportFile(std::string fileName, uint64_t keepBytes);
  ~tReportFile();
  tReportFile(const tReportFile&) = delete;
  tReportFile& operator=(const tReportFile&) = delete;

  // Appends the text and CR LF. EInvalidOperation once the file is closed.
  void WriteLine(std::string_view text);
  void WriteRow(const tReportRow& row) { WriteLine(row.Text()); }
  void Close();

  bool IsOpen() const { return fFile != nullptr; }
  const std::string& FileName() const { return fFileName; }
  // Bytes of complete lines written so far.
  uint64_t BytesWritten() const { return fBytesWritten; }

private:
  std::string fFileName;
  FILE* fFile = nullptr;
  uint64_t fBytesWritten = 0;
  std::string fBuffer;
};

// Report file name of a run: project name, "-", the report's fixed name.
std::string ReportFileName(const std::string& projectName, const std::string& fixedName);

// Log lines of a labelled name list: the first name shares the label's line,
// each further name has a line of its own and an empty line follows the last;
// an empty list gives the label line alone.
std::vector<std::string> LabelledNameLines(const std::string& label,
                                           const std::vector<std::string>& names);

} // namespace stravex
