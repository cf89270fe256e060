#pragma once
// Typed errors of the system. Each carries a fixed English message that the
// front ends show as they stand (message box in the window, stderr in the CLI).
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

} // namespace stravex
