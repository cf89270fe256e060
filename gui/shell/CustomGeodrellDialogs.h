#pragma once
// Base of the main window: picks the IDRISI file generation at start-up and
// remembers the working folder from one run of the program to the next.
#include <QMainWindow>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>

class QCloseEvent;
class QShowEvent;

namespace stravex::gui {

// Moves a top-level window to the centre of its screen.
void CentreOnScreen(QWidget* w);

class TCustomGeodrellDialog : public QMainWindow {
  Q_OBJECT
public:
  // Runs the start-up steps: the IDRISI environment of the program folder, the
  // working folder named by "WorkDir.ini", then the "call"/folder argument
  // rule. args are the program's arguments without the program itself.
  explicit TCustomGeodrellDialog(const QStringList& args, QWidget* parent = nullptr);

  // Folder holding the program: the environment variable STRAVEX_PROGRAM_DIR,
  // else the executable's folder.
  static QString ProgramDir();

  // The settings remembered between sessions: "stravex.ini" in the user's
  // configuration folder (organisation "Stravex"), INI so that users can read it.
  static std::unique_ptr<QSettings> UserSettings();
  // The key of the remembered working folder in UserSettings(); WorkDir.ini
  // has precedence over it.
  static constexpr const char* kWorkDirKey = "Folders/WorkDir";

  // Where "WorkDir.ini" is read and written: beside the program when that
  // folder is writable, otherwise the per-user configuration folder.
  static QString WorkDirIniPath();

  // The folder runs write into: the one the program started in, unless
  // WorkDir.ini or the folder argument named another. Saved at close.
  const QString& WorkDir() const { return fWorkDir; }
  void SetWorkDir(const QString& folder) { fWorkDir = folder; }

  // Writes folder to WorkDir.ini (temporary file and rename, one retry).
  // Empty on success, otherwise the reason, naming the file.
  static QString SaveWorkDir(const QString& folder);

  // When off, a failed save at close is not shown in a (blocking) message box.
  void SetInteractive(bool on) { fInteractive = on; }
  // Off when the window was placed from remembered settings.
  void SetCentreAtFirstShow(bool on) { fCentre = on; }

protected:
  void closeEvent(QCloseEvent* e) override;
  // Centres the window on its screen at the first show.
  void showEvent(QShowEvent* e) override;
  // A failed save of WorkDir.ini at close.
  virtual void ShowSaveError(const QString& message);

private:
  // The folder WorkDir.ini names, else the one of UserSettings(), when it
  // still exists.
  static QString RememberedWorkDir();
  // The folder the arguments name, when the rule applies and it exists.
  static QString FolderArgument(const QStringList& args);

  QString fWorkDir;
  bool fInteractive = true;
  bool fShown = false;
  bool fCentre = true;
};

} // namespace stravex::gui
