#include "base/AtomicFile.h"

#include "base/Errors.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace stravex {

namespace {

constexpr std::size_t kRandomDigits = 12;
constexpr std::size_t kNameRoom = 200;

std::string RandomSuffix() {
  thread_local std::mt19937_64 generator = [] {
    std::random_device device;
    const auto now =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::seed_seq seq{device(), device(), static_cast<unsigned>(now),
                      static_cast<unsigned>(now >> 32), static_cast<unsigned>(::getpid())};
    return std::mt19937_64(seq);
  }();
  static const char* const kHex = "0123456789abcdef";
  uint64_t bits = generator();
  std::string s(kRandomDigits, '0');
  for (char& c : s) {
    c = kHex[bits & 0xF];
    bits >>= 4;
  }
  return s;
}

// The process of a leftover ".NAME.tmp-PID-RANDOM", or -1 when entry is no
// temporary of the target with that prefix.
pid_t OwnerOf(std::string_view entry, std::string_view prefix) {
  if (entry.substr(0, prefix.size()) != prefix) return -1;
  entry.remove_prefix(prefix.size());
  const std::size_t dash = entry.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 10) return -1;
  long long pid = 0;
  for (const char c : entry.substr(0, dash)) {
    if (c < '0' || c > '9') return -1;
    pid = pid * 10 + (c - '0');
  }
  const std::string_view random = entry.substr(dash + 1);
  if (random.size() != kRandomDigits ||
      random.find_first_not_of("0123456789abcdef") != std::string_view::npos)
    return -1;
  return pid > 0 && pid <= 0x7FFFFFFF ? static_cast<pid_t>(pid) : -1;
}

// Removes the temporaries of name left in folder by processes that have ended.
void RemoveLeftovers(const std::string& folder, const std::string& name) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return; // creating the temporary reports the folder's trouble
  const std::string prefix = "." + name + ".tmp-";
  const pid_t self = ::getpid();
  while (const dirent* e = ::readdir(dir)) {
    const pid_t owner = OwnerOf(e->d_name, prefix);
    if (owner < 0 || owner == self) continue;
    // EPERM: the process runs, under another user.
    if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
    ::unlinkat(::dirfd(dir), e->d_name, 0);
  }
  ::closedir(dir);
}

int OpenTemporary(const std::string& folder, const std::string& name, std::string& path) {
  const std::string stem = (folder.empty() ? std::string() : folder + "/") + "." + name + ".tmp-" +
                           std::to_string(::getpid()) + "-";
  int fd = -1;
  // A name already taken draws another; any other failure is retried once.
  for (int failures = 0, draws = 0; fd < 0 && failures < 2 && draws < 16; ++draws) {
    path = stem + RandomSuffix();
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) ++failures;
  }
  return fd;
}

} // namespace

tAtomicFile::tAtomicFile(const std::string& target) : fTarget(target), fFinal(target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::error_code ec;
    const auto resolved = std::filesystem::weakly_canonical(target, ec);
    if (!ec) fFinal = resolved.string();
  }
  const bool exists = ::stat(fFinal.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    fFd = ::open(fFinal.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fFd < 0) fFd = ::open(fFinal.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fFd < 0) Fail(errno);
    return;
  }
  // A file the user made read-only stays refused, as an in-place write would be.
  if (exists && ::access(fFinal.c_str(), W_OK) != 0) Fail(errno);
  const std::filesystem::path finalPath(fFinal);
  const std::string folder = finalPath.parent_path().string();
  // Room in the temporary's name for its suffix within the 255 bytes a name may have.
  const std::string name = finalPath.filename().string().substr(0, kNameRoom);
  RemoveLeftovers(folder.empty() ? std::string(".") : folder, name);
  fFd = OpenTemporary(folder, name, fTemp);
  if (fFd < 0) {
    const int err = errno;
    fTemp.clear(); // not created
    Fail(err);
  }
  // The replacement keeps the permissions of the file it replaces.
  if (exists) ::fchmod(fFd, st.st_mode & 07777);
}

tAtomicFile::~tAtomicFile() {
  if (!fCommitted) Discard();
}

void tAtomicFile::Write(const void* data, std::size_t size) {
  if (fFd < 0 || fFinished) RaiseClosed();
  const auto* p = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fFd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    if (n == 0) Fail(EIO);
    p += n;
    size -= static_cast<std::size_t>(n);
  }
}

void tAtomicFile::Finish() {
  if (fFailed) RaiseClosed();
  if (fFinished) return;
  // A device (such as /dev/null) may refuse to sync; only a temporary must be on disk.
  if (!fTemp.empty() && ::fsync(fFd) != 0) Fail(errno);
  const int fd = fFd;
  fFd = -1;
  // Some file systems report a full disk only when the file is closed.
  if (::close(fd) != 0 && errno != EINTR) Fail(errno);
  fFinished = true;
}

void tAtomicFile::Commit() {
  if (fCommitted) return;
  Finish(); // raises once a step has failed
  if (!fTemp.empty()) {
    if (::rename(fTemp.c_str(), fFinal.c_str()) != 0) Fail(errno);
    // Best effort: the new content is in place already, and some file systems
    // refuse to sync a folder; only durability across a power cut is at stake.
    const std::string folder = std::filesystem::path(fFinal).parent_path().string();
    const int dir = ::open(folder.empty() ? "." : folder.c_str(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  }
  fCommitted = true;
}

void tAtomicFile::RaiseClosed() const {
  throw EInvalidOperation("File \"" + fTarget + "\" is closed");
}

void tAtomicFile::Fail(int err) {
  Discard();
  fFailed = true;
  throw EInOutError("Cannot write to file \"" + fTarget + "\": " + std::strerror(err));
}

void tAtomicFile::Discard() noexcept {
  if (fFd >= 0) {
    ::close(fFd);
    fFd = -1;
  }
  if (!fTemp.empty() && !fCommitted) ::unlink(fTemp.c_str());
  fTemp.clear();
  fFinished = true;
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  tAtomicFile file(path);
  file.Write(bytes);
  file.Commit();
}

std::string ReadWholeFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) f = std::fopen(path.c_str(), "rb");
  if (!f) {
    if (errno == ENOENT) throw EInOutError(path + " not found.");
    throw EInOutError(path + ": " + std::strerror(errno));
  }
  std::string text;
  char buf[1 << 16];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  const int err = errno;
  std::fclose(f);
  if (failed) throw EInOutError(path + ": " + std::strerror(err));
  return text;
}

std::string AbsolutePath(const std::string& name) {
  if (name.empty()) return name;
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(name, ec);
  return ec ? name : p.lexically_normal().string();
}

} // namespace stravex
