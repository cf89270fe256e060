#include "StudySettings.h"

#include "paths/CostPathDecl.h"

#include <QDir>
#include <QFileInfo>

#include <optional>
#include <vector>

namespace stravex::gui {

namespace {

const std::array<const char*, 2> kStructureNames = {"Population matrix", "Location sequence"};
const std::array<const char*, 3> kDelaunayNames = {"None", "Include", "Restrict"};
// In the order of the Direction values 0, +1, -1.
const std::array<const char*, 3> kMovementNames = {"Both ways", "Uphill movement only",
                                                   "Downhill movement only"};

int MovementIndex(int32_t direction) { return direction > 0 ? 1 : direction < 0 ? 2 : 0; }
int32_t DirectionOf(int index) { return index == 1 ? 1 : index == 2 ? -1 : 0; }

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A list without files as an empty value: QSettings would write "@Invalid()".
QVariant FileList(const QStringList& files) {
  return files.isEmpty() ? QVariant(QString()) : QVariant(files);
}

class tReader {
public:
  explicit tReader(QSettings& ini) : fIni(ini) {}
  QStringList Problems;

  // The value as text, absent when the key is not in the file.
  std::optional<QString> Text(const char* key) const {
    if (!fIni.contains(QLatin1String(key))) return std::nullopt;
    const QVariant v = fIni.value(QLatin1String(key));
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
  }

  void Bad(const char* key, const QString& value, const QString& allowed) {
    Problems << QStringLiteral("%1: %2: \"%3\" is not %4; the value was left as it was.")
                    .arg(QDir::toNativeSeparators(fIni.fileName()), Where(key), value, allowed);
  }

  void Int(const char* key, int32_t& v, tIntRange range) {
    const auto t = Text(key);
    if (!t) return;
    bool ok = false;
    const qlonglong n = t->trimmed().toLongLong(&ok);
    if (ok && range.Contains(n))
      v = static_cast<int32_t>(n);
    else
      Bad(key, *t, QStringLiteral("a whole number from %1 to %2").arg(range.Min).arg(range.Max));
  }

  void Bool(const char* key, bool& v) {
    const auto t = Text(key);
    if (!t) return;
    const QString b = t->trimmed().toLower();
    if (b == QLatin1String("true") || b == QLatin1String("1") || b == QLatin1String("yes"))
      v = true;
    else if (b == QLatin1String("false") || b == QLatin1String("0") || b == QLatin1String("no"))
      v = false;
    else
      Bad(key, *t, QStringLiteral("true or false"));
  }

  // One of names, case ignored; index receives its position.
  template <typename Names>
  bool Choice(const char* key, const Names& names, int& index) {
    const auto t = Text(key);
    if (!t) return false;
    QStringList all;
    for (std::size_t i = 0; i < names.size(); ++i) {
      all << Name(names[i]);
      if (t->trimmed().compare(all.back(), Qt::CaseInsensitive) == 0) {
        index = static_cast<int>(i);
        return true;
      }
    }
    Bad(key, *t, QStringLiteral("one of ") + all.join(QStringLiteral(", ")));
    return false;
  }

  void String(const char* key, std::string& v) {
    if (const auto t = Text(key)) v = t->toStdString();
  }

  // Kept as text, as the window's boxes keep it: only the characters a
  // number is typed with.
  void Number(const char* key, std::string& v) {
    const auto t = Text(key);
    if (!t) return;
    for (const QChar ch : *t)
      if (!ch.isDigit() && !QStringLiteral("+-.Ee").contains(ch))
        return Bad(key, *t, QStringLiteral("a number"));
    v = t->toStdString();
  }

  QString File(const QString& name) const {
    if (name.isEmpty() || QDir::isAbsolutePath(name)) return name;
    return QFileInfo(fIni.fileName()).absoluteDir().absoluteFilePath(name);
  }

  void FileName(const char* key, std::string& v) {
    if (const auto t = Text(key)) v = File(*t).toStdString();
  }
  void FileName(const char* key, QString& v) {
    if (const auto t = Text(key)) v = File(*t);
  }
  void Files(const char* key, QStringList& v) {
    if (!fIni.contains(QLatin1String(key))) return;
    QStringList files;
    for (const QString& f : fIni.value(QLatin1String(key)).toStringList())
      if (!f.trimmed().isEmpty()) files << File(f.trimmed());
    v = files;
  }

private:
  static QString Name(const char* n) { return QLatin1String(n); }
  static QString Name(const std::string& n) { return Q(n); }
  static QString Where(const char* key) {
    const QString k = QLatin1String(key);
    const qsizetype slash = k.indexOf(QLatin1Char('/'));
    return QStringLiteral("[%1] %2").arg(k.left(slash), k.mid(slash + 1));
  }

  QSettings& fIni;
};

} // namespace

void WriteStudySettings(QSettings& ini, const TAnalysisSettings& s, const tWindowChoices& c) {
  const auto at = [](const auto& names, int i) {
    return QString::fromStdString(std::string(names[static_cast<std::size_t>(i)]));
  };
  ini.setValue("Data/Structure", at(kStructureNames, s.DataStructure));
  ini.setValue("Data/File", Q(s.DataFile));
  ini.setValue("Maps/Binary", FileList(c.BinaryMaps));
  ini.setValue("Maps/Quantitative", FileList(c.QuantitativeMaps));
  ini.setValue("Maps/Topography", c.TopographyMap);
  ini.setValue("Paths/Algorithm", at(kConnectivityNames, s.Connectivity));
  ini.setValue("Paths/Width", s.PathWidth);
  ini.setValue("Paths/Seed", s.Seed);
  ini.setValue("Paths/Minimise", at(MinimiseCriteria, s.Minimise));
  ini.setValue("Paths/FrictionMap", Q(s.FrictionMapFile));
  ini.setValue("Paths/CorridorMap", Q(s.CorridorMapName));
  ini.setValue("Paths/FrictionWeight", Q(s.FrictionWeight));
  ini.setValue("Paths/LengthWeight", Q(s.LengthWeight));
  ini.setValue("Paths/OneMapPerPair", s.OneMapPerPair);
  ini.setValue("Project/Name", Q(s.ProjectName));
  ini.setValue("Matrix/Delaunay", at(kDelaunayNames, s.DelaunayUse));
  ini.setValue("Matrix/PairDistanceThreshold", s.PairDistanceThreshold);
  ini.setValue("Matrix/PairMatrices", s.PairMatrices);
  ini.setValue("Matrix/Movement", at(kMovementNames, MovementIndex(s.Direction)));
  ini.setValue("Matrix/ElevationTolerance", Q(s.ElevationTolerance));
  ini.setValue("Matrix/CellRule", at(kCellRuleNames, s.CellRule));
  ini.setValue("Sequence/IgnoreShorterThan", s.IgnoreTime);
  ini.setValue("Sequence/IgnoreUnit", at(kIgnoreUnitNames, s.IgnoreUnit));
  ini.setValue("Sequence/Bootstraps", s.Bootstraps);
  ini.setValue("Sequence/DistanceDistribution", s.DistanceDistribution);
  ini.setValue("Output/SamplePoints", s.EchoSamplePoints);
  ini.setValue("Output/GeneticalMatrices", s.EchoMatrices);
  ini.setValue("Output/ConnectivityDataset", s.ConnectivityDataset);
  ini.setValue("Output/GeographicDistance", s.IncludeGeographicDistance);
  ini.setValue("Output/EcoDistanceMatrix", s.EcoDistanceMatrix);
  ini.setValue("Output/FitModel", c.FitModel);
  ini.setValue("Output/FrictionMap", c.FrictionMapOutput);
  ini.setValue("Output/KeepTemporaryMaps", c.KeepTemporaryMaps);
  ini.setValue("Output/JackKnifeResults", c.JackKnifeResults);
  ini.setValue("Model/FittingFunction", at(kFittingFunctionNames, s.FittingFunction));
  ini.setValue("Model/Stepwise", s.Stepwise);
  ini.setValue("Model/FrequencyThreshold", s.FrequencyThreshold);
  ini.setValue("Model/SignificantOnly", s.SignificantOnly);
  ini.setValue("Model/SignificanceThreshold", s.SignificanceThreshold);
  ini.setValue("Model/Replicates", s.Replicates);
  ini.setValue("Model/Iterations", s.Iterations);
  ini.setValue("Model/JackKnife", c.JackKnife);
  ini.setValue("Model/Partitions", c.Partitions);
}

QStringList ReadStudySettings(QSettings& ini, TAnalysisSettings& s, tWindowChoices& c) {
  if (ini.status() != QSettings::NoError)
    return {QStringLiteral("%1: not a readable settings file; nothing was changed.")
                .arg(QDir::toNativeSeparators(ini.fileName()))};
  tReader r(ini);
  int i = 0;
  if (r.Choice("Data/Structure", kStructureNames, i)) s.DataStructure = TDataStructure(i);
  r.FileName("Data/File", s.DataFile);
  r.Files("Maps/Binary", c.BinaryMaps);
  r.Files("Maps/Quantitative", c.QuantitativeMaps);
  r.FileName("Maps/Topography", c.TopographyMap);
  if (r.Choice("Paths/Algorithm", kConnectivityNames, i))
    s.Connectivity = TConnectivityAlgorithm(i);
  r.Int("Paths/Width", s.PathWidth, kPathWidthRange);
  s.PathWidth = MakeOdd(s.PathWidth);
  r.Int("Paths/Seed", s.Seed, kSeedRange);
  if (r.Choice("Paths/Minimise", MinimiseCriteria, i)) s.Minimise = i;
  r.FileName("Paths/FrictionMap", s.FrictionMapFile);
  r.String("Paths/CorridorMap", s.CorridorMapName);
  r.Number("Paths/FrictionWeight", s.FrictionWeight);
  r.Number("Paths/LengthWeight", s.LengthWeight);
  r.Bool("Paths/OneMapPerPair", s.OneMapPerPair);
  r.String("Project/Name", s.ProjectName);
  if (r.Choice("Matrix/Delaunay", kDelaunayNames, i)) s.DelaunayUse = TDelaunayUse(i);
  r.Int("Matrix/PairDistanceThreshold", s.PairDistanceThreshold, kPairDistanceThresholdRange);
  r.Bool("Matrix/PairMatrices", s.PairMatrices);
  if (r.Choice("Matrix/Movement", kMovementNames, i)) s.Direction = DirectionOf(i);
  r.Number("Matrix/ElevationTolerance", s.ElevationTolerance);
  if (r.Choice("Matrix/CellRule", kCellRuleNames, i)) s.CellRule = tCellRule(i);
  r.Int("Sequence/IgnoreShorterThan", s.IgnoreTime, kIgnoreTimeRange);
  if (r.Choice("Sequence/IgnoreUnit", kIgnoreUnitNames, i)) s.IgnoreUnit = i;
  r.Int("Sequence/Bootstraps", s.Bootstraps, kBootstrapsRange);
  r.Bool("Sequence/DistanceDistribution", s.DistanceDistribution);
  r.Bool("Output/SamplePoints", s.EchoSamplePoints);
  r.Bool("Output/GeneticalMatrices", s.EchoMatrices);
  r.Bool("Output/ConnectivityDataset", s.ConnectivityDataset);
  r.Bool("Output/GeographicDistance", s.IncludeGeographicDistance);
  r.Bool("Output/EcoDistanceMatrix", s.EcoDistanceMatrix);
  r.Bool("Output/FitModel", c.FitModel);
  r.Bool("Output/FrictionMap", c.FrictionMapOutput);
  r.Bool("Output/KeepTemporaryMaps", c.KeepTemporaryMaps);
  r.Bool("Output/JackKnifeResults", c.JackKnifeResults);
  if (r.Choice("Model/FittingFunction", kFittingFunctionNames, i)) s.FittingFunction = i;
  r.Bool("Model/Stepwise", s.Stepwise);
  r.Int("Model/FrequencyThreshold", s.FrequencyThreshold, kFrequencyThresholdRange);
  r.Bool("Model/SignificantOnly", s.SignificantOnly);
  r.Int("Model/SignificanceThreshold", s.SignificanceThreshold, kSignificanceThresholdRange);
  r.Int("Model/Replicates", s.Replicates, kReplicatesRange);
  r.Int("Model/Iterations", s.Iterations, kIterationsRange);
  r.Bool("Model/JackKnife", c.JackKnife);
  int32_t partitions = c.Partitions;
  r.Int("Model/Partitions", partitions, tIntRange{2, 100});
  c.Partitions = partitions;
  return r.Problems;
}

} // namespace stravex::gui
