// Whole-file replacement: a killed writer, a full disk or a file-size limit
// leaves the old file or the new one, never a part, and says why it failed.
#include "base/AtomicFile.h"
#include "RasterFixtures.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename());
  return names;
}

// Runs f in a child process that may write no file beyond limit bytes (a
// write past it fails with EFBIG); the message of the EInOutError f raised,
// or a note that it raised none.
template <typename F>
std::string MessageUnderFileSizeLimit(rlim_t limit, F&& f) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return "(no pipe)";
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit l{limit, limit};
    setrlimit(RLIMIT_FSIZE, &l);
    std::string message = "(no error)";
    try {
      f();
    } catch (const EInOutError& e) {
      message = e.what();
    }
    const ssize_t n = write(pipeFds[1], message.data(), message.size());
    _exit(n == static_cast<ssize_t>(message.size()) ? 0 : 1);
  }
  close(pipeFds[1]);
  std::string message;
  char buf[512];
  for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;) message.append(buf, n);
  close(pipeFds[0]);
  int status = -1;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "(child failed)";
  return message;
}

// A process id that no process holds any more.
pid_t EndedPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

TEST(AtomicFile, ReplacesTheFileKeepingItsPermissionsAndLinks) {
  TempDir dir;
  const std::string path = dir.file("list.txt");
  WriteFileAtomically(path, "old\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  WriteFileAtomically(path, "new\r\n");
  EXPECT_EQ(ReadFileBytes(path), "new\r\n");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  WriteFileAtomically(path, "");
  EXPECT_EQ(ReadFileBytes(path), "");

  // A link stays a link; the file it points to is replaced.
  fs::create_symlink("list.txt", dir.file("link.txt"));
  WriteFileAtomically(dir.file("link.txt"), "through the link");
  EXPECT_TRUE(fs::is_symlink(dir.file("link.txt")));
  EXPECT_EQ(ReadFileBytes(path), "through the link");
  EXPECT_EQ(Names(dir), (std::set<std::string>{"list.txt", "link.txt"}));

  // The longest name a folder takes leaves no room for a suffix; its temporary is named shorter.
  const std::string longName(255, 'n');
  WriteFileAtomically(dir.file(longName), "long");
  WriteFileAtomically(dir.file(longName), "longer");
  EXPECT_EQ(ReadFileBytes(dir.file(longName)), "longer");
  EXPECT_EQ(Names(dir), (std::set<std::string>{"list.txt", "link.txt", longName}));

  // A device cannot be replaced; it is written as it is.
  if (fs::exists("/dev/null")) {
    EXPECT_NO_THROW(WriteFileAtomically("/dev/null", "nothing"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
  }
}

TEST(AtomicFile, AFailedWriteNamesTheFileAndTheCauseAndKeepsTheOldFile) {
  TempDir dir;
  const std::string nowhere = dir.file("no/such/folder/x.txt");
  EXPECT_EQ(MessageOf<EInOutError>([&] { WriteFileAtomically(nowhere, "x"); }),
            "Cannot write to file \"" + nowhere + "\": No such file or directory");
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(MessageOf<EInOutError>([] { WriteFileAtomically("/dev/full", "x"); }),
              "Cannot write to file \"/dev/full\": No space left on device");
  }

  const std::string path = dir.file("log.txt");
  WriteFileAtomically(path, "old\r\n");
  const std::string big(10000, 'x');
  EXPECT_EQ(MessageUnderFileSizeLimit(4096, [&] { WriteFileAtomically(path, big); }),
            "Cannot write to file \"" + path + "\": File too large");
  EXPECT_EQ(ReadFileBytes(path), "old\r\n");
  EXPECT_EQ(Names(dir), std::set<std::string>{"log.txt"});

  // Given up before the commit (an error elsewhere): nothing changes.
  {
    tAtomicFile file(path);
    file.Write("half");
    EXPECT_TRUE(fs::exists(file.TemporaryPath()));
  }
  EXPECT_EQ(ReadFileBytes(path), "old\r\n");
  EXPECT_EQ(Names(dir), std::set<std::string>{"log.txt"});
}

TEST(AtomicFile, LeftoversOfEndedProcessesAreRemovedByTheNextWrite) {
  TempDir dir;
  const std::string dead = std::to_string(EndedPid());
  const std::string alive = std::to_string(getppid());
  const std::set<std::string> kept = {
      ".map.rdc.tmp-" + alive + "-0123456789ab",  // a writer still running
      ".map.rdc.tmp-" + dead + "-notes",          // not a temporary's name
      ".other.rdc.tmp-" + dead + "-0123456789ab", // another file's
      "map.rdc.tmp-" + dead + "-0123456789ab",    // no leading "."
  };
  for (const std::string& name : kept) WriteFileBytes(dir.file(name), "keep");
  WriteFileBytes(dir.file(".map.rdc.tmp-" + dead + "-0123456789ab"), "left by a killed run");
  WriteFileBytes(dir.file(".map.rdc.tmp-" + dead + "-fedcba987654"), "and another");

  WriteFileAtomically(dir.file("map.rdc"), "new");
  std::set<std::string> expected = kept;
  expected.insert("map.rdc");
  EXPECT_EQ(Names(dir), expected);
}

// Two documentation records that tell apart at their first and last lines.
void SetDocRecord(tRaster& r, const std::string& name, const std::string& tag, int32_t side,
                  int comments) {
  SetGrid(r, name, dtInteger, side, side + 1);
  r.Title = tag;
  r.Comments.clear();
  for (int k = 0; k < comments; ++k) r.Comments.push_back(tag + " comment " + std::to_string(k));
}

TEST(AtomicFile, AKilledWriterAlwaysLeavesADocumentationThatReadsWhole) {
  TempDir dir;
  const std::string name = dir.file("map");
  tRaster a, b;
  SetDocRecord(a, name, "A", 3, 300);
  SetDocRecord(b, name, "B", 5, 500);
  a.WriteDoc();

  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> delayMicroseconds(200, 8000);
  std::set<std::string> seen;
  for (int round = 0; round < 24; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      close(ready[0]);
      b.WriteDoc();
      const char one = 1;
      if (write(ready[1], &one, 1) != 1) _exit(1);
      for (;;) {
        a.WriteDoc();
        b.WriteDoc();
      }
    }
    close(ready[1]);
    char one = 0;
    ASSERT_EQ(read(ready[0], &one, 1), 1) << "the writer did not start";
    close(ready[0]);
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);

    try {
      tRaster r(name);
      const bool isA = r.Title == "A";
      const tRaster& want = isA ? a : b;
      EXPECT_EQ(r.Title, want.Title) << "round " << round;
      EXPECT_EQ(r.Rows, want.Rows) << "round " << round;
      EXPECT_EQ(r.Columns, want.Columns) << "round " << round;
      EXPECT_EQ(r.Comments, want.Comments) << "round " << round;
      seen.insert(r.Title);
    } catch (const EStravexError& e) {
      ADD_FAILURE() << "round " << round << ": " << e.what();
    }
  }
  EXPECT_FALSE(seen.empty());

  // Whatever the kills left behind goes with the next write.
  b.WriteDoc();
  EXPECT_EQ(Names(dir), std::set<std::string>{std::string("map") + a.DocExtension()});
}

TEST(AtomicFile, AMapThatCannotBeWrittenInFullKeepsItsPreviousFiles) {
  TempDir dir;
  tRaster r;
  SetGrid(r, dir.file("m"), dtInteger, 100, 100); // 20000 bytes of image
  r.FillConstant(3);
  const std::string image = dir.file("m") + r.ImageExtension();
  const std::string doc = dir.file("m") + r.DocExtension();
  const std::string oldImage = ReadFileBytes(image);
  const std::string oldDoc = ReadFileBytes(doc);
  ASSERT_EQ(oldImage.size(), 20000u);
  const std::set<std::string> files = Names(dir);

  EXPECT_EQ(MessageUnderFileSizeLimit(10000, [&] { r.FillConstant(7); }),
            "Cannot write to file \"" + image + "\": File too large");
  EXPECT_EQ(ReadFileBytes(image), oldImage);
  EXPECT_EQ(ReadFileBytes(doc), oldDoc);
  EXPECT_EQ(Names(dir), files);

  tLiveRaster live(dir.file("m"));
  live.LoadData();
  live.SetCell(99, 99, 9);
  EXPECT_EQ(MessageUnderFileSizeLimit(10000, [&] { live.SaveData(); }),
            "Cannot write to file \"" + image + "\": File too large");
  EXPECT_EQ(ReadFileBytes(image), oldImage);
  EXPECT_EQ(Names(dir), files);

  // Without the limit both go through, and the saved image holds every cell.
  live.SaveData();
  tRaster back(dir.file("m"));
  EXPECT_EQ(back.GetCell(99, 99), 9);
  EXPECT_EQ(back.GetCell(0, 0), 3);
  EXPECT_EQ(fs::file_size(image), 20000u);
  EXPECT_EQ(Names(dir), files);
}

} // namespace
} // namespace stravex::test
