// Chart exports: the data file byte for byte, every picture format (metafiles
// read back by independent converters), and refused extensions.
#include <QApplication>
#include <QComboBox>
#include <QDomDocument>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

#include "ChartExport.h"
#include "GraphicOps.h"
#include "base/Errors.h"

using namespace stravex::gui;

namespace {

class ChartExport : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(fDir.isValid());
    fChart.reset(new tGraphicChart(nullptr, "Two series", "Easting", "Northing"));
    fChart->setAttribute(Qt::WA_DeleteOnClose, false);
    fChart->AddPoints("first", {{1, 2}, {3, 4}, {-0.5, 1e10}});
    fChart->AddLine("second", {{0, 0}, {2, 1}, {4, 0.25}});
    fChart->Metadata << "made by a test"
                     << "";
    QApplication::processEvents();
  }
  QString Path(const QString& name) const { return fDir.filePath(name); }
  static QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  // Runs a converter; false with a reason when it fails or leaves no SVG with shapes.
  static ::testing::AssertionResult
  ConvertsToSvgWithShapes(const QString& program, const QStringList& args, const QString& svgPath) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
      return ::testing::AssertionFailure()
             << program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
    const QByteArray svg = Read(svgPath);
    QDomDocument doc;
    if (!doc.setContent(svg))
      return ::testing::AssertionFailure() << "not XML: " << svg.left(200).toStdString();
    int shapes = 0;
    for (const char* tag : {"path", "polyline", "line", "ellipse", "circle", "rect", "polygon"})
      shapes += doc.elementsByTagName(tag).count();
    const int texts = doc.elementsByTagName("text").count();
    if (shapes < 6 || texts < 3)
      return ::testing::AssertionFailure()
             << shapes << " shapes and " << texts << " texts in " << svg.left(400).toStdString();
    return ::testing::AssertionSuccess();
  }

  QTemporaryDir fDir;
  std::unique_ptr<tGraphicChart> fChart;
};

TEST_F(ChartExport, DataFileBytes) {
  SaveChartData(*fChart, Path("data.txt"));
  const QByteArray expected =
      "first\r\n"
      " 1.00000000000000E+0000\t 3.00000000000000E+0000\t-5.00000000000000E-0001\t\r\n"
      " 2.00000000000000E+0000\t 4.00000000000000E+0000\t 1.00000000000000E+0010\t\r\n"
      "second\r\n"
      " 0.00000000000000E+0000\t 2.00000000000000E+0000\t 4.00000000000000E+0000\t\r\n"
      " 0.00000000000000E+0000\t 1.00000000000000E+0000\t 2.50000000000000E-0001\t\r\n"
      "made by a test\r\n"
      "\r\n";
  EXPECT_EQ(Read(Path("data.txt")), expected);
  EXPECT_THROW(SaveChartData(*fChart, Path("missing/folder/data.txt")), stravex::EInOutError);
}

TEST_F(ChartExport, BitmapsHaveTheChartSize) {
  for (const char* name : {"chart.bmp", "chart.PNG"}) {
    SaveChartPicture(*fChart, Path(name));
    const QImage image(Path(name));
    ASSERT_FALSE(image.isNull()) << name;
    EXPECT_EQ(image.size(), QSize(400, 400)) << name;
    // Not a blank picture.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 4)
      for (int x = 0; x < image.width(); x += 4) colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 3) << name;
  }
}

TEST_F(ChartExport, SvgIsVector) {
  SaveChartPicture(*fChart, Path("chart.svg"));
  QDomDocument doc;
  ASSERT_TRUE(doc.setContent(Read(Path("chart.svg"))));
  EXPECT_EQ(doc.documentElement().tagName(), "svg");
  EXPECT_GT(doc.elementsByTagName("path").count() + doc.elementsByTagName("polyline").count(), 3);
  EXPECT_EQ(doc.elementsByTagName("image").count(), 0);
}

TEST_F(ChartExport, EnhancedMetafileReadsBack) {
  SaveChartPicture(*fChart, Path("chart.EMF"));
  const QByteArray emf = Read(Path("chart.EMF"));
  ASSERT_GT(emf.size(), 88);
  EXPECT_EQ(emf.mid(40, 4), QByteArray(" EMF")); // signature of the header record
  const QString tool = QStandardPaths::findExecutable("emf2svg-conv");
  if (tool.isEmpty()) GTEST_SKIP() << "emf2svg-conv is not installed";
  EXPECT_TRUE(ConvertsToSvgWithShapes(tool, {"-i", Path("chart.EMF"), "-o", Path("emf.svg")},
                                      Path("emf.svg")));
}

TEST_F(ChartExport, WindowsMetafileReadsBack) {
  fChart->SelectSeries(1);
  SaveChartPicture(*fChart, Path("chart.wmf"));
  const QByteArray wmf = Read(Path("chart.wmf"));
  ASSERT_GT(wmf.size(), 40);
  EXPECT_EQ(wmf.left(4), QByteArray("\xD7\xCD\xC6\x9A", 4)); // placeable key
  // Metafile header: size in words matches the file (less the 22-byte placeable header).
  const auto u32 = [&](int at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(wmf[at]) |
                                 static_cast<uint8_t>(wmf[at + 1]) << 8 |
                                 static_cast<uint8_t>(wmf[at + 2]) << 16 |
                                 static_cast<uint32_t>(static_cast<uint8_t>(wmf[at + 3])) << 24);
  };
  EXPECT_EQ(u32(22 + 6) * 2, static_cast<uint32_t>(wmf.size() - 22));
  EXPECT_EQ(wmf.right(6), QByteArray("\x03\x00\x00\x00\x00\x00", 6)); // META_EOF
  const QString tool = QStandardPaths::findExecutable("wmf2svg");
  if (tool.isEmpty()) GTEST_SKIP() << "wmf2svg is not installed";
  EXPECT_TRUE(
      ConvertsToSvgWithShapes(tool, {"-o", Path("wmf.svg"), Path("chart.wmf")}, Path("wmf.svg")));
}

TEST_F(ChartExport, OtherExtensionsAreRefusedBeforeWriting) {
  for (const char* name : {"chart.jpg", "chart", "chart.emf.txt"}) {
    try {
      SaveChartPicture(*fChart, Path(name));
      ADD_FAILURE() << name << " accepted";
    } catch (const stravex::EInOutError& e) {
      EXPECT_STREQ(e.what(), "Unsupported format");
    }
    EXPECT_FALSE(QFile::exists(Path(name))) << name;
  }
}

} // namespace

// A picture name typed without an extension takes the type the user picked
// in the dialog, not always the first default.
TEST(ChartSaveDialog, FollowsTheChosenPictureType) {
  EXPECT_EQ(SuffixOfFilter(QStringLiteral("PNG image (*.png)")), QStringLiteral("png"));
  EXPECT_EQ(SuffixOfFilter(QStringLiteral("All (*.*)")), QString());
  EXPECT_EQ(SuffixOfFilter(QStringLiteral("Maps (*.rst *.tif)")), QString());

  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilter(QStringLiteral("Windows Enhanced Metafile (*.emf);;PNG image (*.png)"));
  FollowFilterSuffix(dialog, QStringLiteral("Windows Enhanced Metafile (*.emf)"));
  EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("emf"));
  auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
  ASSERT_NE(types, nullptr);
  // As the user picks it: the box changes, then reports the choice.
  types->setCurrentIndex(1);
  emit types->activated(1);
  emit types->textActivated(types->currentText());
  EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("PNG image (*.png)"));
  EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("png"));
}
