// The settings as INI keys: readable values, what a read keeps, and the
// messages of values it cannot use.
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "StudySettings.h"

using namespace stravex;
using namespace stravex::gui;

namespace {

QString Write(const QTemporaryDir& dir, const char* name, const QByteArray& text) {
  const QString file = dir.filePath(QLatin1String(name));
  QFile f(file);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(text);
  return file;
}

TEST(StudySettings, WrittenValuesReadBackAndEmptyListsStayReadable) {
  QTemporaryDir dir;
  TAnalysisSettings s;
  s.Connectivity = caExactLeastCost;
  s.Direction = 1;
  s.DelaunayUse = duInclude;
  s.CellRule = crRounded;
  s.FrictionWeight = "1e-2";
  tWindowChoices c;
  c.QuantitativeMaps = {dir.filePath("a.rst")};
  c.Partitions = 4;
  const QString file = dir.filePath("s.ini");
  {
    QSettings ini(file, QSettings::IniFormat);
    WriteStudySettings(ini, s, c);
  }
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray text = f.readAll();
  EXPECT_TRUE(text.contains("Algorithm=Exact least-cost path\n"));
  EXPECT_TRUE(text.contains("Movement=Uphill movement only\n"));
  EXPECT_TRUE(text.contains("Delaunay=Include\n"));
  EXPECT_TRUE(text.contains("Binary=\n")); // not "@Invalid()"
  EXPECT_FALSE(text.contains("NameOnCommandLine"));

  QSettings ini(file, QSettings::IniFormat);
  TAnalysisSettings back;
  tWindowChoices choices;
  choices.BinaryMaps = {"old.rst"};
  EXPECT_TRUE(ReadStudySettings(ini, back, choices).isEmpty());
  EXPECT_TRUE(back == s);
  EXPECT_TRUE(choices == c);
}

TEST(StudySettings, BadValuesAreNamedAndKeptAbsentKeysKeepTheirValues) {
  QTemporaryDir dir;
  const QString file =
      Write(dir, "study.ini",
            "[Paths]\nAlgorithm=least-COST path\nWidth=4\nSeed=-3\nMinimise=Friction max\n"
            "FrictionWeight=1.5 m\nFrictionMap=maps/friction.rst\n"
            "[Sequence]\nBootstraps=20000\nDistanceDistribution=YES\n"
            "[Maps]\nBinary=a.rst, /abs/b.rst\n[Model]\nPartitions=1\n");
  QSettings ini(file, QSettings::IniFormat);
  TAnalysisSettings s;
  s.Seed = 55;
  tWindowChoices c;
  c.TopographyMap = "dem.rst";
  const QStringList problems = ReadStudySettings(ini, s, c);
  const QString at = QDir::toNativeSeparators(file) + ": ";
  ASSERT_EQ(problems.size(), 5) << problems.join('\n').toStdString();
  EXPECT_EQ(problems[0], at + "[Paths] Seed: \"-3\" is not a whole number from 0 to 9999999; the "
                              "value was left as it was.");
  EXPECT_TRUE(problems[1].startsWith(at + "[Paths] Minimise: \"Friction max\" is not one of "
                                          "Friction sum, Friction mean, Friction SD"));
  EXPECT_TRUE(problems[2].startsWith(at + "[Paths] FrictionWeight: \"1.5 m\" is not a number"));
  EXPECT_TRUE(problems[3].startsWith(at + "[Sequence] Bootstraps: \"20000\""));
  EXPECT_TRUE(problems[4].startsWith(at + "[Model] Partitions: \"1\""));
  // Names are matched whatever their case; a width is made odd as the window does.
  EXPECT_EQ(s.Connectivity, caLeastCostPath);
  EXPECT_EQ(s.PathWidth, 5);
  EXPECT_EQ(s.Seed, 55);
  EXPECT_EQ(s.Minimise, 0);
  EXPECT_EQ(s.FrictionWeight, "1");
  EXPECT_EQ(s.Bootstraps, 100);
  EXPECT_TRUE(s.DistanceDistribution);
  EXPECT_EQ(c.Partitions, 10);
  // Relative names are resolved from the folder of the file.
  EXPECT_EQ(s.FrictionMapFile, dir.filePath("maps/friction.rst").toStdString());
  EXPECT_EQ(c.BinaryMaps, (QStringList{dir.filePath("a.rst"), "/abs/b.rst"}));
  EXPECT_EQ(c.TopographyMap, "dem.rst");
  EXPECT_EQ(s.ProjectName, TAnalysisSettings().ProjectName);
}

} // namespace
