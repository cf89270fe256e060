#pragma once
// Whole-file replacement that a killed process, a full disk or a file-size
// limit cannot leave half done. The new content goes to a temporary file in
// the target's folder, named ".NAME.tmp-PID-RANDOM" (NAME: the target's file
// name, cut to 200 bytes), which is synced and renamed over the target only once complete; the
// folder is synced after the rename. Readers never see the temporary: its name
// starts with "." and ends in neither a map nor a report extension.
//
// Leftovers: a temporary whose process was killed stays behind. Creating the
// next temporary of the same target removes every ".NAME.tmp-PID-*" sibling
// whose process PID no longer runs; those of running processes (this one
// included) are left alone, so two writers never remove each other's file.
//
// A target that is a symbolic link is replaced at the file the link points to
// (the link stays). A target that exists but is no regular file (a device such
// as /dev/null, a pipe) cannot be replaced and is written in place. A target
// this process may not write (read-only) is refused, as an in-place write is.
//
// Every failure removes the temporary, leaves the target as it was and raises
// EInOutError "Cannot write to file \"TARGET\": CAUSE" with the system's text
// of the cause ("No space left on device", "File too large").
#include <cstddef>
#include <string>
#include <string_view>

namespace stravex {

class tAtomicFile {
public:
  // Creates the temporary file (one retry, as for every file opened).
  explicit tAtomicFile(const std::string& target);
  // Removes the temporary unless committed.
  ~tAtomicFile();
  tAtomicFile(const tAtomicFile&) = delete;
  tAtomicFile& operator=(const tAtomicFile&) = delete;

  void Write(const void* data, std::size_t size);
  void Write(std::string_view text) { Write(text.data(), text.size()); }
  // Syncs and closes the temporary: its whole content is on disk. Commit does
  // it when not done yet; done first, a later Commit is only a rename.
  void Finish();
  // Renames the temporary over the target and syncs the folder.
  void Commit();

  const std::string& Target() const { return fTarget; }
  // The temporary file's path (empty when the target is written in place).
  const std::string& TemporaryPath() const { return fTemp; }

private:
  [[noreturn]] void Fail(int err);
  [[noreturn]] void RaiseClosed() const;
  void Discard() noexcept;

  std::string fTarget; // as given, for messages
  std::string fFinal;  // the file replaced: the target, or where its link points
  std::string fTemp;
  int fFd = -1;
  bool fFinished = false;
  bool fCommitted = false;
  bool fFailed = false; // a step failed: the temporary is gone
};

// The file at path holds exactly bytes afterwards, or is left as it was.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// A file's bytes, read whole (one retry to open, as for every file opened).
// EInOutError "PATH not found." when it is missing, else naming the cause.
std::string ReadWholeFile(const std::string& path);

// The name made absolute from the current folder, without "." and ".."
// steps; empty stays empty, and a name that cannot be resolved is unchanged.
std::string AbsolutePath(const std::string& name);

} // namespace stravex
