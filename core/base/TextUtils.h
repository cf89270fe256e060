#pragma once
// Small text helpers shared by the readers and both front ends. Letter case
// is ASCII only, whatever the C locale says, so that a file reads the same
// on every machine.
#include <string>

namespace stravex {

std::string LowerAscii(std::string s);
bool SameTextIgnoringCase(const std::string& a, const std::string& b);
// Without leading and trailing characters at or below the blank (blanks,
// tabs, line ends, control characters).
std::string TrimBlanks(const std::string& s);

} // namespace stravex
