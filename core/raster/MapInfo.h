#pragma once
// What both front ends show about a map: its documentation fields, its grid
// and the statistics of its valid cells, as (key, value) lines.
#include <string>
#include <utility>
#include <vector>

namespace stravex {

using tMapInfoLine = std::pair<std::string, std::string>;

// A map named by its image or documentation file of either generation
// (".rst"/".rdc", ".img"/".doc"), or without extension: then the program's
// generation wins when its documentation file exists, the other one
// otherwise. Everything about the map, or an error; the map must be binary,
// of a supported data type and with exactly one record per cell in its image.
// Any other existing file is read through GDAL (tGdalRaster).
std::vector<tMapInfoLine> DescribeMap(const std::string& name);

// "key: value" per line ("key:" alone for an empty value), LF ended.
std::string FormatMapInfo(const std::vector<tMapInfoLine>& lines);

} // namespace stravex
