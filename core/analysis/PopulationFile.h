#pragma once
// Population data file: "[sample size]", "[coordinates]", "[genetic distance]"
// and an optional "[significance]" section. Also the text scanner shared with
// the location sequence reader: formatted reads of numbers separated by blanks
// and line ends.
#include "analysis/AnalysisSettings.h"
#include "base/CommonDecl.h"
#include "base/Reporter.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stravex {

inline constexpr const char* kCorruptPopulationFile = "Genetic distance file is corrupt";
inline constexpr const char* kInvalidNumericInput = "Invalid numeric input";
inline constexpr const char* kSignificanceWarning =
    "Significance matrix could not be read. File is perhaps corrupt.";
inline constexpr const char* kOutsidePointsError =
    "Some points were outside of the map. Process is interrupted.";
inline constexpr const char* kOutsidePointSuffix = " *** Outside of the map ***";
// Points named one by one in the outside-points error; the rest are counted.
inline constexpr std::size_t kOutsidePointsListed = 20;

// kOutsidePointsError followed by the points ("point 3 at (x, y)", ...): the
// first kOutsidePointsListed of them, then "and N more".
std::string OutsidePointsMessage(const std::vector<std::string>& points);

// The whole of a text file in memory, read sequentially. Every character up
// to the blank (tabs, CR, LF and the other control characters included)
// separates numbers.
class tTextScanner {
public:
  // fileName only names the file in error messages.
  explicit tTextScanner(std::string text, std::string fileName = {})
      : fText(std::move(text)), fFileName(std::move(fileName)) {}

  // The file's bytes. A failed open is tried once more; the second failure
  // raises EInOutError naming the file.
  static std::string LoadFile(const std::string& fileName);

  bool AtEnd() const { return fPos >= fText.size(); }
  // True when nothing but separators is left.
  bool OnlyBlanksLeft() const;
  size_t Remaining() const { return AtEnd() ? 0 : fText.size() - fPos; }

  // The rest of the current line without its CR LF or LF; "" at the end.
  std::string ReadLine();
  // Moves past the next line end (or to the end of the text).
  void SkipLine();
  // Skips separators and returns the following run of characters above the
  // blank; nullopt when the text ends first.
  std::optional<std::string_view> NextToken();

  // A token converted as a whole; EInOutError "Invalid numeric input: <file>
  // line <n>: '<token>' is not a number" when it does not, nullopt when the
  // text ends before a token.
  std::optional<double> ReadReal();
  std::optional<int64_t> ReadInteger();

  // "<file> line <n>" of the last token or line read (of the last line of
  // the text once it is all read, of line 1 before anything is read).
  std::string Where() const;
  // The last token read; "" before the first.
  std::string_view LastToken() const;

private:
  [[noreturn]] void NotANumber() const;

  std::string fText;
  std::string fFileName;
  size_t fPos = 0;
  size_t fMark = 0; // where the last token or line started
  size_t fTokenLength = 0;
};

// A header line matches when, stripped of surrounding blanks and in lower
// case, it equals the header text.
bool HeaderMatches(const std::string& line, const char* header);

// Number echo of the log: general format with at most 15 (points) or 4
// (matrix values) significant digits.
std::string FormatPoint(double x, double y);

struct tPopulationData {
  int32_t SampleSize = 0;
  t2DPoints SamplePoints;          // coordinates narrowed to single precision
  tMatrixOfDouble GeneticDistance; // n x n, symmetric
  tMatrixOfDouble Significance;    // n x n, symmetric, single-precision values; zeros when absent
  bool HasSignificance = false;
};

// Tells whether a sample point may be stored (for instance: lies on the
// friction map). An empty function accepts every point.
using tPointFilter = std::function<bool(double x, double y)>;
// What the outside-points error adds when the filter refused every point,
// given the points; empty: nothing.
using tAllRefusedNote = std::function<std::string(const t2DPoints& points)>;

// Reads settings.DataFile into data, replacing what it held, and echoes to the
// log as EchoSamplePoints and EchoMatrices ask. Without a significance section
// the significance is all zeros and settings.SignificantOnly is cleared.
// Raises EInOutError: kCorruptPopulationFile for a wrong or missing header, a
// negative size or a file that ends inside the numbers; kInvalidNumericInput
// for a number that does not convert; kOutsidePointsError when the filter
// refused points. Each message goes on with the file, the line and what was
// found there (the outside-points error: with the refused points, then
// allRefused's note when no point was accepted). On error data keeps what was
// read so far.
void ReadPopulationFile(TAnalysisSettings& settings, tPopulationData& data, tReporter& reporter,
                        const tPointFilter& accept = {}, const tAllRefusedNote& allRefused = {});

} // namespace stravex
