#include "CustomGeodrellDialogs.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>

#include "base/AtomicFile.h"
#include "raster/IdrisiEnv.h"

#include <string_view>

namespace stravex::gui {

namespace {
const QString kIniName = QStringLiteral("WorkDir.ini");

// Replaced atomically, as every whole file the program writes. Empty on
// success, otherwise the reason.
QString TryWrite(const QString& path, const QByteArray& content) {
  try {
    stravex::WriteFileAtomically(
        QDir::toNativeSeparators(path).toStdString(),
        std::string_view(content.constData(), static_cast<std::size_t>(content.size())));
    return {};
  } catch (const std::exception& e) {
    return QString::fromStdString(e.what());
  }
}
} // namespace

TCustomGeodrellDialog::TCustomGeodrellDialog(const QStringList& args, QWidget* parent)
    : QMainWindow(parent), fWorkDir(QDir::currentPath()) {
  stravex::InitIdrisiEnvironmentIn(QDir::toNativeSeparators(ProgramDir()).toStdString());
  if (const QString remembered = RememberedWorkDir(); !remembered.isEmpty()) fWorkDir = remembered;
  if (const QString argument = FolderArgument(args); !argument.isEmpty()) fWorkDir = argument;
}

QString TCustomGeodrellDialog::ProgramDir() {
  const QString env = qEnvironmentVariable("STRAVEX_PROGRAM_DIR");
  if (!env.isEmpty()) return env;
  return QCoreApplication::applicationDirPath();
}

QString TCustomGeodrellDialog::WorkDirIniPath() {
  const QString programDir = ProgramDir();
  const QFileInfo info(programDir);
  if (info.isDir() && info.isWritable()) return QDir(programDir).filePath(kIniName);
  const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  return QDir(config).filePath(kIniName);
}

std::unique_ptr<QSettings> TCustomGeodrellDialog::UserSettings() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                     QStringLiteral("Stravex"), QStringLiteral("stravex"));
}

QString TCustomGeodrellDialog::RememberedWorkDir() {
  // A folder that has gone leaves the start-up folder as it is.
  const auto existing = [](const QString& folder) {
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? QDir(folder).absolutePath() : QString();
  };
  QFile f(WorkDirIniPath());
  if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
    QString folder = QString::fromUtf8(f.readLine());
    while (folder.endsWith(QLatin1Char('\n')) || folder.endsWith(QLatin1Char('\r'))) folder.chop(1);
    if (const QString found = existing(folder); !found.isEmpty()) return found;
  }
  return existing(UserSettings()->value(QLatin1String(kWorkDirKey)).toString());
}

QString TCustomGeodrellDialog::FolderArgument(const QStringList& args) {
  if (!args.isEmpty() && args.at(0).toLower() == QLatin1String("call")) return {};
  if (args.size() < 2) return {};
  const QString folder = args.at(1);
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? QDir(folder).absolutePath() : QString();
}

QString TCustomGeodrellDialog::SaveWorkDir(const QString& folder) {
  const QString path = WorkDirIniPath();
  // The configuration folder may not exist yet on the first run.
  QDir().mkpath(QFileInfo(path).absolutePath());
  const QByteArray content = folder.toUtf8() + '\n';
  const QString first = TryWrite(path, content);
  return first.isEmpty() ? first : TryWrite(path, content);
}

void TCustomGeodrellDialog::ShowSaveError(const QString& message) {
  if (fInteractive) QMessageBox::critical(this, QCoreApplication::applicationName(), message);
}

void TCustomGeodrellDialog::closeEvent(QCloseEvent* e) {
  // The message names the file and the cause.
  if (const QString error = SaveWorkDir(fWorkDir); !error.isEmpty()) ShowSaveError(error);
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
  if (fCentre) CentreOnScreen(this);
}

} // namespace stravex::gui
