#include "CustomGeodrellDialogs.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>

#include "base/AtomicFile.h"
#include "raster/IdrisiEnv.h"

#include <string_view>

namespace {
QString gProgramDirOverride;
QString gLastSaveError;
bool gInteractive = true;
const QString kIniName = QStringLiteral("WorkDir.ini");

// Replaced atomically, as every whole file the program writes.
bool TryWrite(const QString& path, const QByteArray& content) {
  try {
    stravex::WriteFileAtomically(
        QDir::toNativeSeparators(path).toStdString(),
        std::string_view(content.constData(), static_cast<std::size_t>(content.size())));
    return true;
  } catch (const std::exception& e) {
    gLastSaveError = QString::fromStdString(e.what());
    return false;
  }
}
} // namespace

TCustomGeodrellDialog::TCustomGeodrellDialog(const QStringList& args, QWidget* parent)
    : QMainWindow(parent) {
  stravex::InitIdrisiEnvironmentIn(QDir::toNativeSeparators(ProgramDir()).toStdString());
  RestoreWorkDir();
  ApplyFolderArgument(args);
}

QString TCustomGeodrellDialog::ProgramDir() {
  if (!gProgramDirOverride.isEmpty()) return gProgramDirOverride;
  const QString env = qEnvironmentVariable("STRAVEX_PROGRAM_DIR");
  if (!env.isEmpty()) return env;
  return QCoreApplication::applicationDirPath();
}

void TCustomGeodrellDialog::SetProgramDir(const QString& folder) { gProgramDirOverride = folder; }

QString TCustomGeodrellDialog::WorkDirIniPath() {
  const QString programDir = ProgramDir();
  const QFileInfo info(programDir);
  if (info.isDir() && info.isWritable()) return QDir(programDir).filePath(kIniName);
  const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  return QDir(config).filePath(kIniName);
}

void TCustomGeodrellDialog::RestoreWorkDir() {
  QFile f(WorkDirIniPath());
  if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return; // no memory yet
  QString folder = QString::fromUtf8(f.readLine());
  while (folder.endsWith(QLatin1Char('\n')) || folder.endsWith(QLatin1Char('\r'))) folder.chop(1);
  // A folder that has gone leaves the start-up folder as it is.
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) QDir::setCurrent(folder);
}

void TCustomGeodrellDialog::ApplyFolderArgument(const QStringList& args) {
  if (!args.isEmpty() && args.at(0).toLower() == QLatin1String("call")) return;
  if (args.size() < 2) return;
  const QString folder = args.at(1);
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) QDir::setCurrent(folder);
}

bool TCustomGeodrellDialog::SaveWorkDir() {
  gLastSaveError.clear();
  const QString path = WorkDirIniPath();
  // The configuration folder may not exist yet on the first run.
  QDir().mkpath(QFileInfo(path).absolutePath());
  const QByteArray content = QDir::currentPath().toUtf8() + '\n';
  return TryWrite(path, content) || TryWrite(path, content);
}

QString TCustomGeodrellDialog::LastSaveError() { return gLastSaveError; }

void TCustomGeodrellDialog::SetInteractive(bool on) { gInteractive = on; }

void TCustomGeodrellDialog::closeEvent(QCloseEvent* e) {
  if (!SaveWorkDir() && gInteractive) {
    // The message names the file and the cause.
    QMessageBox::critical(this, QCoreApplication::applicationName(), LastSaveError());
  }
  e->accept();
}

void CentreOnScreen(QWidget* w) {
  if (const QScreen* s = w->screen()) {
    QRect r = w->frameGeometry();
    r.moveCenter(s->availableGeometry().center());
    w->move(r.topLeft());
  }
}

void TCustomGeodrellDialog::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  if (fShown) return;
  fShown = true;
  CentreOnScreen(this);
}
