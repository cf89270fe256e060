#pragma once
// Location sequences in, tab-separated CR LF reports out: helpers for the
// sequence analysis and bootstrap tests.
#include "analysis/LocationSequence.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace stravex::test {

inline tLocation Loc(uint32_t id, double x, double y, double time) { return {id, x, y, time}; }

inline tLocationSequence Loaded(tLocations locs) { return {std::move(locs), true, {}}; }

// The lines of a report; a line not ended by CR LF is a test failure.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 2) {
    end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "line not ended by CR LF: " << text.substr(start);
      break;
    }
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// The tab-separated fields of a line; an empty last field is dropped.
inline std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> f;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, '\t');) f.push_back(field);
  return f;
}

} // namespace stravex::test
