#include "analysis/OutputCheck.h"

#include "base/AtomicFile.h"
#include "base/Errors.h"
#include "raster/GdalMap.h"
#include "raster/Raster.h"

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

std::vector<std::string> MapInputFiles(const tRaster& map) {
  if (const auto* gdal = dynamic_cast<const tGdalRaster*>(&map)) return {gdal->SourcePath()};
  return {map.FileName + map.DocExtension(), map.FileName + map.ImageExtension()};
}

namespace {

// What a file is on disk: its device and inode when it exists, and its
// absolute path with the links of the existing part resolved.
struct tIdentity {
  std::string Named; // absolute, as named, for messages
  std::string Real;
  bool Exists = false;
  bool Regular = true;
  dev_t Device = 0;
  ino_t Inode = 0;
};

tIdentity IdentityOf(const std::string& path) {
  tIdentity id;
  id.Named = AbsolutePath(path);
  std::error_code ec;
  const fs::path real = fs::weakly_canonical(id.Named, ec);
  id.Real = ec ? id.Named : real.string();
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    id.Exists = true;
    id.Regular = S_ISREG(st.st_mode);
    id.Device = st.st_dev;
    id.Inode = st.st_ino;
  }
  return id;
}

bool Same(const tIdentity& a, const tIdentity& b) {
  if (a.Exists && b.Exists) return a.Device == b.Device && a.Inode == b.Inode;
  return !a.Exists && !b.Exists && a.Real == b.Real;
}

// Leaves out an existing output that is no regular file: a device is written
// in place and replaces nothing.
bool Replaces(const tIdentity& output) { return !output.Exists || output.Regular; }

// NAME_iii_jjj.EXT of the pair maps: at least three digits each.
bool PairMapName(const tPairMapFiles& maps, const std::string& name) {
  const std::string stem = fs::path(maps.Base).filename().string() + "_";
  if (name.compare(0, stem.size(), stem) != 0) return false;
  for (const std::string& ext : maps.Extensions) {
    if (name.size() < stem.size() + ext.size() ||
        name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
      continue;
    const std::string numbers = name.substr(stem.size(), name.size() - stem.size() - ext.size());
    const auto bar = numbers.find('_');
    const auto digits = [](const std::string& t) {
      return t.size() >= 3 && t.find_first_not_of("0123456789") == std::string::npos;
    };
    if (bar != std::string::npos && digits(numbers.substr(0, bar)) &&
        digits(numbers.substr(bar + 1)))
      return true;
  }
  return false;
}

std::string Where(const tIdentity& output, const tIdentity& other) {
  if (output.Named == other.Named) return ": " + output.Named;
  return ": " + output.Named + " is " + other.Named;
}

[[noreturn]] void RefuseInput(const std::string& outputRole, const tIdentity& output,
                              const tRunFile& input, const tIdentity& in,
                              const std::string& after) {
  throw EInOutError("Output \"" + outputRole + "\" would replace input \"" + input.Role + "\"" +
                    Where(output, in) + ". " + after + "; give the output another name.");
}

[[noreturn]] void RefuseOutput(const std::string& role, const tIdentity& output,
                               const std::string& otherRole, const tIdentity& other,
                               const std::string& after) {
  throw EInOutError("Outputs \"" + otherRole + "\" and \"" + role + "\" would be the same file" +
                    Where(other, output) + ". " + after + "; give them different names.");
}

} // namespace

void RequireSeparateFiles(const tOutputPlan& plan, const std::vector<tRunFile>& inputs,
                          const std::string& after) {
  std::vector<tIdentity> in;
  for (const tRunFile& f : inputs) in.push_back(IdentityOf(f.Path));
  std::vector<tIdentity> out;
  for (const tRunFile& f : plan.Files) out.push_back(IdentityOf(f.Path));
  for (std::size_t o = 0; o < out.size(); ++o) {
    if (!Replaces(out[o])) continue;
    for (std::size_t i = 0; i < in.size(); ++i)
      if (Same(out[o], in[i])) RefuseInput(plan.Files[o].Role, out[o], inputs[i], in[i], after);
    for (std::size_t e = 0; e < o; ++e)
      if (Replaces(out[e]) && Same(out[o], out[e]))
        RefuseOutput(plan.Files[o].Role, out[o], plan.Files[e].Role, out[e], after);
  }
  if (!plan.PairMaps) return;
  // The pair maps by their pattern: every input and other output named like
  // one, then every existing pair map that is one of them under another name.
  const tPairMapFiles& maps = *plan.PairMaps;
  const fs::path folder = fs::path(IdentityOf(maps.Base).Real).parent_path();
  const auto isPairMap = [&](const tIdentity& id) {
    const fs::path p(id.Real);
    return p.parent_path() == folder && PairMapName(maps, p.filename().string());
  };
  for (std::size_t i = 0; i < in.size(); ++i)
    if (isPairMap(in[i])) RefuseInput(maps.Role, in[i], inputs[i], in[i], after);
  for (std::size_t o = 0; o < out.size(); ++o)
    if (Replaces(out[o]) && isPairMap(out[o]))
      RefuseOutput(maps.Role, out[o], plan.Files[o].Role, out[o], after);
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!PairMapName(maps, it->path().filename().string())) continue;
    const tIdentity map = IdentityOf(it->path().string());
    if (!Replaces(map)) continue;
    for (std::size_t i = 0; i < in.size(); ++i)
      if (Same(map, in[i])) RefuseInput(maps.Role, map, inputs[i], in[i], after);
    for (std::size_t o = 0; o < out.size(); ++o)
      if (Replaces(out[o]) && Same(map, out[o]))
        RefuseOutput(maps.Role, map, plan.Files[o].Role, out[o], after);
  }
}

void tOutputLocks::Take(const tOutputPlan& plan, const std::string& after) {
  std::vector<tRunFile> files = plan.Files;
  if (plan.PairMaps) files.push_back({plan.PairMaps->Role, plan.PairMaps->LockName()});
  std::vector<tHeld> taken;
  for (const tRunFile& f : files) {
    // A device is written in place by any number of runs.
    if (!Replaces(IdentityOf(f.Path))) continue;
    tLockHolder holder;
    std::unique_ptr<tFileLock> lock = tFileLock::TryLock(f.Path, holder);
    if (!lock)
      throw EInOutError("Output \"" + f.Role + "\" " + AbsolutePath(f.Path) +
                        " is being written by " + HolderText(holder) + ". " + after +
                        "; wait for that run to end, or give this one other output names.");
    taken.push_back({f.Path, std::move(lock)});
  }
  for (tHeld& h : taken) fLocks.push_back(std::move(h));
}

std::shared_ptr<tFileLock> tOutputLocks::Hand(const std::string& path) {
  for (auto it = fLocks.begin(); it != fLocks.end(); ++it) {
    if (it->Path != path) continue;
    std::shared_ptr<tFileLock> lock = std::move(it->Lock);
    fLocks.erase(it);
    return lock;
  }
  return nullptr;
}

} // namespace stravex
