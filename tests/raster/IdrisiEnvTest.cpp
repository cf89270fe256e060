#include "raster/IdrisiEnv.h"
#include "TestSupport.h"
#include "base/Errors.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace stravex;
using stravex::test::TempDir;
using stravex::test::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

// The generation is process-wide: every test starts and ends in the current one.
class IdrisiEnv : public ::testing::Test {
protected:
  void SetUp() override { SetIdrisiExtensions(false); }
  void TearDown() override { SetIdrisiExtensions(false); }
};

} // namespace

TEST_F(IdrisiEnv, ExtensionsFollowTheGeneration) {
  EXPECT_FALSE(ClassicIdrisi());
  EXPECT_EQ(DocExt(), ".rdc");
  EXPECT_EQ(ImageExt(), ".rst");
  SetIdrisiExtensions(true);
  EXPECT_TRUE(ClassicIdrisi());
  EXPECT_EQ(DocExt(), ".doc");
  EXPECT_EQ(ImageExt(), ".img");
}

TEST_F(IdrisiEnv, EnvironmentFileNextToTheProgramSelectsTheClassicGeneration) {
  TempDir dir;
  SetIdrisiExtensions(true);
  InitIdrisiEnvironmentIn(dir.path().string());
  EXPECT_FALSE(ClassicIdrisi());
  EXPECT_EQ(DocExt(), ".rdc");

  WriteFileBytes(dir.file("idrisi.env"), "");
  InitIdrisiEnvironmentIn(dir.path().string());
  EXPECT_TRUE(ClassicIdrisi());
  EXPECT_EQ(ImageExt(), ".img");

  // The values in the file change nothing: the extensions stay those of the generation.
  SetIdrisiExtensions(false);
  WriteFileBytes(dir.file("idrisi.env"), "image file extension                    rst\r\n"
                                         "image documentation file ext.           rdc\r\n");
  InitIdrisiEnvironmentIn(dir.path().string());
  EXPECT_TRUE(ClassicIdrisi());
  EXPECT_EQ(DocExt(), ".doc");

  // Present but unreadable is an error, not an empty file.
  TempDir other;
  fs::create_directory(other.path() / "idrisi.env");
  EXPECT_THROW(InitIdrisiEnvironmentIn(other.path().string()), EInOutError);

  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(fs::path(folder).is_absolute());
  EXPECT_TRUE(fs::is_directory(folder));
  InitIdrisiEnvironment();
  EXPECT_EQ(ClassicIdrisi(), fs::exists(fs::path(folder) / "idrisi.env"));
}

TEST_F(IdrisiEnv, StripExtensionAndDeleteMap) {
  EXPECT_EQ(StripExtension("/data/forest.rst"), "/data/forest");
  EXPECT_EQ(StripExtension("/data/v1.2/forest"), "/data/v1.2/forest");
  EXPECT_EQ(StripExtension("forest"), "forest");
  EXPECT_EQ(StripExtension("a/b.c.d"), "a/b.c");
  EXPECT_EQ(StripExtension("forest."), "forest");

  TempDir dir;
  for (const char* f : {"forest.rst", "forest.rdc", "forest.img", "Corr.v2.rst", "Corr.v2.rdc",
                        "Corr.v2_001_012.rst", "Corr.v2_001_012.rdc", "old.img", "old.doc"})
    WriteFileBytes(dir.file(f), "x");
  DeleteMap(dir.file("forest.RST"));
  EXPECT_FALSE(fs::exists(dir.file("forest.rst")));
  EXPECT_FALSE(fs::exists(dir.file("forest.rdc")));
  EXPECT_TRUE(fs::exists(dir.file("forest.img")));

  // A map whose name holds a "." is deleted, not the map named by its first part.
  DeleteMap(dir.file("Corr.v2_001_012"));
  EXPECT_FALSE(fs::exists(dir.file("Corr.v2_001_012.rst")));
  EXPECT_FALSE(fs::exists(dir.file("Corr.v2_001_012.rdc")));
  EXPECT_TRUE(fs::exists(dir.file("Corr.v2.rst")));
  EXPECT_TRUE(fs::exists(dir.file("Corr.v2.rdc")));

  EXPECT_NO_THROW(DeleteMap(dir.file("absent")));

  SetIdrisiExtensions(true);
  DeleteMap(dir.file("old"));
  EXPECT_FALSE(fs::exists(dir.file("old.img")));
  EXPECT_FALSE(fs::exists(dir.file("old.doc")));
  EXPECT_TRUE(fs::exists(dir.file("forest.img"))); // only the named map goes
}
