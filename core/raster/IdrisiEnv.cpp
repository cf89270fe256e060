#include "raster/IdrisiEnv.h"
#include "base/TextUtils.h"

#include "base/Errors.h"

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
};

tIdrisiSettings& Settings() {
  static tIdrisiSettings s;
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

void SetIdrisiExtensions(bool classic) {
  tIdrisiSettings& s = Settings();
  s.classic = classic;
  s.docExt = classic ? ".doc" : ".rdc";
  s.imageExt = classic ? ".img" : ".rst";
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
