#pragma once
// Outputs are checked before a run or a merge writes anything, so that a
// refused run leaves every existing file as it was and creates none: each
// must be writable, none may be an input of the run or another of its
// outputs, and none may be written by another run at the same time.
#include "base/FileLock.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace stravex {

class tRaster;

// EInOutError "Cannot write to file "PATH": REASON" when the file could not
// be written: its folder is missing, is no folder or is write-protected, or
// the file itself is a folder or write-protected. A file or folder without
// any write permission counts as write-protected also for the administrator:
// a user who made a finished report read-only wants it kept.
void RequireWritable(const std::string& path);
void RequireWritable(const std::vector<std::string>& paths);

// A file a run reads or writes, with what it is to the run ("friction map",
// "report") for messages.
struct tRunFile {
  std::string Role;
  std::string Path;
};

// Maps written one per pair, BASE_iii_jjj with each extension: their number
// is not bounded, so they are checked by their pattern.
struct tPairMapFiles {
  std::string Role;
  std::string Base;
  std::vector<std::string> Extensions;
  // The name the pattern is locked by, "BASE_iii_jjj".
  std::string LockName() const { return Base + "_iii_jjj"; }
};

// Everything a run will write.
struct tOutputPlan {
  std::vector<tRunFile> Files;
  std::optional<tPairMapFiles> PairMaps;
};

// The files of a map as read: an IDRISI map's documentation and image, the
// file GDAL read.
std::vector<std::string> MapInputFiles(const tRaster& map);

// EInOutError when an output is one of the inputs or another output. Files
// are compared by identity (device and inode) when they exist, so that hard
// and symbolic links and other spellings of a path are caught, else by their
// absolute path with links of its folders resolved. An existing output that
// is no regular file (a device such as /dev/null) replaces nothing and is left out.
// The message ends with `after`.
void RequireSeparateFiles(const tOutputPlan& outputs, const std::vector<tRunFile>& inputs,
                          const std::string& after = "Nothing was changed");

// The locks a run holds on its outputs (FileLock.h), from before its first
// write to its end.
class tOutputLocks {
public:
  // Locks every output, and the pattern of the pair maps by its LockName;
  // all or none. EInOutError naming the output, its file and the process
  // that writes it, with `after` at the end, when another run holds one.
  void Take(const tOutputPlan& outputs, const std::string& after = "Nothing was changed");
  // Hands the lock of one output over (the log, which the front end saves
  // after the run), null when it holds none.
  std::shared_ptr<tFileLock> Hand(const std::string& path);
  // Releases every lock.
  void Release() { fLocks.clear(); }

private:
  struct tHeld {
    std::string Path;
    std::unique_ptr<tFileLock> Lock;
  };
  std::vector<tHeld> fLocks;
};

} // namespace stravex
