#include "MatrixParametersPage.h"

#include "PageKit.h"
#include "StudySettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <memory>
#include <vector>

namespace stravex::gui {

using namespace kit;

tMatrixParametersPage::tMatrixParametersPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("tabParametersMatrix"));
  auto* v = new QVBoxLayout(this);

  grpOutput = Named(new QGroupBox(QStringLiteral("Output")), "grpOutput");
  auto* go = new QVBoxLayout(grpOutput);
  ckSamplePoints = Named(new QCheckBox(QStringLiteral("&Sample points")), "ckSamplePoints");
  ckGeneticalMatrices = Named(new QCheckBox(QStringLiteral("&Genetical matrices")),
                              "ckGeneticalMatrices");
  ckGeneticalMatrices->setChecked(true);
  ckVariablesMatrix = Named(new QCheckBox(QStringLiteral("&Connectivity dataset")),
                            "ckVariablesMatrix");
  ckVariablesMatrix->setChecked(true);
  ckGeographicDist = Named(new QCheckBox(QStringLiteral("&Include geographic distance")),
                           "ckGeographicDist");
  ckGeographicDist->setChecked(true);
  ckEcoDistanceMatrix = Named(new QCheckBox(QStringLiteral("&Ecological distance matrix")),
                              "ckEcoDistanceMatrix");
  ckFitModel = Named(new QCheckBox(QStringLiteral("&Fit model")), "ckFitModel");
  ckFrictionMap = Named(new QCheckBox(QStringLiteral("&Friction map")), "ckFrictionMap");
  ckTemporary = Named(new QCheckBox(QStringLiteral("&Keep temporary friction maps")),
                      "ckTemporary");
  ckJackKnifeResults = Named(new QCheckBox(QStringLiteral("&Jack-knife replicate results")),
                             "ckJackKnifeResults");
  for (QCheckBox* c :
       {ckSamplePoints, ckGeneticalMatrices, ckVariablesMatrix, ckGeographicDist,
        ckEcoDistanceMatrix, ckFitModel, ckFrictionMap, ckTemporary, ckJackKnifeResults})
    go->addWidget(c);
  grpOutput->setVisible(false);
  v->addWidget(grpOutput);

  auto* grpDel = new QGroupBox(QStringLiteral("Delaunay triangulation"));
  auto* gd = new QGridLayout(grpDel);
  rbDelaunayNone = Named(new QRadioButton(QStringLiteral("&None")), "rbDelaunayNone");
  rbDelaunayNone->setToolTip(QStringLiteral("No Delaunay triangulation computed"));
  rbDelaunayNone->setChecked(true);
  rbDelaunayInclude = Named(new QRadioButton(QStringLiteral("&Include")), "rbDelaunayInclude");
  rbDelaunayInclude->setToolTip(QStringLiteral("Include Delaunay triangulation information"));
  rbDelaunayOnly = Named(new QRadioButton(QStringLiteral("&Restrict")), "rbDelaunayOnly");
  rbDelaunayOnly->setToolTip(QStringLiteral(
      "Restrict computation to those pairs that are linked in the Delaunay triangulation"));
  sePairDistanceThreshold = Spin("sePairDistanceThreshold", 999999999,
                                 kPairDistanceThresholdRange.Min, kPairDistanceThresholdRange.Max);
  const QString pairHint =
      QStringLiteral("Distance between locations beyond which a pair is ignored");
  sePairDistanceThreshold->setToolTip(pairHint);
  auto* lblPair = Caption(QStringLiteral("Pair distance threshold:"), sePairDistanceThreshold);
  lblPair->setToolTip(pairHint);
  gd->addWidget(rbDelaunayNone, 0, 0);
  gd->addWidget(rbDelaunayInclude, 0, 1);
  gd->addWidget(rbDelaunayOnly, 0, 2);
  gd->addWidget(lblPair, 1, 0);
  gd->addWidget(sePairDistanceThreshold, 1, 1, 1, 2);
  v->addWidget(grpDel);

  // The only letter no other control of the window takes.
  ckPairMatrices = Named(new QCheckBox(QStringLiteral("Pair matrices (CS&V)")), "ckPairMatrices");
  ckPairMatrices->setToolTip(QStringLiteral(
      "At the end of the run, also write an N x N matrix per pair column (GenDist, GeoDist, "
      "every map statistic) as PROJECT-COLUMN-matrix.csv, for R or pandas"));
  auto* grpFiles = new QGroupBox(QStringLiteral("Extra files"));
  auto* gf = new QVBoxLayout(grpFiles);
  gf->addWidget(ckPairMatrices);
  v->addWidget(grpFiles);

  grpTopography = Named(new QGroupBox(QStringLiteral("Topography parameters")), "grpTopography");
  auto* gt = new QGridLayout(grpTopography);
  const QString topoHint =
      QStringLiteral("Tolerance on the delta-elevation to assess the uphill or downhill movement.");
  rbUphill = Named(new QRadioButton(QStringLiteral("&Uphill movement only")), "rbUphill");
  rbUphill->setProperty("tag", 1);
  rbDownhill = Named(new QRadioButton(QStringLiteral("&Downhill movement only")), "rbDownhill");
  rbDownhill->setProperty("tag", -1);
  rbBothWays = Named(new QRadioButton(QStringLiteral("&Both ways")), "rbBothWays");
  rbBothWays->setProperty("tag", 0);
  rbBothWays->setChecked(true);
  edElevationTolerance = Named(new QLineEdit(QStringLiteral("1")), "edElevationTolerance");
  edElevationTolerance->setToolTip(topoHint);
  edElevationTolerance->installEventFilter(new tRealNumberFilter(this));
  auto* lblTol = Caption(QStringLiteral("Elevation &tolerance:"), edElevationTolerance);
  lblTol->setToolTip(topoHint);
  gt->addWidget(rbUphill, 0, 0, 1, 2);
  gt->addWidget(rbDownhill, 1, 0, 1, 2);
  gt->addWidget(rbBothWays, 2, 0, 1, 2);
  gt->addWidget(lblTol, 3, 0);
  gt->addWidget(edElevationTolerance, 3, 1);
  v->addWidget(grpTopography);

  const auto [cells, cb] = CellRuleGroup("cbCellRule");
  cbCellRule = cb;
  v->addWidget(cells);
  connect(cbCellRule, &QComboBox::currentIndexChanged, this,
          &tMatrixParametersPage::CellRuleChanged);

  grpParameters = Named(new QGroupBox(QStringLiteral("Parameters")), "grpParameters");
  auto* gpar = new QGridLayout(grpParameters);
  seThreshold = Spin("seThreshold", 0, kFrequencyThresholdRange.Min, kFrequencyThresholdRange.Max);
  seIterations = Spin("seIterations", 1, kIterationsRange.Min, kIterationsRange.Max);
  seReplicates = Spin("seReplicates", 1000, kReplicatesRange.Min, kReplicatesRange.Max);
  lblThreshold = Caption(QStringLiteral("Frequency &threshold:"), seThreshold, "lblThreshold");
  lblIterations = Caption(QStringLiteral("Iterations:"), seIterations, "lblIterations");
  lblReplicates = Caption(QStringLiteral("Replicates:"), seReplicates, "lblReplicates");
  gpar->addWidget(lblThreshold, 0, 0);
  gpar->addWidget(seThreshold, 0, 1);
  gpar->addWidget(lblIterations, 1, 0);
  gpar->addWidget(seIterations, 1, 1);
  gpar->addWidget(lblReplicates, 2, 0);
  gpar->addWidget(seReplicates, 2, 1);
  grpParameters->setVisible(false);
  v->addWidget(grpParameters);

  grpModelFit = Named(new QGroupBox(QStringLiteral("Model fit")), "grpModelFit");
  auto* gm = new QGridLayout(grpModelFit);
  cbFitting = Named(new QComboBox, "cbFitting");
  for (const char* n : kFittingFunctionNames) cbFitting->addItem(QLatin1String(n));
  cbFitting->setCurrentIndex(0);
  ckStepwise = Named(new QCheckBox(QStringLiteral("Step&wise")), "ckStepwise");
  ckGeneticSig = Named(new QCheckBox(QStringLiteral("&Use only significant input dist.")),
                       "ckGeneticSig");
  seSignificance = Spin("seSignificance", 0, kSignificanceThresholdRange.Min,
                        kSignificanceThresholdRange.Max);
  seSignificance->setEnabled(false);
  lblSignificance = Caption(QStringLiteral("Significance t&hreshold [%]:"), seSignificance,
                            "lblSignificance");
  ckJackKnife = Named(new QCheckBox(QStringLiteral("&Jack-knife cross-validation")), "ckJackKnife");
  seJackknife = Spin("seJackknife", 10, 2, 100);
  lblJackknife = Caption(QStringLiteral("&Number of partitions:"), seJackknife, "lblJackknife");
  gm->addWidget(Caption(QStringLiteral("Fitting &function:"), cbFitting), 0, 0);
  gm->addWidget(cbFitting, 0, 1);
  gm->addWidget(ckStepwise, 1, 0, 1, 2);
  gm->addWidget(ckGeneticSig, 2, 0, 1, 2);
  gm->addWidget(lblSignificance, 3, 0);
  gm->addWidget(seSignificance, 3, 1);
  gm->addWidget(ckJackKnife, 4, 0, 1, 2);
  gm->addWidget(lblJackknife, 5, 0);
  gm->addWidget(seJackknife, 5, 1);
  grpModelFit->setVisible(false);
  v->addWidget(grpModelFit);
  v->addStretch();

  // A friction map output replaces the geographic distance.
  connect(ckFrictionMap, &QCheckBox::clicked, this, [this] {
    ckGeographicDist->setChecked(!ckFrictionMap->isChecked());
    ckGeographicDist->setEnabled(!ckFrictionMap->isChecked());
    emit RulesInputChanged();
  });
  for (QCheckBox* c : {ckGeneticSig, ckJackKnife, ckFitModel})
    connect(c, &QCheckBox::clicked, this, &tMatrixParametersPage::RulesInputChanged);
}

void tMatrixParametersPage::ReadSettings(TAnalysisSettings& s) const {
  s.Direction = rbUphill->isChecked() ? 1 : rbDownhill->isChecked() ? -1 : 0;
  s.ElevationTolerance = Std(edElevationTolerance->text());
  s.DelaunayUse = rbDelaunayInclude->isChecked() ? duInclude
                  : rbDelaunayOnly->isChecked()  ? duRestrict
                                                 : duNone;
  s.PairDistanceThreshold = sePairDistanceThreshold->value();
  s.PairMatrices = ckPairMatrices->isChecked();
  s.EchoSamplePoints = ckSamplePoints->isChecked();
  s.EchoMatrices = ckGeneticalMatrices->isChecked();
  s.CellRule = cbCellRule->currentIndex() == crRounded ? crRounded : crContaining;
  s.FittingFunction = cbFitting->currentIndex();
  s.Stepwise = ckStepwise->isChecked();
  s.FrequencyThreshold = seThreshold->value();
  s.SignificantOnly = ckGeneticSig->isChecked();
  s.SignificanceThreshold = seSignificance->value();
  s.IncludeGeographicDistance = ckGeographicDist->isChecked();
  s.Replicates = seReplicates->value();
  s.Iterations = seIterations->value();
  s.ConnectivityDataset = ckVariablesMatrix->isChecked();
  s.EcoDistanceMatrix = ckEcoDistanceMatrix->isChecked();
}

void tMatrixParametersPage::WriteSettings(const TAnalysisSettings& s) {
  std::vector<std::unique_ptr<QSignalBlocker>> block;
  for (QObject* o : findChildren<QWidget*>()) block.push_back(std::make_unique<QSignalBlocker>(o));
  (s.Direction > 0 ? rbUphill : s.Direction < 0 ? rbDownhill : rbBothWays)->setChecked(true);
  edElevationTolerance->setText(Q(s.ElevationTolerance));
  (s.DelaunayUse == duInclude    ? rbDelaunayInclude
   : s.DelaunayUse == duRestrict ? rbDelaunayOnly
                                 : rbDelaunayNone)
      ->setChecked(true);
  sePairDistanceThreshold->setValue(s.PairDistanceThreshold);
  ckPairMatrices->setChecked(s.PairMatrices);
  ckSamplePoints->setChecked(s.EchoSamplePoints);
  ckGeneticalMatrices->setChecked(s.EchoMatrices);
  cbCellRule->setCurrentIndex(s.CellRule);
  cbFitting->setCurrentIndex(s.FittingFunction);
  ckStepwise->setChecked(s.Stepwise);
  seThreshold->setValue(s.FrequencyThreshold);
  ckGeneticSig->setChecked(s.SignificantOnly);
  seSignificance->setValue(s.SignificanceThreshold);
  ckGeographicDist->setChecked(s.IncludeGeographicDistance);
  seReplicates->setValue(s.Replicates);
  seIterations->setValue(s.Iterations);
  ckVariablesMatrix->setChecked(s.ConnectivityDataset);
  ckEcoDistanceMatrix->setChecked(s.EcoDistanceMatrix);
}

void tMatrixParametersPage::ReadInputs(tWindowInputs& in) const {
  in.SignificantOnly = ckGeneticSig->isChecked();
  in.JackKnife = ckJackKnife->isChecked();
  in.FitModel = ckFitModel->isChecked();
}

void tMatrixParametersPage::ApplyView(const tWindowView& v) {
  for (QWidget* w : std::initializer_list<QWidget*>{ckTemporary, lblReplicates, seReplicates,
                                                    lblIterations, seIterations})
    w->setVisible(v.LeastCostControlsVisible);
  if (v.GeographicDistCleared) ckGeographicDist->setChecked(false);
  ckGeographicDist->setEnabled(v.GeographicDistEnabled);
  grpTopography->setVisible(v.TopographyVisible);
  ckJackKnife->setEnabled(v.JackKnifeEnabled);
  lblSignificance->setEnabled(v.SignificanceEnabled);
  seSignificance->setEnabled(v.SignificanceEnabled);
  SetFace(seSignificance, v.SignificanceEnabled);
  lblJackknife->setEnabled(v.PartitionsEnabled);
  seJackknife->setEnabled(v.PartitionsEnabled);
  SetFace(seJackknife, v.PartitionsEnabled);
  ckEcoDistanceMatrix->setEnabled(v.EcoMatrixEnabled);
  ckFrictionMap->setEnabled(v.FrictionMapEnabled);
}

void tMatrixParametersPage::SetCellRule(int rule) { cbCellRule->setCurrentIndex(rule); }

void tMatrixParametersPage::ReadChoices(tWindowChoices& c) const {
  c.KeepTemporaryMaps = ckTemporary->isChecked();
  c.FitModel = ckFitModel->isChecked();
  c.FrictionMapOutput = ckFrictionMap->isChecked();
  c.JackKnifeResults = ckJackKnifeResults->isChecked();
  c.JackKnife = ckJackKnife->isChecked();
  c.Partitions = seJackknife->value();
}

void tMatrixParametersPage::WriteChoices(const tWindowChoices& c) {
  ckTemporary->setChecked(c.KeepTemporaryMaps);
  ckFitModel->setChecked(c.FitModel);
  ckFrictionMap->setChecked(c.FrictionMapOutput);
  ckJackKnifeResults->setChecked(c.JackKnifeResults);
  ckJackKnife->setChecked(c.JackKnife);
  seJackknife->setValue(c.Partitions);
}

} // namespace stravex::gui
