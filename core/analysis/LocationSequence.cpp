#include "analysis/LocationSequence.h"

#include "analysis/PopulationFile.h"
#include "base/Errors.h"

#include <optional>

namespace stravex {

namespace {

bool IsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int64_t DaysInMonth(int64_t y, int64_t m) {
  static constexpr int64_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Days from 1 January 1970 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

} // namespace

double EncodeDateTime(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                      int64_t second) {
  for (int64_t field : {year, month, day, hour, minute, second})
    if (field < 0 || field > 65535) throw ERangeError("Range check error");
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    throw EConvertError("Invalid argument to date encode");
  if (hour >= 24 || minute >= 60 || second >= 60)
    throw EConvertError("Invalid argument to time encode");
  const int64_t date = DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30);
  const int64_t seconds = hour * 3600 + minute * 60 + second;
  return static_cast<double>(date) + static_cast<double>(seconds) / 86400.0;
}

namespace {

// The date and time errors keep their type and name the record.
template <class E>
[[noreturn]] void RaiseForRecord(const E& e, const tTextScanner& scanner, std::size_t k,
                                 const int64_t (&f)[7]) {
  throw E(std::string(e.what()) + ": " + scanner.Where() + " (location " + std::to_string(k) +
          "): day " + std::to_string(f[1]) + ", month " + std::to_string(f[2]) + ", year " +
          std::to_string(f[3]) + ", hour " + std::to_string(f[4]) + ", minute " +
          std::to_string(f[5]) + ", second " + std::to_string(f[6]));
}

void ReadRecords(const std::string& fileName, tLocationSequence& seq) {
  tTextScanner scanner(tTextScanner::LoadFile(fileName), fileName);
  if (scanner.ReadLine() == kSequenceHeaderLayout)
    throw EInOutError(std::string("Sequence file badly formatted: a first line \"[Sequence]\" ") +
                      "is not supported (" + fileName + " line 1)");

  tLocations locations;
  locations.reserve(1000);
  // Blanks after the last record are the end of the file, not one more record.
  while (!scanner.OnlyBlanksLeft()) {
    const size_t k = locations.size();
    int read = 0;
    auto cutShort = [&]() {
      return EInOutError("Location " + std::to_string(k) +
                         " is cut short by the end of the file: " + scanner.Where() +
                         " ends after " + std::to_string(read) + " of its 9 numbers");
    };
    const std::optional<double> x = scanner.ReadReal();
    read += x.has_value();
    const std::optional<double> y = scanner.ReadReal();
    read += y.has_value();
    if (!x || !y) throw cutShort();
    int64_t fields[7] = {};
    for (int64_t& f : fields) {
      const std::optional<int64_t> v = scanner.ReadInteger();
      if (!v) throw cutShort();
      f = *v;
      ++read;
    }
    scanner.SkipLine();
    tLocation loc;
    loc.X = *x;
    loc.Y = *y;
    loc.ID = static_cast<uint32_t>(static_cast<uint64_t>(fields[0])); // low 32 bits
    try {
      loc.Time = EncodeDateTime(fields[3], fields[2], fields[1], fields[4], fields[5], fields[6]);
    } catch (const EConvertError& e) {
      RaiseForRecord(e, scanner, k, fields);
    } catch (const ERangeError& e) {
      RaiseForRecord(e, scanner, k, fields);
    }
    locations.push_back(loc);
  }
  locations.shrink_to_fit();
  seq.Locations = std::move(locations);
  seq.LocationsLoaded = true;
}

} // namespace

void ReadLocationSequence(const std::string& fileName, tLocationSequence& seq) {
  seq.LocationsLoaded = false;
  seq.Locations.clear();
  seq.ReadError.clear();
  try {
    ReadRecords(fileName, seq);
  } catch (const std::exception& e) {
    // Kept for the run that is started without a sequence.
    seq.ReadError = e.what();
    throw;
  }
}

double IgnoreThreshold(int32_t ignoreTime, tIgnoreUnit ignoreUnit) {
  const double v = ignoreTime;
  switch (ignoreUnit) {
  case tIgnoreUnit::Seconds: return v / (24.0 * 60.0 * 60.0);
  case tIgnoreUnit::Minutes: return v / 1440.0;
  case tIgnoreUnit::Hours: return v / 24.0;
  case tIgnoreUnit::Days: return v;
  case tIgnoreUnit::Months: return 30.0 * v;
  case tIgnoreUnit::Years: return 365.0 * v;
  }
  return 0.0;
}

} // namespace stravex
