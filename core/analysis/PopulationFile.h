#pragma once
// Population data file: "[sample size]", "[coordinates]", "[genetic distance]"
// and an optional "[significance]" section. Also the text scanner shared with
// the location sequence reader: formatted reads of numbers separated by blanks
// and line ends.
#include "AnalysisSettings.h"
#include "CommonDecl.h"
#include "Reporter.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace stravex {

inline constexpr const char* kCorruptPopulationFile = "Genetic distance file is corrupt";
inline constexpr const char* kInvalidNumericInput = "Invalid numeric input";
inline constexpr const char* kSignificanceWarning =
    "Significance matrix could not be read. File is perhaps corrupt.";
inline constexpr const char* kOutsidePointsError =
    "Some points where outside of the map. Process is interrupted.";
inline constexpr const char* kOutsidePointSuffix = " *** Outside of the map ***";

// The whole of a text file in memory, read sequentially. Every character up
// to the blank (tabs, CR, LF and the other control characters included)
// separates numbers.
class tTextScanner {
public:
  explicit tTextScanner(std::string text) : fText(std::move(text)) {}

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

  // A token converted as a whole; EInOutError "Invalid numeric input" when it
  // does not, nullopt when the text ends before a token.
  std::optional<double> ReadReal();
  std::optional<int64_t> ReadInteger();

private:
  std::string fText;
  size_t fPos = 0;
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

// Reads settings.DataFile into data, replacing what it held, and echoes to the
// log as EchoSamplePoints and EchoMatrices ask. Without a significance section
// the significance is all zeros and settings.SignificantOnly is cleared.
// Raises EInOutError: kCorruptPopulationFile for a wrong or missing header, a
// negative size or a file that ends inside the numbers; kInvalidNumericInput
// for a number that does not convert; kOutsidePointsError when the filter
// refused points. On error data keeps what was read so far.
void ReadPopulationFile(TAnalysisSettings& settings, tPopulationData& data, tReporter& reporter,
                        const tPointFilter& accept = {});

} // namespace stravex
