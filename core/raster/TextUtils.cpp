#include "TextUtils.h"

namespace stravex {

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && LowerAscii(a) == LowerAscii(b);
}

std::string TrimBlanks(const std::string& s) {
  auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::size_t first = 0, last = s.size();
  while (first < last && isBlank(s[first])) ++first;
  while (last > first && isBlank(s[last - 1])) --last;
  return s.substr(first, last - first);
}

const char* DataTypeWord(tDataType t) {
  static const char* const words[] = {"unknown", "byte", "integer", "dummy", "real"};
  return t <= dtReal ? words[t] : words[dtUnknown];
}

const char* FileTypeWord(tFileType t) {
  static const char* const words[] = {"unknown", "ascii", "binary", "packed binary"};
  return t <= ftPackedBinary ? words[t] : words[ftUnknown];
}

const char* FlagDefWord(tFlagDef f) {
  switch (f) {
  case fdNoBackground: return "no background";
  case fdBackground: return "background";
  default: return "none";
  }
}

} // namespace stravex
