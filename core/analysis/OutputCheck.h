#pragma once
// Outputs are checked before a run or a merge writes anything, so that a
// refused run leaves every existing file as it was and creates none.
#include <string>
#include <vector>

namespace stravex {

// EInOutError "Cannot write to file "PATH": REASON" when the file could not
// be written: its folder is missing, is no folder or is write-protected, or
// the file itself is a folder or write-protected. A file or folder without
// any write permission counts as write-protected also for the administrator:
// a user who made a finished report read-only wants it kept.
void RequireWritable(const std::string& path);
void RequireWritable(const std::vector<std::string>& paths);

} // namespace stravex
