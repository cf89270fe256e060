#include "analysis/OutputCheck.h"

#include "base/Errors.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace stravex {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Refuse(const std::string& path, const std::string& reason) {
  throw EInOutError("Cannot write to file \"" + path + "\": " + reason);
}

bool WriteProtected(const std::string& path, const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

} // namespace

void RequireWritable(const std::string& path) {
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0)
    Refuse(path, "the folder " + folder.string() + " does not exist");
  if (!S_ISDIR(st.st_mode)) Refuse(path, folder.string() + " is not a folder");
  // Reports are created and atomic rewrites renamed in the folder.
  if (WriteProtected(folder.string(), st) || ::access(folder.c_str(), X_OK) != 0)
    Refuse(path, "the folder " + folder.string() + " is write-protected");
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    Refuse(path, std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) Refuse(path, "it is a folder");
  if (S_ISREG(st.st_mode) && WriteProtected(path, st)) Refuse(path, "the file is write-protected");
}

void RequireWritable(const std::vector<std::string>& paths) {
  for (const std::string& p : paths) RequireWritable(p);
}

} // namespace stravex
