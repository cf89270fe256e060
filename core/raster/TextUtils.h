#pragma once
// Small text helpers shared by the readers and both front ends. Letter case
// is ASCII only, whatever the C locale says, so that a file reads the same
// on every machine.
#include "Raster.h"

#include <string>

namespace stravex {

std::string LowerAscii(std::string s);
bool SameTextIgnoringCase(const std::string& a, const std::string& b);
// Without leading and trailing characters at or below the blank (blanks,
// tabs, line ends, control characters).
std::string TrimBlanks(const std::string& s);

// The documentation file's words for a map's types: "byte", "integer",
// "real", "dummy" or "unknown"; "ascii", "binary", "packed binary" or
// "unknown"; "background", "no background" or "none".
const char* DataTypeWord(tDataType t);
const char* FileTypeWord(tFileType t);
const char* FlagDefWord(tFlagDef f);

} // namespace stravex
