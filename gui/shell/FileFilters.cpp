#include "FileFilters.h"

#include "raster/IdrisiEnv.h"

#include <vector>

namespace stravex::gui {

std::string MapFileFilter() {
  const std::string& ext = ImageExt();
  // One entry per kind of map, told apart by the suffix before the extension.
  auto single = [&ext](const std::string& label, const std::string& suffix) {
    return "|" + label + " maps (*" + suffix + ")|*" + suffix + ext;
  };
  std::string f = "All maps (*" + ext + ")|*" + ext;
  f += single("Quantitative", "_QT");
  f += "|Qualitative maps (*_BL, *_CL, *_CL)|*_BL" + ext + ";*_CL" + ext + ";*_CL" + ext;
  f += single("Boolean", "_BL");
  // This label has always been shown without the "*"; kept as users know it.
  f += "|Frequency/Probability maps (_FQ)|*_FQ" + ext;
  f += single("Count", "_NB");
  f += single("Statistical", "_ST");
  f += single("Category", "_CL");
  f += "|All files (*.*)|*.*";
  return f;
}

std::string AnyMapFileFilter() {
  std::string f = MapFileFilter();
  const std::string all = "|All files (*.*)|*.*";
  f.erase(f.size() - all.size());
  f += "|GeoTIFF (*.tif *.tiff)|*.tif;*.tiff";
  f += "|ERDAS Imagine (*.img)|*.img";
  f += "|Arc/Info ASCII grid (*.asc)|*.asc";
  f += "|GDAL virtual raster (*.vrt)|*.vrt";
  f += all;
  return f;
}

std::string QtFileFilter(const std::string& filter) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (;;) {
    const auto bar = filter.find('|', start);
    parts.push_back(
        filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  std::string out;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string patterns = parts[i + 1];
    for (char& c : patterns)
      if (c == ';') c = ' ';
    const std::string group = "(" + patterns + ")";
    std::string entry = parts[i];
    // Qt reads the patterns from the last parenthesised group of a label.
    const bool shown = entry.size() >= group.size() &&
                       entry.compare(entry.size() - group.size(), group.size(), group) == 0;
    if (!shown) entry += " " + group;
    if (!out.empty()) out += ";;";
    out += entry;
  }
  return out;
}

} // namespace stravex::gui
