#pragma once
// The Parameters page of a population matrix: Delaunay triangulation, extra
// files, topography, cell rule, and the groups kept hidden that carry the
// reserved settings (output echo, iterations, model fit).
#include "WindowState.h"
#include "analysis/AnalysisSettings.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace stravex::gui {

struct tWindowChoices;

class tMatrixParametersPage : public QWidget {
  Q_OBJECT
public:
  explicit tMatrixParametersPage(QWidget* parent = nullptr);

  void ReadSettings(TAnalysisSettings& s) const;
  void WriteSettings(const TAnalysisSettings& s);
  void ReadInputs(tWindowInputs& in) const;
  void ApplyView(const tWindowView& v);
  void SetCellRule(int rule);
  // The hidden check boxes no run reads, for the remembered settings.
  void ReadChoices(tWindowChoices& c) const;
  void WriteChoices(const tWindowChoices& c);

signals:
  void RulesInputChanged();
  void CellRuleChanged(int rule);

private:
  QGroupBox* grpOutput;
  QCheckBox *ckSamplePoints, *ckGeneticalMatrices, *ckVariablesMatrix, *ckGeographicDist,
      *ckEcoDistanceMatrix, *ckFitModel, *ckFrictionMap, *ckTemporary, *ckJackKnifeResults;
  QRadioButton *rbDelaunayNone, *rbDelaunayInclude, *rbDelaunayOnly;
  QSpinBox* sePairDistanceThreshold;
  QCheckBox* ckPairMatrices;
  QGroupBox* grpTopography;
  QRadioButton *rbUphill, *rbDownhill, *rbBothWays;
  QLineEdit* edElevationTolerance;
  QComboBox* cbCellRule;
  QGroupBox* grpParameters;
  QLabel *lblThreshold, *lblIterations, *lblReplicates;
  QSpinBox *seThreshold, *seIterations, *seReplicates;
  QGroupBox* grpModelFit;
  QComboBox* cbFitting;
  QCheckBox *ckStepwise, *ckGeneticSig, *ckJackKnife;
  QLabel *lblSignificance, *lblJackknife;
  QSpinBox *seSignificance, *seJackknife;
};

} // namespace stravex::gui
