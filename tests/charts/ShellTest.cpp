// Start-up folder memory, version, help and about windows.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextEdit>
#include <gtest/gtest.h>

#include "AboutBox.h"
#include "CustomGeodrellDialogs.h"
#include "Help.h"
#include "StravexIcon.h"
#include "Systeme.h"

using namespace stravex::gui;

namespace {

// Every case starts in a scratch program folder and puts the current folder back.
class WorkDirTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(fProgram.isValid() && fA.isValid() && fB.isValid());
    fStart = QDir::currentPath();
    qputenv("STRAVEX_PROGRAM_DIR", fProgram.path().toUtf8());
  }
  void TearDown() override {
    qunsetenv("STRAVEX_PROGRAM_DIR");
    QDir::setCurrent(fStart);
  }
  // One program session: start with args, optionally move, close.
  static void Session(const QStringList& args, const QString& moveTo = QString()) {
    TCustomGeodrellDialog w(args);
    w.SetInteractive(false);
    if (!moveTo.isEmpty()) w.SetWorkDir(moveTo);
    w.show();
    w.close();
  }
  static QString Canon(const QString& p) { return QDir(p).canonicalPath(); }
  static QString Current() { return Canon(QDir::currentPath()); }

  QTemporaryDir fProgram, fA, fB;
  QString fStart;
};

TEST_F(WorkDirTest, FolderAtCloseIsTheFolderAtNextStart) {
  EXPECT_EQ(TCustomGeodrellDialog::WorkDirIniPath(), QDir(fProgram.path()).filePath("WorkDir.ini"));
  Session({}, fA.path());
  QFile ini(TCustomGeodrellDialog::WorkDirIniPath());
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  EXPECT_EQ(Canon(QString::fromUtf8(ini.readLine()).trimmed()), Canon(fA.path()));
  ini.close();

  TCustomGeodrellDialog w({});
  EXPECT_EQ(Canon(w.WorkDir()), Canon(fA.path()));
  // The window keeps its folder to itself: the process's stays where it was.
  EXPECT_EQ(Current(), Canon(fStart));
  // No temporary file is left beside the ini.
  EXPECT_EQ(QDir(fProgram.path()).entryList(QDir::Files), QStringList{"WorkDir.ini"});
}

TEST_F(WorkDirTest, ArgumentRules) {
  Session({}, fA.path());
  {
    TCustomGeodrellDialog w({"CALL", fB.path()});
    EXPECT_EQ(Canon(w.WorkDir()), Canon(fA.path()));
  }
  {
    TCustomGeodrellDialog w({"", fB.path()});
    EXPECT_EQ(Canon(w.WorkDir()), Canon(fB.path()));
  }
  {
    TCustomGeodrellDialog w({"open", fB.path() + "/missing"});
    EXPECT_EQ(Canon(w.WorkDir()), Canon(fA.path()));
  }
  // A relative folder argument is taken from the folder the program started in.
  ASSERT_TRUE(QDir::setCurrent(fB.path()));
  ASSERT_TRUE(QDir(fB.path()).mkdir("sub"));
  {
    TCustomGeodrellDialog w({"", "sub"});
    EXPECT_EQ(Canon(w.WorkDir()), Canon(fB.path() + "/sub"));
  }
  // Batch mode names a file second: the ini folder stays.
  QFile list(QDir(fB.path()).filePath("maps.txt"));
  ASSERT_TRUE(list.open(QIODevice::WriteOnly));
  list.close();
  {
    TCustomGeodrellDialog w({"x", list.fileName()});
    EXPECT_EQ(Canon(w.WorkDir()), Canon(fA.path()));
  }
  EXPECT_EQ(Current(), Canon(fB.path()));
}

TEST_F(WorkDirTest, MissingOrUnusableMemoryChangesNothing) {
  // No ini at all.
  {
    TCustomGeodrellDialog w({});
    EXPECT_EQ(Canon(w.WorkDir()), Canon(fStart));
  }
  // An ini naming a folder that has gone.
  QFile ini(TCustomGeodrellDialog::WorkDirIniPath());
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write(QDir(fA.path()).filePath("gone").toUtf8() + "\r\n");
  ini.close();
  {
    TCustomGeodrellDialog w({});
    EXPECT_EQ(Canon(w.WorkDir()), Canon(fStart));
  }
  // An empty ini.
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ini.close();
  {
    TCustomGeodrellDialog w({});
    EXPECT_EQ(Canon(w.WorkDir()), Canon(fStart));
  }
}

// Records the save error the window would show.
class tRecordingDialog : public TCustomGeodrellDialog {
public:
  using TCustomGeodrellDialog::TCustomGeodrellDialog;
  QStringList shown;

protected:
  void ShowSaveError(const QString& message) override { shown << message; }
};

TEST_F(WorkDirTest, SaveFailureIsReported) {
  ASSERT_TRUE(QDir(fProgram.path()).mkdir("WorkDir.ini")); // a folder in the way
  // The message names the file and the cause.
  const QString expected =
      QStringLiteral("Cannot write to file \"%1\": Is a directory")
          .arg(QDir::toNativeSeparators(TCustomGeodrellDialog::WorkDirIniPath()));
  EXPECT_EQ(TCustomGeodrellDialog::SaveWorkDir(fA.path()), expected);
  Session({}); // closing does not block or crash when the save fails
  tRecordingDialog w{QStringList()};
  w.show();
  w.close();
  EXPECT_EQ(w.shown, QStringList{expected});
  // A save that works reports nothing.
  ASSERT_TRUE(QDir(fProgram.path()).rmdir("WorkDir.ini"));
  EXPECT_EQ(TCustomGeodrellDialog::SaveWorkDir(fA.path()), QString());
}

TEST_F(WorkDirTest, MissingProgramFolderFallsBackToUserConfiguration) {
  QStandardPaths::setTestModeEnabled(true);
  qputenv("STRAVEX_PROGRAM_DIR", QDir(fProgram.path()).filePath("nowhere").toUtf8());
  const QString path = TCustomGeodrellDialog::WorkDirIniPath();
  EXPECT_EQ(QFileInfo(path).absolutePath(),
            QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
  EXPECT_EQ(TCustomGeodrellDialog::SaveWorkDir(fA.path()), QString());
  EXPECT_TRUE(QFile::exists(path));
  QFile::remove(path);
}

TEST_F(WorkDirTest, RememberedFolderOfTheUserSettingsComesAfterWorkDirIni) {
  const auto settings = TCustomGeodrellDialog::UserSettings();
  // Never the user's own file.
  EXPECT_TRUE(settings->fileName().startsWith(
      QStandardPaths::writableLocation(QStandardPaths::TempLocation)));
  settings->setValue(TCustomGeodrellDialog::kWorkDirKey, fB.path());
  settings->sync();
  {
    TCustomGeodrellDialog w({});
    EXPECT_EQ(Canon(w.WorkDir()), Canon(fB.path())); // no WorkDir.ini yet
  }
  Session({}, fA.path());
  {
    TCustomGeodrellDialog w({});
    EXPECT_EQ(Canon(w.WorkDir()), Canon(fA.path()));
  }
  settings->remove(TCustomGeodrellDialog::kWorkDirKey);
  settings->sync();
}

TEST(Version, StringHasTheRequestedPartsOfTheProjectVersion) {
  EXPECT_EQ(GetVersionString(4), QStringLiteral(STRAVEX_EXPECTED_VERSION));
  EXPECT_TRUE(QStringLiteral(STRAVEX_EXPECTED_VERSION).startsWith(GetVersionString(2) + "."));
  EXPECT_EQ(GetVersionString(1).count('.'), 0);
  EXPECT_EQ(GetVersionString(0), GetVersionString(1));
  EXPECT_EQ(GetVersionString(9), GetVersionString(4));
  const tFileVersion v = GetFileVersion();
  EXPECT_EQ(GetVersionString(3), QString("%1.%2.%3").arg(v.Major).arg(v.Minor).arg(v.Release));
}

TEST(HelpAndAbout, Windows) {
  const QString text = HelpText();
  int at = 0;
  for (const char* title :
       {"1. Function", "2. Operations", "3. Algorithm", "4. Genetic distance file structure",
        "5. Batch mode", "6. Credits", "7. History"}) {
    const int found = text.indexOf(
        QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(title) + "$",
                           QRegularExpression::MultilineOption),
        at);
    EXPECT_GT(found, at) << title;
    at = std::max(at, found);
  }
  for (int pos = 1; pos <= 21; ++pos)
    EXPECT_TRUE(text.contains(
        QRegularExpression(QString("^ ?%1  ").arg(pos), QRegularExpression::MultilineOption)))
        << "batch position " << pos;

  TfHelp help;
  EXPECT_EQ(help.windowTitle(), "Stravex Help");
  EXPECT_EQ(help.size(), QSize(551, 734));
  EXPECT_TRUE(help.Text()->isReadOnly());
  help.show();
  help.close();
  EXPECT_TRUE(help.isHidden());
  help.show(); // still usable after closing
  EXPECT_TRUE(help.isVisible());

  TfAboutBox about;
  EXPECT_EQ(about.windowTitle(), "About Stravex");
  EXPECT_EQ(about.size(), QSize(354, 246));
  EXPECT_EQ(about.minimumSize(), about.maximumSize());
  EXPECT_EQ(about.VersionLabel()->text(), "Version " + GetVersionString(4));
  EXPECT_TRUE(about.ProductName()->font().italic());
  EXPECT_EQ(about.ProductName()->font().pixelSize(), 32);
  EXPECT_TRUE(about.OKButton()->isDefault());
  about.show();
  about.OKButton()->click();
  EXPECT_EQ(about.result(), QDialog::Accepted);
  EXPECT_FALSE(about.isVisible());

  EXPECT_FALSE(StravexIcon().isNull());
  EXPECT_FALSE(StravexIcon().pixmap(64, 64).isNull());
}

} // namespace
