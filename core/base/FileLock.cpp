#include "base/FileLock.h"

#include "base/Errors.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace stravex {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Raise(const std::string& lockPath, int err) {
  throw EInOutError("Cannot write to file \"" + lockPath + "\": " + std::strerror(err));
}

enum class tTaken { Yes, Busy };

tTaken LockWhole(int fd, const std::string& lockPath) {
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &whole) == 0) return tTaken::Yes;
  if (errno == EAGAIN || errno == EACCES) return tTaken::Busy;
  // Kernels before 3.15 know no open-file-description locks.
  if (errno != EINVAL) Raise(lockPath, errno);
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return tTaken::Yes;
  if (errno == EWOULDBLOCK) return tTaken::Busy;
  Raise(lockPath, errno);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The side file still names the open file (the holder did not remove it).
bool StillLinked(int fd, const std::string& lockPath) {
  struct stat opened {
  }, linked{};
  return ::fstat(fd, &opened) == 0 && ::stat(lockPath.c_str(), &linked) == 0 &&
         SameFile(opened, linked);
}

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

void Record(int fd) {
  const std::string text = "host\t" + HostName() + "\npid\t" + std::to_string(::getpid()) +
                           "\nstarted\t" + Now() + "\n";
  // Information for the runs turned away: a failure costs only the message.
  if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, text.data(), text.size(), 0);
}

tLockHolder ReadHolder(int fd) {
  tLockHolder h;
  char buffer[1024];
  const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
  if (n <= 0) return h;
  const std::string text(buffer, static_cast<std::size_t>(n));
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string key = line.substr(0, tab), value = line.substr(tab + 1);
    if (key == "host") h.Host = value;
    if (key == "started") h.Started = value;
    if (key == "pid") {
      try {
        h.Pid = std::stol(value);
      } catch (const std::exception&) {
        h.Pid = 0;
      }
    }
  }
  return h;
}

} // namespace

std::string HolderText(const tLockHolder& h) {
  if (h.Pid <= 0) return "another process";
  std::string text = "process " + std::to_string(h.Pid);
  if (!h.Host.empty()) text += " on host " + h.Host;
  if (!h.Started.empty()) text += " (started " + h.Started + ")";
  return text;
}

std::string tFileLock::LockPathOf(const std::string& path) {
  std::error_code ec;
  fs::path real = fs::weakly_canonical(fs::absolute(path, ec), ec);
  if (ec) real = fs::absolute(path, ec).lexically_normal();
  return (real.parent_path() / ("." + real.filename().string() + ".lock")).string();
}

std::unique_ptr<tFileLock> tFileLock::TryLock(const std::string& path, tLockHolder& holder) {
  const std::string lockPath = LockPathOf(path);
  // A round is lost only to a holder that removed the file meanwhile.
  for (int round = 0; round < 100; ++round) {
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) Raise(lockPath, errno);
    tTaken taken = tTaken::Busy;
    try {
      taken = LockWhole(fd, lockPath);
    } catch (...) {
      ::close(fd);
      throw;
    }
    if (taken == tTaken::Busy) {
      holder = ReadHolder(fd);
      ::close(fd);
      return nullptr;
    }
    if (!StillLinked(fd, lockPath)) {
      ::close(fd);
      continue;
    }
    Record(fd);
    return std::unique_ptr<tFileLock>(new tFileLock(lockPath, fd));
  }
  throw EInOutError("Cannot write to file \"" + lockPath +
                    "\": the lock file keeps being replaced by other processes");
}

tFileLock::~tFileLock() {
  // Removed only while it is still this lock's file, and before the lock goes,
  // so that no other process ever holds a lock on a file that is not linked.
  if (StillLinked(fFd, fLockPath)) ::unlink(fLockPath.c_str());
  ::close(fFd);
}

} // namespace stravex
