#include "IdrisiEnv.h"
#include "TextUtils.h"

#include "Errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace stravex {

namespace {

struct tIdrisiSettings {
  bool classic = false;
  std::string docExt = ".rdc";
  std::string imageExt = ".rst";
  std::string mapFileFilter;
};

std::string BuildMapFileFilter(const std::string& ext) {
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

tIdrisiSettings& Settings() {
  static tIdrisiSettings s = [] {
    tIdrisiSettings init;
    init.mapFileFilter = BuildMapFileFilter(init.imageExt);
    return init;
  }();
  return s;
}

// Start of the extension of name (position of its last "." after the last
// folder separator), or npos when the file part has no ".".
std::string::size_type ExtensionStart(const std::string& name) {
  const auto dot = name.find_last_of('.');
  if (dot == std::string::npos) return dot;
  const auto sep = name.find_last_of('/');
  if (sep != std::string::npos && sep > dot) return std::string::npos;
  return dot;
}

void RemoveIfPresent(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec); // a map that cannot be deleted is left as is
}

} // namespace

bool ClassicIdrisi() { return Settings().classic; }
const std::string& DocExt() { return Settings().docExt; }
const std::string& ImageExt() { return Settings().imageExt; }
const std::string& MapFileFilter() { return Settings().mapFileFilter; }

std::string MapFileFilterQt() { return QtFileFilter(MapFileFilter()); }

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

void SetIdrisiExtensions(bool classic) {
  tIdrisiSettings& s = Settings();
  s.classic = classic;
  s.docExt = classic ? ".doc" : ".rdc";
  s.imageExt = classic ? ".img" : ".rst";
  s.mapFileFilter = BuildMapFileFilter(s.imageExt);
}

std::string ProgramFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::string();
  return exe.parent_path().string();
}

void InitIdrisiEnvironment() {
  const std::string folder = ProgramFolder();
  // Without a known program folder there is no environment file to find.
  if (folder.empty()) {
    SetIdrisiExtensions(false);
    return;
  }
  InitIdrisiEnvironmentIn(folder);
}

void InitIdrisiEnvironmentIn(const std::string& programFolder) {
  const std::string path = (std::filesystem::path(programFolder) / "idrisi.env").string();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    SetIdrisiExtensions(false);
    return;
  }
  // Only the presence of the file matters, but a file that cannot be read is
  // reported rather than taken for an empty one.
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw EInOutError(path + ": " + std::strerror(errno));
  char line[4096];
  while (std::fgets(line, sizeof line, f)) {
  }
  const bool failed = std::ferror(f) != 0;
  const int readErrno = errno;
  std::fclose(f); // errors on closing a file only read are of no consequence
  if (failed) throw EInOutError(path + ": " + std::strerror(readErrno));
  SetIdrisiExtensions(true);
}

std::string StripExtension(const std::string& name) {
  const auto start = ExtensionStart(name);
  return start == std::string::npos ? name : name.substr(0, start);
}

void DeleteMap(const std::string& name) {
  // Only a map extension is taken off: a map whose own name holds a "."
  // (Corr.v2_001_012) must not lead to deleting another map (Corr.v2).
  std::string base = name;
  const auto start = ExtensionStart(name);
  if (start != std::string::npos) {
    const std::string ext = name.substr(start);
    if (SameTextIgnoringCase(ext, ImageExt()) || SameTextIgnoringCase(ext, DocExt()))
      base = name.substr(0, start);
  }
  RemoveIfPresent(base + ImageExt());
  RemoveIfPresent(base + DocExt());
}

} // namespace stravex
