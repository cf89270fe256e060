#pragma once
// Exclusive locks on files a process is about to write, so that two runs
// never write the same file at once. A file is locked through a side file in
// its folder, ".NAME.lock" (NAME: the file's name as its real path has it,
// after links are followed), which holds the holder's host, process id and
// start time for the messages of the runs it turns away.
//
// The lock itself is an open-file-description byte-range lock (fcntl
// F_OFD_SETLK), flock on kernels without those. The system drops it with the
// process, however that ends, so a killed run never blocks the next one; a
// side file it leaves behind is taken over. Locks of one process conflict
// with each other too. On NFS the lock is kept by the server (NFSv4 or NLM),
// so runs on different nodes see it; a mount with "local_lock" or "nolock"
// keeps locks on the node that takes them.
//
// Releasing removes the side file while still holding the lock; a process
// that opened the file just before sees, once it holds the lock, that the file
// is no longer the linked one and starts again on a new file.
#include <memory>
#include <optional>
#include <string>

namespace stravex {

// Who holds a lock, as its side file records it.
struct tLockHolder {
  std::string Host;
  long Pid = 0;
  std::string Started; // local time, "2026-12-07 23:41:07"
};

// "process 1234 on host node7 (started 2026-12-07 12:03:04)"; "another
// process" when the holder has not recorded itself yet.
std::string HolderText(const tLockHolder& holder);

class tFileLock {
public:
  // Locks path (a file that may not exist yet). nullopt-like: null when
  // another open lock holds it, with that holder in holder. EInOutError
  // naming the side file when it cannot be created or locked.
  static std::unique_ptr<tFileLock> TryLock(const std::string& path, tLockHolder& holder);
  // Removes the side file, then drops the lock.
  ~tFileLock();
  tFileLock(const tFileLock&) = delete;
  tFileLock& operator=(const tFileLock&) = delete;

  // The side file's path.
  const std::string& LockPath() const { return fLockPath; }

  // The side file of path: ".NAME.lock" beside the file path really is.
  static std::string LockPathOf(const std::string& path);

private:
  tFileLock(std::string lockPath, int fd) : fLockPath(std::move(lockPath)), fFd(fd) {}
  std::string fLockPath;
  int fFd = -1;
};

} // namespace stravex
