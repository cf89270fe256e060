#pragma once
// Base of the main window: picks the IDRISI file generation at start-up and
// remembers the working folder from one run of the program to the next.
#include <QMainWindow>
#include <QString>
#include <QStringList>

class QCloseEvent;
class QShowEvent;

// Moves a top-level window to the centre of its screen.
void CentreOnScreen(QWidget* w);

class TCustomGeodrellDialog : public QMainWindow {
  Q_OBJECT
public:
  // Runs the start-up steps: the IDRISI environment of the program folder, the
  // folder named by "WorkDir.ini", then the "call"/folder argument rule.
  // args are the program's arguments without the program itself.
  explicit TCustomGeodrellDialog(const QStringList& args, QWidget* parent = nullptr);

  // Folder holding the program: the override set below, else the environment
  // variable STRAVEX_PROGRAM_DIR, else the executable's folder.
  static QString ProgramDir();
  // Tests point this at a scratch folder; an empty text removes the override.
  static void SetProgramDir(const QString& folder);

  // Where "WorkDir.ini" is read and written: beside the program when that
  // folder is writable, otherwise the per-user configuration folder.
  static QString WorkDirIniPath();

  // Writes the current folder to WorkDir.ini (temporary file and rename, one
  // retry). False on failure, with the reason in LastSaveError().
  static bool SaveWorkDir();
  static QString LastSaveError();

  // When off, a failed save at close is not shown in a (blocking) message box.
  static void SetInteractive(bool on);

protected:
  void closeEvent(QCloseEvent* e) override;
  // Centres the window on its screen at the first show.
  void showEvent(QShowEvent* e) override;

private:
  static void RestoreWorkDir();
  static void ApplyFolderArgument(const QStringList& args);

  bool fShown = false;
};
