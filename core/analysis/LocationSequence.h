#pragma once
// Location sequence file: a free header line, then records of nine numbers
// X, Y, ID, day, month, year, hour, minute, second; and the derived values
// that the sequence analysis and the bootstrap share.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stravex {

struct tLocation {
  uint32_t ID = 0;
  double X = 0;
  double Y = 0;
  // Days since 30 December 1899, the time of day as the fraction.
  double Time = 0;
};
using tLocations = std::vector<tLocation>;

struct tLocationSequence {
  tLocations Locations;
  // True only when the most recent read ran to its end without error.
  bool LocationsLoaded = false;
  // The error that ended the most recent read; "" when it did not fail.
  std::string ReadError;
};

inline constexpr const char* kSequenceHeaderLayout = "[Sequence]";

// Reads the file into seq, replacing what it held. Errors (seq is then
// empty and not loaded, its ReadError the message), each message going on
// with the file name and line:
// - EInOutError "Invalid numeric input" for a token that does not convert;
// - EInOutError "Location <k> is cut short by the end of the file" when the
//   file ends inside record k (0-based location number);
// - ERangeError "Range check error" for a date or time field outside 0..65535;
// - EConvertError "Invalid argument to date encode" / "Invalid argument to
//   time encode" for an impossible date or time;
// - EInOutError for a first line that is exactly "[Sequence]", a layout that
//   is not supported, and for a file that cannot be opened.
// Blanks and blank lines after the last record end the file.
void ReadLocationSequence(const std::string& fileName, tLocationSequence& seq);

// Days since 30 December 1899 plus the time of day; the errors listed above.
double EncodeDateTime(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                      int64_t second);

// The unit of IgnoreTime; the settings keep its index (kIgnoreUnitNames).
enum class tIgnoreUnit : int32_t { Seconds = 0, Minutes, Hours, Days, Months, Years };

// Minimum segment duration in days for IgnoreTime v and its unit (a month
// counting 30 days and a year 365); 0 for a value outside the list.
double IgnoreThreshold(int32_t ignoreTime, tIgnoreUnit ignoreUnit);

} // namespace stravex
