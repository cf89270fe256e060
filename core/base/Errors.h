#pragma once
// Typed errors of the system. Each carries a fixed English message that the
// front ends show as they stand (message box in the window, stderr in the CLI).
#include <cstdio>
#include <stdexcept>
#include <string>

namespace stravex {

class EStravexError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// File could not be opened, read or written; also corrupt input files.
class EInOutError : public EStravexError {
public:
  using EStravexError::EStravexError;
};

// Value or index outside its allowed range.
class ERangeError : public EStravexError {
public:
  using EStravexError::EStravexError;
};

// Checked integer arithmetic that would wrap.
class EIntOverflow : public EStravexError {
public:
  using EStravexError::EStravexError;
};

// Text that does not convert to the number it should hold.
class EConvertError : public EStravexError {
public:
  using EStravexError::EStravexError;
};

// A precondition of an algorithm does not hold.
class EAssertionFailed : public EStravexError {
public:
  using EStravexError::EStravexError;
};

// Operation not allowed in the object's current state.
class EInvalidOperation : public EStravexError {
public:
  using EStravexError::EStravexError;
};

// Not enough memory for a map or buffer.
class EOutOfMemory : public EStravexError {
public:
  using EStravexError::EStravexError;
};

// A result too large to be held (for example a least-cost path).
class EOutOfResources : public EOutOfMemory {
public:
  using EOutOfMemory::EOutOfMemory;
};

// A checked index or value out of its range, with the value and the limits:
// "Range check error: <what> <value> outside <low>..<high>".
[[noreturn]] inline void RaiseRangeCheck(const std::string& what, long long value, long long low,
                                         long long high) {
  throw ERangeError("Range check error: " + what + " " + std::to_string(value) + " outside " +
                    std::to_string(low) + ".." + std::to_string(high));
}
[[noreturn]] inline void RaiseRangeCheckReal(const std::string& what, long double value,
                                             long double low, long double high) {
  auto text = [](long double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17Lg", v);
    return std::string(buf);
  };
  throw ERangeError("Range check error: " + what + " " + text(value) + " outside " + text(low) +
                    ".." + text(high));
}

} // namespace stravex
