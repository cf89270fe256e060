#pragma once
// The Input page: data structure, environmental maps, data file,
// connectivity algorithm and its parameters, project name.
#include "WindowState.h"
#include "analysis/AnalysisSettings.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace stravex::gui {

// The boxes whose context menu offers "View map".
enum class tMapBox { None, Binary, Quantitative, Topography, Corridor };

class tInputPage : public QWidget {
  Q_OBJECT
public:
  explicit tInputPage(QWidget* parent = nullptr);

  // Its part of the settings.
  void ReadSettings(TAnalysisSettings& s) const;
  void WriteSettings(const TAnalysisSettings& s);
  // What the enabling rules read from this page.
  void ReadInputs(tWindowInputs& in) const;
  void ApplyView(const tWindowView& v);

  TDataStructure DataStructure() const;
  QString DataFile() const;
  void SetDataFile(const QString& file);
  void SetFrictionMap(const QString& file);
  // The default project name of the chosen algorithm.
  void SetDefaultProjectName();
  // The default corridor map name of the chosen criterion.
  void SetDefaultCorridorName();
  // The maps of each role as (name, file) pairs: the name shown, the file
  // as the item's tooltip.
  void ShowMapNames(const QList<QPair<QString, QString>>& binary,
                    const QList<QPair<QString, QString>>& quantitative, const QString& topography);
  int BinaryIndex() const;
  int QuantitativeIndex() const;
  tMapBox MapBoxOf(const QWidget* source) const;

signals:
  void LoadBinaryRequested();
  void LoadQuantitativeRequested();
  // Maps added after those of the list, which stay.
  void AddBinaryRequested();
  void AddQuantitativeRequested();
  void LoadTopographyRequested();
  void BrowseDataRequested();
  void ViewDataRequested();
  void BrowseFrictionRequested();
  // A value the enabling rules read has changed.
  void RulesInputChanged();
  void MapMenuRequested(QWidget* source, const QPoint& at);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void Build();
  void Connect();
  // The user switched the data structure: the data file shown is the one
  // last used with it (a population file is no location sequence).
  void SwitchDataStructure();

  QRadioButton *rbMatrix, *rbSequence;
  QComboBox *cbVarBinary, *cbVarQuant;
  QPushButton *btVarBinary, *btVarQuant, *btVarTopo;
  QPushButton *btAddBinary, *btAddQuant;
  QLineEdit* edVarTopo;
  QLineEdit* edData;
  QPushButton *btBrowseData, *btViewData;
  QComboBox* cbDistance;
  QLabel* lblFirstFriction;
  QLineEdit* edFirstFriction;
  QPushButton* btBrowseFirst;
  QLabel* lblPath;
  QSpinBox* sePathWidth;
  QLabel* lblSeed;
  QSpinBox* seLeastCostSeed;
  QLabel* lblMinimise;
  QComboBox* cbMinimise;
  QLabel* lblCorridorMap;
  QLineEdit* edCorridorMap;
  QLabel *lblWFriction, *lblWLength;
  QLineEdit *edWFriction, *edWLength;
  QCheckBox* ckOneMapPerPair;
  QLineEdit* edOutput;
  // The data structure the data file box belongs to, and the file last used
  // with the other one.
  TDataStructure fShownStructure = dsPopulationMatrix;
  QString fOtherDataFile;
};

} // namespace stravex::gui
