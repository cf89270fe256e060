// The window's settings kept between sessions and in named settings files,
// and the folders its file dialogs open in.
#include "MatrixParametersPage.h"
#include "PageKit.h"
#include "analysis/LocationSequence.h"
#include "analysis/RunLog.h"
#include "base/AtomicFile.h"
#include "dlgConnectivity.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <string_view>

namespace stravex::gui {

using kit::Q;
using kit::Std;

namespace {

const char* const kGeometryKey = "Window/Geometry";
const std::array<const char*, 4> kFolderKinds = {"Maps", "Data", "Lists", "Settings"};
// The sections of a settings file; a file with none of them is not one.
const QStringList kStudyGroups = {"Data",   "Maps",     "Paths",  "Project",
                                  "Matrix", "Sequence", "Output", "Model"};

QString FolderKind(TdlgConnectivity::tFileDialog which) {
  using D = TdlgConnectivity::tFileDialog;
  switch (which) {
  case D::OpenImage: return QStringLiteral("Maps");
  case D::OpenMatrix: return QStringLiteral("Data");
  case D::OpenList:
  case D::SaveList: return QStringLiteral("Lists");
  case D::OpenSettings:
  case D::SaveSettings: break;
  }
  return QStringLiteral("Settings");
}

QString FolderKey(const QString& kind) { return QStringLiteral("Folders/") + kind; }

QString Native(const QString& file) { return QDir::toNativeSeparators(file); }

// Refusals of maps named in a settings file become lines of its message.
class tCollectingReporter : public tReporter {
public:
  tCollectingReporter(QStringList& out, QString prefix) : fOut(out), fPrefix(std::move(prefix)) {}
  void Warning(const std::string& message) override { fOut << fPrefix + Q(message); }
  void ErrorBox(const std::string& message) override { fOut << fPrefix + Q(message); }

private:
  QStringList& fOut;
  QString fPrefix;
};

} // namespace

tWindowChoices TdlgConnectivity::ReadChoices() const {
  tWindowChoices c;
  for (const auto& m : fMaps.BinaryMaps) c.BinaryMaps << Q(MapFile(*m));
  for (const auto& m : fMaps.QuantitativeMaps) c.QuantitativeMaps << Q(MapFile(*m));
  if (fMaps.TopographyMap) c.TopographyMap = Q(MapFile(*fMaps.TopographyMap));
  fMatrixParameters->ReadChoices(c);
  return c;
}

QStringList TdlgConnectivity::PickFiles(tFileDialog which) {
  const QStringList names = AskFiles(which);
  if (!names.isEmpty()) fLastFolders[FolderKind(which)] = QFileInfo(names.first()).absolutePath();
  return names;
}

QString TdlgConnectivity::LastFolder(tFileDialog which) const {
  const auto it = fLastFolders.find(FolderKind(which));
  return it != fLastFolders.end() && QFileInfo(it->second).isDir() ? it->second : QString();
}

void TdlgConnectivity::ApplyStudy(const TAnalysisSettings& read, const tWindowChoices& c,
                                  const QString& source, QStringList& problems) {
  const tWindowChoices now = ReadChoices();
  const TAnalysisSettings current = ReadSettings();
  // A role named in the file becomes the maps of it that load, each checked
  // on its own so that one missing map does not stop the others.
  const auto loadRole = [&](bool binary, const QStringList& files, const char* key) {
    const QString prefix = QStringLiteral("%1: [Maps] %2: ").arg(source, QLatin1String(key));
    tCollectingReporter reporter(problems, prefix);
    fMaps.AllMaps.clear();
    (binary ? fMaps.BinaryMaps : fMaps.QuantitativeMaps).clear();
    for (const QString& f : files) {
      const QString error = CaughtError([&] {
        if (binary)
          fMaps.AddBinaryMaps({Std(f)}, reporter);
        else
          fMaps.AddQuantitativeMaps({Std(f)}, reporter);
      });
      if (!error.isEmpty()) problems << prefix + error;
    }
  };
  if (c.BinaryMaps != now.BinaryMaps) loadRole(true, c.BinaryMaps, "Binary");
  if (c.QuantitativeMaps != now.QuantitativeMaps)
    loadRole(false, c.QuantitativeMaps, "Quantitative");
  if (c.TopographyMap != now.TopographyMap) {
    const QString prefix = source + QStringLiteral(": [Maps] Topography: ");
    tCollectingReporter reporter(problems, prefix);
    fMaps.AllMaps.clear();
    fMaps.TopographyMap.reset();
    if (!c.TopographyMap.isEmpty()) {
      const QString error =
          CaughtError([&] { fMaps.LoadTopographyMap(Std(c.TopographyMap), reporter); });
      if (!error.isEmpty()) problems << prefix + error;
    }
  }
  fMaps.BuildMapList();
  FillMapLists();

  // Files that are gone leave the boxes as they were.
  TAnalysisSettings s = read;
  const auto keep = [&](std::string& file, const std::string& was, const char* key) {
    if (file.empty() || QFileInfo::exists(Q(file))) return;
    problems << QStringLiteral("%1: %2: %3 does not exist; the value was left as it was.")
                    .arg(source, QLatin1String(key), Native(Q(file)));
    file = was;
  };
  keep(s.DataFile, current.DataFile, "[Data] File");
  keep(s.FrictionMapFile, current.FrictionMapFile, "[Paths] FrictionMap");
  // A friction map is checked against the maps as when it is picked.
  if (!s.FrictionMapFile.empty() && s.FrictionMapFile != current.FrictionMapFile) {
    const QString prefix = source + QStringLiteral(": [Paths] FrictionMap: ");
    tCollectingReporter reporter(problems, prefix);
    bool accepted = false;
    const QString error =
        CaughtError([&] { accepted = fMaps.CheckFrictionMap(s.FrictionMapFile, reporter); });
    if (!error.isEmpty()) problems << prefix + error;
    if (!accepted) s.FrictionMapFile = current.FrictionMapFile;
  }
  s.NameOnCommandLine = current.NameOnCommandLine;
  fMatrixParameters->WriteChoices(c);
  WriteSettings(s);
  if (s.DataStructure == dsLocationSequence && !s.DataFile.empty() &&
      Q(s.DataFile) != fSequenceFile) {
    fSequenceFile = Q(s.DataFile);
    const QString error = CaughtError([&] { ReadLocationSequence(s.DataFile, fSequence); });
    if (!error.isEmpty()) problems << source + QStringLiteral(": [Data] File: ") + error;
  }
  UpdateControls();
}

void TdlgConnectivity::ShowSettingsProblems(const QStringList& problems) {
  if (problems.isEmpty()) return;
  ShowWarningBox(QStringLiteral("These settings could not be applied; the others were:\n\n") +
                 problems.join(QLatin1Char('\n')));
}

void TdlgConnectivity::RestoreSession() {
  const auto ini = UserSettings();
  if (ini->contains(QLatin1String(kGeometryKey)) &&
      restoreGeometry(ini->value(QLatin1String(kGeometryKey)).toByteArray()))
    SetCentreAtFirstShow(false);
  for (const char* kind : kFolderKinds)
    if (const QString f = ini->value(FolderKey(QLatin1String(kind))).toString(); !f.isEmpty())
      fLastFolders[QLatin1String(kind)] = f;
  TAnalysisSettings s = ReadSettings();
  tWindowChoices c = ReadChoices();
  QStringList problems = ReadStudySettings(*ini, s, c);
  if (ini->status() == QSettings::NoError) ApplyStudy(s, c, Native(ini->fileName()), problems);
  fRestoreProblems = problems;
}

void TdlgConnectivity::SaveSession() {
  if (!fRemember) return;
  const auto ini = UserSettings();
  WriteStudySettings(*ini, ReadSettings(), ReadChoices());
  ini->setValue(QLatin1String(kGeometryKey), saveGeometry());
  for (const auto& [kind, folder] : fLastFolders) ini->setValue(FolderKey(kind), folder);
  ini->setValue(QLatin1String(kWorkDirKey), WorkDir());
  ini->sync();
  if (ini->status() != QSettings::NoError)
    ShowSaveError(
        QStringLiteral("The settings could not be saved to %1.").arg(Native(ini->fileName())));
}

QString TdlgConnectivity::SaveSettingsFile(const QString& file) {
  // QSettings writes into a scratch file; the bytes then replace the target
  // whole, as every file the program writes: an old file is neither merged
  // into nor left half written.
  const QString failed = QStringLiteral("%1 could not be written.").arg(Native(file));
  QTemporaryDir scratch;
  if (!scratch.isValid()) return failed;
  const QString written = scratch.filePath(QStringLiteral("settings.ini"));
  {
    QSettings ini(written, QSettings::IniFormat);
    WriteStudySettings(ini, ReadSettings(), ReadChoices());
    ini.sync();
    if (ini.status() != QSettings::NoError) return failed;
  }
  QFile in(written);
  if (!in.open(QIODevice::ReadOnly)) return failed;
  const QByteArray bytes = in.readAll();
  return CaughtError([&] {
    WriteFileAtomically(
        Std(Native(file)),
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  });
}

void TdlgConnectivity::OpenSettingsFile(const QString& file) {
  if (Running()) return;
  const QFileInfo info(file);
  if (!info.isFile() || !info.isReadable()) {
    ShowErrorBox(QStringLiteral("%1 cannot be opened.").arg(Native(file)));
    return;
  }
  QSettings ini(file, QSettings::IniFormat);
  TAnalysisSettings s = ReadSettings();
  tWindowChoices c = ReadChoices();
  QStringList problems = ReadStudySettings(ini, s, c);
  if (ini.status() != QSettings::NoError) {
    ShowErrorBox(problems.join(QLatin1Char('\n')));
    return;
  }
  bool study = false;
  for (const QString& group : ini.childGroups()) study = study || kStudyGroups.contains(group);
  if (!study) {
    ShowErrorBox(
        QStringLiteral("%1 holds no Stravex settings; nothing was changed.").arg(Native(file)));
    return;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ApplyStudy(s, c, Native(file), problems);
  QApplication::restoreOverrideCursor();
  ShowSettingsProblems(problems);
}

void TdlgConnectivity::SaveSettingsAsClick() {
  const QStringList names = PickFiles(tFileDialog::SaveSettings);
  if (!names.isEmpty()) ShowError(SaveSettingsFile(names.first()));
}

void TdlgConnectivity::OpenSettingsClick() {
  if (Running()) return;
  const QStringList names = PickFiles(tFileDialog::OpenSettings);
  if (!names.isEmpty()) OpenSettingsFile(names.first());
}

} // namespace stravex::gui
