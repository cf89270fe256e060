#include "dlgConnectivity.h"

#include "AboutBox.h"
#include "Help.h"

#include "DataViews.h"
#include "FileFilters.h"
#include "RunController.h"
#include "analysis/BatchLine.h"
#include "analysis/BatchRun.h"
#include "paths/Corridor.h"
#include "paths/CostPathDecl.h"
#include "raster/GdalMap.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

#include <exception>
#include <filesystem>

using namespace stravex;
using namespace stravex::gui;

namespace {

std::string Std(const QString& s) { return s.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

template <typename T>
T* Named(T* w, const char* name) {
  w->setObjectName(QLatin1String(name));
  return w;
}

QLabel* Caption(const QString& text, QWidget* buddy, const char* name = nullptr) {
  auto* l = new QLabel(text);
  l->setBuddy(buddy);
  if (name) l->setObjectName(QLatin1String(name));
  return l;
}

QSpinBox* Spin(const char* name, int value, int min, int max, int step = 1) {
  auto* s = Named(new QSpinBox, name);
  s->setRange(min, max);
  s->setSingleStep(step);
  s->setValue(value);
  return s;
}

QPushButton* Browse(const char* name, const QString& accessible) {
  auto* b = Named(new QPushButton(QStringLiteral("...")), name);
  b->setAccessibleName(accessible);
  b->setFixedWidth(28);
  return b;
}

// "window colour" when on, "button-face colour" when off.
void SetFace(QWidget* w, bool windowColour) {
  QPalette p = w->palette();
  p.setColor(QPalette::Base,
             QApplication::palette().color(windowColour ? QPalette::Base : QPalette::Button));
  w->setPalette(p);
}

} // namespace

// Map loading, data view and other work done on the window's own thread:
// log lines and refusal boxes appear at once.
class TdlgConnectivity::tWindowReporter : public tReporter {
public:
  explicit tWindowReporter(TdlgConnectivity& w) : fW(w) {}
  void Log(const std::string& line) override { fW.AppendLog(Q(line)); }
  void TaskLabel(const std::string& label) override { fW.lbTask->setText(Q(label)); }
  void Progress(int percent) override {
    fW.pbTache->setValue(percent);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  void Warning(const std::string& message) override { fW.ShowWarningBox(Q(message)); }
  void ErrorBox(const std::string& message) override { fW.ShowErrorBox(Q(message)); }

private:
  TdlgConnectivity& fW;
};

TdlgConnectivity::TdlgConnectivity(const QStringList& args, QWidget* parent)
    : TCustomGeodrellDialog(args, parent), fArgs(args) {
  fRun = std::make_unique<tRunController>(fMaps, fSequence, fRandom, this);
  setWindowTitle(QStringLiteral("Stravex"));
  resize(496, 540);
  setMinimumSize(455, 425);
  BuildPages();
  BuildMenus();
  Connect();
  // FormCreate: item 0 of the algorithm and fitting lists, the criteria.
  cbDistance->setCurrentIndex(0);
  cbFitting->setCurrentIndex(0);
  cbMinimise->setCurrentIndex(0);
  UpdateControls();
}

TdlgConnectivity::~TdlgConnectivity() {
  // Boxes raised by a run still going must not wait for a window being destroyed.
  fClosing = true;
  if (fRun->Running()) {
    fRun->RequestCancel();
    fRun->WaitForEnd();
  }
  for (QPointer<QWidget>& v : fViews) delete v.data();
}

void TdlgConnectivity::BuildPages() {
  auto* central = new QWidget;
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  pcPages = Named(new QTabWidget, "pcPages");
  outer->addWidget(pcPages, 1);

  // ---- Input
  tabInput = Named(new QWidget, "tabInput");
  {
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* inner = new QWidget;
    auto* v = new QVBoxLayout(inner);

    auto* grpData = new QGroupBox(QStringLiteral("Data structure"));
    auto* hd = new QHBoxLayout(grpData);
    rbMatrix = Named(new QRadioButton(QStringLiteral("Population &matrix")), "rbMatrix");
    rbSequence = Named(new QRadioButton(QStringLiteral("Location &sequence")), "rbSequence");
    rbMatrix->setChecked(true);
    hd->addWidget(rbMatrix);
    hd->addWidget(rbSequence);
    hd->addStretch();
    v->addWidget(grpData);

    auto* grpEnv = new QGroupBox(QStringLiteral("Environmental descriptors"));
    auto* ge = new QGridLayout(grpEnv);
    cbVarBinary = Named(new QComboBox, "cbVarBinary");
    cbVarBinary->setToolTip(QStringLiteral(
        "Ecological maps storing presence/absence of each relevant land-cover type"));
    btVarBinary = Browse("btVarBinary", QStringLiteral("Choose binary and count maps"));
    cbVarQuant = Named(new QComboBox, "cbVarQuant");
    btVarQuant = Browse("btVarQuant", QStringLiteral("Choose quantitative maps"));
    edVarTopo = Named(new QLineEdit, "edVarTopo");
    edVarTopo->setReadOnly(true);
    btVarTopo = Browse("btVarTopo", QStringLiteral("Choose the topography map"));
    ge->addWidget(Caption(QStringLiteral("&Binary && count variables:"), cbVarBinary), 0, 0);
    ge->addWidget(cbVarBinary, 0, 1);
    ge->addWidget(btVarBinary, 0, 2);
    ge->addWidget(Caption(QStringLiteral("&Quantitative variables:"), cbVarQuant), 1, 0);
    ge->addWidget(cbVarQuant, 1, 1);
    ge->addWidget(btVarQuant, 1, 2);
    ge->addWidget(Caption(QStringLiteral("&Topography (DEM):"), edVarTopo), 2, 0);
    ge->addWidget(edVarTopo, 2, 1);
    ge->addWidget(btVarTopo, 2, 2);
    ge->setColumnStretch(1, 1);
    v->addWidget(grpEnv);

    auto* grpDep = new QGroupBox(QStringLiteral("Dependent variables"));
    auto* gd = new QGridLayout(grpDep);
    edData = Named(new QLineEdit, "edData");
    edData->setReadOnly(true);
    edData->setToolTip(
        QStringLiteral("Data file storing sample points coordinates and genetic distance matrix"));
    btBrowseData = Browse("btBrowseData", QStringLiteral("Choose the data file"));
    btViewData = Named(new QPushButton, "btViewData");
    btViewData->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    btViewData->setAccessibleName(QStringLiteral("View the data"));
    btViewData->setFixedWidth(28);
    gd->addWidget(Caption(QStringLiteral("&Data:"), edData), 0, 0);
    gd->addWidget(edData, 0, 1);
    gd->addWidget(btBrowseData, 0, 2);
    gd->addWidget(btViewData, 0, 3);
    gd->setColumnStretch(1, 1);
    v->addWidget(grpDep);

    auto* grpCon = new QGroupBox(QStringLiteral("Connectivity"));
    auto* gc = new QGridLayout(grpCon);
    cbDistance = Named(new QComboBox, "cbDistance");
    for (const char* n : kConnectivityNames) cbDistance->addItem(QLatin1String(n));
    cbDistance->setToolTip(QStringLiteral(
        "Algorithm used to compute the ecological distance between pairs of points"));
    edFirstFriction = Named(new QLineEdit, "edFirstFriction");
    edFirstFriction->setReadOnly(true);
    edFirstFriction->setToolTip(QStringLiteral("Friction map used for the first pass"));
    btBrowseFirst = Browse("btBrowseFirst", QStringLiteral("Choose the friction map"));
    lblFirstFriction = Caption(QStringLiteral("Friction map:"), edFirstFriction,
                               "lblFirstFriction");
    sePathWidth = Spin("sePathWidth", 1, kPathWidthRange.Min, kPathWidthRange.Max, 2);
    sePathWidth->setToolTip(QStringLiteral("Width of the scanned path band"));
    lblPath = Caption(QStringLiteral("Path &width:"), sePathWidth, "lblPath");
    seLeastCostSeed = Spin("seLeastCostSeed", 10, kSeedRange.Min, kSeedRange.Max);
    lblSeed = Caption(QStringLiteral("&Seed:"), seLeastCostSeed, "lblSeed");
    cbMinimise = Named(new QComboBox, "cbMinimise");
    for (const std::string& n : MinimiseCriteria) cbMinimise->addItem(Q(n));
    lblMinimise = Caption(QStringLiteral("&Minimise:"), cbMinimise, "lblMinimise");
    edCorridorMap = Named(new QLineEdit, "edCorridorMap");
    edCorridorMap->setToolTip(
        QStringLiteral("Map showing the number of times a cell is  part of  a least-cost path. "
                       "Leave this field empty if no such map is desired."));
    lblCorridorMap = Caption(QStringLiteral("&Corridor map:"), edCorridorMap, "lblCorridorMap");
    edWFriction = Named(new QLineEdit(QStringLiteral("1")), "edWFriction");
    edWFriction->setToolTip(
        QStringLiteral("Weight of the friction in the path-cost minimisation function"));
    lblWFriction = Caption(QStringLiteral("&Friction weight:"), edWFriction, "lblWFriction");
    edWLength = Named(new QLineEdit(QStringLiteral("0")), "edWLength");
    edWLength->setToolTip(
        QStringLiteral("Weight of the path length in the path-cost minimisation function"));
    lblWLength = Caption(QStringLiteral("&Length weight:"), edWLength, "lblWLength");
    ckOneMapPerPair = Named(new QCheckBox(QStringLiteral("&One map per pair")), "ckOneMapPerPair");
    gc->addWidget(Caption(QStringLiteral("&Connectivity:"), cbDistance), 0, 0);
    gc->addWidget(cbDistance, 0, 1, 1, 2);
    gc->addWidget(lblFirstFriction, 1, 0);
    gc->addWidget(edFirstFriction, 1, 1);
    gc->addWidget(btBrowseFirst, 1, 2);
    gc->addWidget(lblPath, 2, 0);
    gc->addWidget(sePathWidth, 2, 1, 1, 2);
    gc->addWidget(lblSeed, 3, 0);
    gc->addWidget(seLeastCostSeed, 3, 1, 1, 2);
    gc->addWidget(lblMinimise, 4, 0);
    gc->addWidget(cbMinimise, 4, 1, 1, 2);
    gc->addWidget(lblCorridorMap, 5, 0);
    gc->addWidget(edCorridorMap, 5, 1, 1, 2);
    gc->addWidget(lblWFriction, 6, 0);
    gc->addWidget(edWFriction, 6, 1, 1, 2);
    gc->addWidget(lblWLength, 7, 0);
    gc->addWidget(edWLength, 7, 1, 1, 2);
    gc->addWidget(ckOneMapPerPair, 8, 0, 1, 3);
    gc->setColumnStretch(1, 1);
    v->addWidget(grpCon);

    auto* grpProject = new QGroupBox(QStringLiteral("Project"));
    auto* gp = new QGridLayout(grpProject);
    edOutput = Named(new QLineEdit(QLatin1String(kInitialProjectName)), "edOutput");
    edOutput->setToolTip(QStringLiteral("Output map"));
    gp->addWidget(Caption(QStringLiteral("&Project name:"), edOutput), 0, 0);
    gp->addWidget(edOutput, 0, 1);
    gp->setColumnStretch(1, 1);
    v->addWidget(grpProject);
    v->addStretch();

    scroll->setWidget(inner);
    auto* l = new QVBoxLayout(tabInput);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(scroll);
  }

  // ---- Bootstraps (location sequence)
  tabSeqBootstraps = Named(new QWidget, "tabSeqBootstraps");
  {
    auto* v = new QVBoxLayout(tabSeqBootstraps);
    auto* grp = new QGroupBox(QStringLiteral("Parameters"));
    auto* g = new QGridLayout(grp);
    seSeqBootstraps = Spin("seSeqBootstraps", 100, kBootstrapsRange.Min, kBootstrapsRange.Max, 100);
    g->addWidget(Caption(QStringLiteral("# of &replicates:"), seSeqBootstraps), 0, 0);
    g->addWidget(seSeqBootstraps, 0, 1);
    g->setColumnStretch(2, 1);
    v->addWidget(grp);
    auto* out = new QGroupBox(QStringLiteral("Output"));
    auto* o = new QVBoxLayout(out);
    ckSeqDistanceDistribution = Named(new QCheckBox(QStringLiteral("&Distance distribution")),
                                      "ckSeqDistanceDistribution");
    o->addWidget(ckSeqDistanceDistribution);
    v->addWidget(out);
    btBootstrap = Named(new QPushButton(QStringLiteral("&Bootstrap it!")), "btBootstrap");
    auto* h = new QHBoxLayout;
    h->addStretch();
    h->addWidget(btBootstrap);
    v->addLayout(h);
    v->addStretch();
  }

  // Both Parameters pages offer the cell rule.
  auto cellRuleGroup = [](const char* name) {
    auto* grp = new QGroupBox(QStringLiteral("Points to cells"));
    auto* g = new QGridLayout(grp);
    auto* cb = Named(new QComboBox, name);
    cb->addItem(QStringLiteral("Cell that contains the point"));
    cb->addItem(QStringLiteral("Rounded (earlier versions)"));
    cb->setToolTip(QStringLiteral(
        "How a sample point or location becomes a map cell: the cell that contains it, as GIS "
        "software reads a map, or the rounded rule of earlier versions, to reproduce earlier "
        "studies"));
    g->addWidget(Caption(QStringLiteral("Ce&ll rule:"), cb), 0, 0);
    g->addWidget(cb, 0, 1);
    g->setColumnStretch(2, 1);
    return std::make_pair(grp, cb);
  };

  // ---- Parameters (location sequence)
  tabSeqParameters = Named(new QWidget, "tabSeqParameters");
  {
    auto* v = new QVBoxLayout(tabSeqParameters);
    auto* grp = new QGroupBox(QStringLiteral("Segment parameters"));
    auto* g = new QGridLayout(grp);
    seIgnoreTime = Spin("seIgnoreTime", 0, kIgnoreTimeRange.Min, kIgnoreTimeRange.Max);
    cbIgnoreUnit = Named(new QComboBox, "cbIgnoreUnit");
    for (const char* n : kIgnoreUnitNames) cbIgnoreUnit->addItem(QLatin1String(n));
    cbIgnoreUnit->setCurrentIndex(3);
    cbIgnoreUnit->setAccessibleName(QStringLiteral("Unit of the ignored segment duration"));
    g->addWidget(Caption(QStringLiteral("&Ignore segment shorter than:"), seIgnoreTime), 0, 0);
    g->addWidget(seIgnoreTime, 0, 1);
    g->addWidget(cbIgnoreUnit, 0, 2);
    g->setColumnStretch(3, 1);
    v->addWidget(grp);
    const auto [cells, cb] = cellRuleGroup("cbSeqCellRule");
    cbSeqCellRule = cb;
    v->addWidget(cells);
    v->addStretch();
  }

  // ---- Parameters (population matrix)
  tabParametersMatrix = Named(new QWidget, "tabParametersMatrix");
  {
    auto* v = new QVBoxLayout(tabParametersMatrix);

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
                                   kPairDistanceThresholdRange.Min,
                                   kPairDistanceThresholdRange.Max);
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
    const QString topoHint = QStringLiteral(
        "Tolerance on the delta-elevation to assess the uphill or downhill movement.");
    rbUphill = Named(new QRadioButton(QStringLiteral("&Uphill movement only")), "rbUphill");
    rbUphill->setProperty("tag", 1);
    rbDownhill = Named(new QRadioButton(QStringLiteral("&Downhill movement only")), "rbDownhill");
    rbDownhill->setProperty("tag", -1);
    rbBothWays = Named(new QRadioButton(QStringLiteral("&Both ways")), "rbBothWays");
    rbBothWays->setProperty("tag", 0);
    rbBothWays->setChecked(true);
    edElevationTolerance = Named(new QLineEdit(QStringLiteral("1")), "edElevationTolerance");
    edElevationTolerance->setToolTip(topoHint);
    auto* lblTol = Caption(QStringLiteral("Elevation &tolerance:"), edElevationTolerance);
    lblTol->setToolTip(topoHint);
    gt->addWidget(rbUphill, 0, 0, 1, 2);
    gt->addWidget(rbDownhill, 1, 0, 1, 2);
    gt->addWidget(rbBothWays, 2, 0, 1, 2);
    gt->addWidget(lblTol, 3, 0);
    gt->addWidget(edElevationTolerance, 3, 1);
    v->addWidget(grpTopography);

    const auto [cells, cb] = cellRuleGroup("cbCellRule");
    cbCellRule = cb;
    v->addWidget(cells);
    connect(cbCellRule, &QComboBox::currentIndexChanged, cbSeqCellRule,
            &QComboBox::setCurrentIndex);
    connect(cbSeqCellRule, &QComboBox::currentIndexChanged, cbCellRule,
            &QComboBox::setCurrentIndex);

    grpParameters = Named(new QGroupBox(QStringLiteral("Parameters")), "grpParameters");
    auto* gpar = new QGridLayout(grpParameters);
    seThreshold = Spin("seThreshold", 0, kFrequencyThresholdRange.Min,
                       kFrequencyThresholdRange.Max);
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
    ckStepwise = Named(new QCheckBox(QStringLiteral("Step&wise")), "ckStepwise");
    ckGeneticSig = Named(new QCheckBox(QStringLiteral("&Use only significant input dist.")),
                         "ckGeneticSig");
    seSignificance = Spin("seSignificance", 0, kSignificanceThresholdRange.Min,
                          kSignificanceThresholdRange.Max);
    seSignificance->setEnabled(false);
    lblSignificance = Caption(QStringLiteral("Significance t&hreshold [%]:"), seSignificance,
                              "lblSignificance");
    ckJackKnife = Named(new QCheckBox(QStringLiteral("&Jack-knife cross-validation")),
                        "ckJackKnife");
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
  }

  // ---- Log
  tabLog = Named(new QWidget, "tabLog");
  {
    auto* l = new QVBoxLayout(tabLog);
    l->setContentsMargins(0, 0, 0, 0);
    mmOutput = Named(new QPlainTextEdit, "mmOutput");
    QFont f(QStringLiteral("Courier New"));
    f.setStyleHint(QFont::Monospace);
    mmOutput->setFont(f);
    mmOutput->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmOutput->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmOutput->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmOutput->setAccessibleName(QStringLiteral("Log"));
    l->addWidget(mmOutput);
  }

  pcPages->addTab(tabInput, QStringLiteral("Input"));
  pcPages->addTab(tabSeqBootstraps, QStringLiteral("Bootstraps"));
  pcPages->addTab(tabSeqParameters, QStringLiteral("Parameters"));
  pcPages->addTab(tabParametersMatrix, QStringLiteral("Parameters"));
  pcPages->addTab(tabLog, QStringLiteral("Log"));

  // ---- Button strip, anchored right
  auto* buttons = new QWidget;
  buttons->setFixedHeight(41);
  auto* hb = new QHBoxLayout(buttons);
  hb->setContentsMargins(6, 6, 6, 6);
  hb->addStretch();
  btOK = Named(new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton),
                               QStringLiteral("Compute")),
               "btOK");
  btOK->setToolTip(QStringLiteral("May the Force be with you"));
  btOK->setDefault(true);
  btCancel = Named(new QPushButton(QStringLiteral("Cancel")), "btCancel");
  btCancel->setToolTip(QStringLiteral("Interrupt a running computation"));
  btHelp = Named(new QPushButton(QStringLiteral("Help")), "btHelp");
  hb->addWidget(btOK);
  hb->addWidget(btCancel);
  hb->addWidget(btHelp);
  outer->addWidget(buttons);

  // ---- Status strip
  auto* status = new QWidget;
  status->setFixedHeight(24);
  auto* hs = new QHBoxLayout(status);
  hs->setContentsMargins(2, 2, 2, 2);
  lbTask = Named(new QLabel(QStringLiteral("Task :")), "lbTask");
  lbTask->setFixedWidth(120);
  lbTask->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lbTask->setToolTip(QStringLiteral("Running task"));
  pbTache = Named(new QProgressBar, "pbTache");
  pbTache->setRange(0, 100);
  pbTache->setValue(0);
  pbTache->setToolTip(QStringLiteral("Progression of the analysis. Keep cool man !"));
  pbTache->setAccessibleName(QStringLiteral("Progress"));
  hs->addWidget(lbTask);
  hs->addWidget(pbTache, 1);
  outer->addWidget(status);

  setCentralWidget(central);
}

void TdlgConnectivity::BuildMenus() {
  QMenu* program = menuBar()->addMenu(QStringLiteral("&Program"));
  program->setToolTipsVisible(true);
  Openecomaplist1 = program->addAction(QStringLiteral("&Open eco. map list..."));
  Saveecomapslist1 = program->addAction(QStringLiteral("&Save eco. map list..."));
  Batchcommand1 = program->addAction(QStringLiteral("&Batch command..."));
  Batchcommand1->setToolTip(
      QStringLiteral("Display the batch command corresponding to the current settings"));
  program->addSeparator();
  Exit1 = program->addAction(QStringLiteral("E&xit"));
  QMenu* help = menuBar()->addMenu(QStringLiteral("?"));
  Help1 = help->addAction(QStringLiteral("&Help"));
  Help1->setShortcut(QKeySequence(Qt::Key_F1));
  About1 = help->addAction(QStringLiteral("&About..."));
  Openecomaplist1->setObjectName(QStringLiteral("Openecomaplist1"));
  Saveecomapslist1->setObjectName(QStringLiteral("Saveecomapslist1"));
  Batchcommand1->setObjectName(QStringLiteral("Batchcommand1"));
  Exit1->setObjectName(QStringLiteral("Exit1"));
  Help1->setObjectName(QStringLiteral("Help1"));
  About1->setObjectName(QStringLiteral("About1"));
}

void TdlgConnectivity::Connect() {
  connect(btOK, &QPushButton::clicked, this, &TdlgConnectivity::btOKClick);
  connect(btCancel, &QPushButton::clicked, this, &TdlgConnectivity::btCancelClick);
  connect(btHelp, &QPushButton::clicked, this, &TdlgConnectivity::btHelpClick);
  connect(rbMatrix, &QRadioButton::clicked, this, &TdlgConnectivity::OnDataStructureClick);
  connect(rbSequence, &QRadioButton::clicked, this, &TdlgConnectivity::OnDataStructureClick);
  connect(btVarBinary, &QPushButton::clicked, this, &TdlgConnectivity::btVarBinaryClick);
  connect(btVarQuant, &QPushButton::clicked, this, &TdlgConnectivity::btVarQuantClick);
  connect(btVarTopo, &QPushButton::clicked, this, &TdlgConnectivity::btVarTopoClick);
  connect(btBrowseData, &QPushButton::clicked, this, &TdlgConnectivity::btBrowseDataClick);
  connect(btViewData, &QPushButton::clicked, this, &TdlgConnectivity::btViewDataClick);
  connect(cbDistance, &QComboBox::currentIndexChanged, this, &TdlgConnectivity::cbDistanceChange);
  connect(btBrowseFirst, &QPushButton::clicked, this, &TdlgConnectivity::btBrowseFirstClick);
  connect(edFirstFriction, &QLineEdit::textChanged, this, &TdlgConnectivity::edFirstFrictionChange);
  for (QSpinBox* s : {sePathWidth, seLeastCostSeed, seSeqBootstraps, seIgnoreTime, seSignificance})
    connect(s, &QSpinBox::valueChanged, this, &TdlgConnectivity::sePathWidthChange);
  connect(edOutput, &QLineEdit::textChanged, this, &TdlgConnectivity::FilenameChange);
  connect(btBootstrap, &QPushButton::clicked, this, &TdlgConnectivity::btBootstrapClick);
  connect(ckFrictionMap, &QCheckBox::clicked, this, &TdlgConnectivity::ckFrictionMapClick);
  connect(ckGeneticSig, &QCheckBox::clicked, this, &TdlgConnectivity::ckGeneticSigClick);
  connect(ckJackKnife, &QCheckBox::clicked, this, &TdlgConnectivity::ckJackKnifeClick);
  connect(ckFitModel, &QCheckBox::clicked, this, &TdlgConnectivity::ckFitModelClick);
  connect(Openecomaplist1, &QAction::triggered, this, &TdlgConnectivity::Openecomaplist1Click);
  connect(Saveecomapslist1, &QAction::triggered, this, &TdlgConnectivity::Saveecomapslist1Click);
  connect(Batchcommand1, &QAction::triggered, this, &TdlgConnectivity::Batchcommand1Click);
  connect(Exit1, &QAction::triggered, this, &TdlgConnectivity::Exit1Click);
  connect(Help1, &QAction::triggered, this, &TdlgConnectivity::btHelpClick);
  connect(About1, &QAction::triggered, this, &TdlgConnectivity::About1Click);

  for (QWidget* w : {static_cast<QWidget*>(cbVarBinary), static_cast<QWidget*>(cbVarQuant),
                     static_cast<QWidget*>(edVarTopo), static_cast<QWidget*>(edData),
                     static_cast<QWidget*>(edFirstFriction), static_cast<QWidget*>(edOutput),
                     static_cast<QWidget*>(edCorridorMap), static_cast<QWidget*>(edWFriction),
                     static_cast<QWidget*>(edWLength), static_cast<QWidget*>(edElevationTolerance)})
    w->installEventFilter(this);
  for (QWidget* w : {static_cast<QWidget*>(cbVarBinary), static_cast<QWidget*>(cbVarQuant),
                     static_cast<QWidget*>(edVarTopo), static_cast<QWidget*>(edCorridorMap)}) {
    w->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(w, &QWidget::customContextMenuRequested, this,
            [this, w](const QPoint& at) { MapContextMenu(w, at); });
  }

  connect(fRun.get(), &tRunController::LogLine, this, &TdlgConnectivity::AppendLog);
  connect(fRun.get(), &tRunController::TaskLabel, lbTask, &QLabel::setText);
  connect(fRun.get(), &tRunController::Progress, pbTache, &QProgressBar::setValue);
  connect(fRun.get(), &tRunController::Message, this, &TdlgConnectivity::ShowRunMessage,
          Qt::BlockingQueuedConnection);
  connect(fRun.get(), &tRunController::Finished, this, &TdlgConnectivity::RunEndedSlot);
}

// ---------------------------------------------------------------------------
// Settings

TDataStructure TdlgConnectivity::SelectedDataStructure() const {
  return rbSequence->isChecked() ? dsLocationSequence : dsPopulationMatrix;
}

TAnalysisSettings TdlgConnectivity::ReadSettings() const {
  TAnalysisSettings s;
  s.DataStructure = SelectedDataStructure();
  s.Connectivity = static_cast<TConnectivityAlgorithm>(cbDistance->currentIndex());
  s.PathWidth = MakeOdd(sePathWidth->value());
  s.Seed = seLeastCostSeed->value();
  s.Minimise = cbMinimise->currentIndex();
  s.FrictionWeight = Std(edWFriction->text());
  s.LengthWeight = Std(edWLength->text());
  s.FrictionMapFile = Std(edFirstFriction->text().trimmed());
  s.CorridorMapName = Std(edCorridorMap->text());
  s.OneMapPerPair = ckOneMapPerPair->isChecked();
  s.Direction = rbUphill->isChecked() ? 1 : rbDownhill->isChecked() ? -1 : 0;
  s.ElevationTolerance = Std(edElevationTolerance->text());
  s.DelaunayUse = rbDelaunayInclude->isChecked() ? duInclude
                  : rbDelaunayOnly->isChecked()  ? duRestrict
                                                 : duNone;
  s.PairDistanceThreshold = sePairDistanceThreshold->value();
  s.PairMatrices = ckPairMatrices->isChecked();
  s.IgnoreTime = seIgnoreTime->value();
  s.IgnoreUnit = cbIgnoreUnit->currentIndex();
  s.Bootstraps = seSeqBootstraps->value();
  s.DistanceDistribution = ckSeqDistanceDistribution->isChecked();
  s.ProjectName = Std(edOutput->text());
  s.DataFile = Std(edData->text());
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
  s.NameOnCommandLine = fNameOnCommandLine;
  return s;
}

void TdlgConnectivity::WriteSettings(const TAnalysisSettings& s) {
  // The handlers' side effects (default project name, odd width) must not
  // rewrite what the record says.
  std::vector<std::unique_ptr<QSignalBlocker>> block;
  for (QObject* o : findChildren<QWidget*>()) block.push_back(std::make_unique<QSignalBlocker>(o));
  (s.DataStructure == dsLocationSequence ? rbSequence : rbMatrix)->setChecked(true);
  cbDistance->setCurrentIndex(s.Connectivity);
  sePathWidth->setValue(s.PathWidth);
  seLeastCostSeed->setValue(s.Seed);
  cbMinimise->setCurrentIndex(s.Minimise);
  edWFriction->setText(Q(s.FrictionWeight));
  edWLength->setText(Q(s.LengthWeight));
  edFirstFriction->setText(Q(s.FrictionMapFile).trimmed());
  edCorridorMap->setText(Q(s.CorridorMapName));
  ckOneMapPerPair->setChecked(s.OneMapPerPair);
  (s.Direction > 0 ? rbUphill : s.Direction < 0 ? rbDownhill : rbBothWays)->setChecked(true);
  edElevationTolerance->setText(Q(s.ElevationTolerance));
  (s.DelaunayUse == duInclude    ? rbDelaunayInclude
   : s.DelaunayUse == duRestrict ? rbDelaunayOnly
                                 : rbDelaunayNone)
      ->setChecked(true);
  sePairDistanceThreshold->setValue(s.PairDistanceThreshold);
  ckPairMatrices->setChecked(s.PairMatrices);
  seIgnoreTime->setValue(s.IgnoreTime);
  cbIgnoreUnit->setCurrentIndex(s.IgnoreUnit);
  seSeqBootstraps->setValue(s.Bootstraps);
  ckSeqDistanceDistribution->setChecked(s.DistanceDistribution);
  edOutput->setText(Q(s.ProjectName));
  edData->setText(Q(s.DataFile));
  ckSamplePoints->setChecked(s.EchoSamplePoints);
  ckGeneticalMatrices->setChecked(s.EchoMatrices);
  cbCellRule->setCurrentIndex(s.CellRule);
  cbSeqCellRule->setCurrentIndex(s.CellRule);
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
  fNameOnCommandLine = s.NameOnCommandLine;
  block.clear();
  UpdateControls();
}

bool TdlgConnectivity::Running() const { return fRun->Running(); }

void TdlgConnectivity::WaitForRun() { fRun->WaitForEnd(); }

// ---------------------------------------------------------------------------
// Enabling rules

void TdlgConnectivity::UpdateControls() {
  const bool running = fRun->Running();
  const auto algorithm = static_cast<TConnectivityAlgorithm>(cbDistance->currentIndex());
  const bool leastCost = UsesFriction(algorithm);
  const bool exact = algorithm == caExactLeastCost;

  // 1.
  lbTask->setText(QStringLiteral("Ready"));
  pbTache->setValue(0);
  // 2.
  btOK->setEnabled(!running && fMaps.MapCount() > 0 && !edOutput->text().isEmpty() &&
                   !edData->text().isEmpty() && (!edFirstFriction->text().isEmpty() || !leastCost));
  // 3.
  btViewData->setEnabled(!edData->text().isEmpty());
  btCancel->setEnabled(running && !fRun->CancelPending());
  // 4.
  pcPages->setTabVisible(pcPages->indexOf(tabParametersMatrix), rbMatrix->isChecked());
  pcPages->setTabVisible(pcPages->indexOf(tabSeqParameters), rbSequence->isChecked());
  pcPages->setTabVisible(pcPages->indexOf(tabSeqBootstraps), rbSequence->isChecked());
  // 5. and 6.
  const std::initializer_list<QWidget*> leastCostOnly = {
      lblFirstFriction, edFirstFriction, btBrowseFirst, ckTemporary,    lblSeed,
      seLeastCostSeed,  lblMinimise,     cbMinimise,    lblCorridorMap, edCorridorMap,
      lblWFriction,     edWFriction,     lblWLength,    edWLength,      lblReplicates,
      seReplicates,     lblIterations,   seIterations};
  for (QWidget* w : leastCostOnly) w->setVisible(leastCost);
  if (!leastCost) {
    ckGeographicDist->setEnabled(true);
    lblPath->setText(algorithm == caRatioStrip ? QStringLiteral("&Length:width ratio:")
                                               : QStringLiteral("&Strip width:"));
    grpTopography->setVisible(false);
    for (QWidget* w : {static_cast<QWidget*>(ckJackKnife), static_cast<QWidget*>(lblJackknife),
                       static_cast<QWidget*>(seJackknife)})
      w->setEnabled(true);
    SetFace(seJackknife, true);
  } else {
    ckGeographicDist->setChecked(false);
    ckGeographicDist->setEnabled(false);
    lblPath->setText(QStringLiteral("&Path #:"));
    grpTopography->setVisible(!edVarTopo->text().isEmpty());
    for (QWidget* w : {static_cast<QWidget*>(ckJackKnife), static_cast<QWidget*>(lblJackknife),
                       static_cast<QWidget*>(seJackknife)})
      w->setEnabled(false);
    SetFace(seJackknife, false);
  }
  // The exact search finds the one optimal path of a pair.
  lblPath->setEnabled(!exact);
  sePathWidth->setEnabled(!exact);
  SetFace(sePathWidth, !exact);
  const QString pathTip = exact ? QStringLiteral("Not used by the exact least-cost path: it finds "
                                                 "one path, the cheapest, per pair or segment")
                                : QStringLiteral("Width of the scanned path band");
  sePathWidth->setToolTip(pathTip);
  lblPath->setToolTip(exact ? pathTip : QString());
  // It draws no random numbers either; only the friction-sum criterion has
  // an exact search, the others are refused when the run starts.
  lblSeed->setEnabled(!exact);
  seLeastCostSeed->setEnabled(!exact);
  SetFace(seLeastCostSeed, !exact);
  seLeastCostSeed->setToolTip(exact ? QStringLiteral("Not used by the exact least-cost path: it "
                                                     "draws no random numbers")
                                    : QString());
  cbMinimise->setToolTip(exact ? QStringLiteral("The exact least-cost path minimises the "
                                                "friction sum only")
                               : QString());
  // 7.
  lblSignificance->setEnabled(ckGeneticSig->isChecked());
  seSignificance->setEnabled(ckGeneticSig->isChecked());
  SetFace(seSignificance, ckGeneticSig->isChecked());
  // 8.
  lblJackknife->setEnabled(ckJackKnife->isChecked());
  seJackknife->setEnabled(ckJackKnife->isChecked());
  SetFace(seJackknife, ckJackKnife->isChecked());
  // 9.
  ckEcoDistanceMatrix->setEnabled(ckFitModel->isChecked());
  ckFrictionMap->setEnabled(ckFitModel->isChecked());

  // While a run is under way nothing may start a second one or replace what
  // it reads (maps, data, sequence, friction map).
  for (QWidget* w : {static_cast<QWidget*>(btBootstrap), static_cast<QWidget*>(btVarBinary),
                     static_cast<QWidget*>(btVarQuant), static_cast<QWidget*>(btVarTopo),
                     static_cast<QWidget*>(btBrowseData), static_cast<QWidget*>(btBrowseFirst)})
    w->setEnabled(!running);
  Openecomaplist1->setEnabled(!running);
  Saveecomapslist1->setEnabled(!running);
  Batchcommand1->setEnabled(!running);
}

// ---------------------------------------------------------------------------
// Handlers of the settings

void TdlgConnectivity::cbDistanceChange() {
  edOutputDblClick();
  UpdateControls();
}

void TdlgConnectivity::edOutputDblClick() {
  edOutput->setText(
      Q(DefaultProjectName(static_cast<TConnectivityAlgorithm>(cbDistance->currentIndex()))));
}

void TdlgConnectivity::edCorridorMapDblClick() {
  edCorridorMap->setText(Q(CorridorDefaultName(MinimiseCriterionOf(cbMinimise->currentIndex()))));
}

void TdlgConnectivity::edFirstFrictionChange() {
  const QString trimmed = edFirstFriction->text().trimmed();
  if (trimmed != edFirstFriction->text()) edFirstFriction->setText(trimmed); // re-enters once
  UpdateControls();
}

void TdlgConnectivity::sePathWidthChange() {
  if (sePathWidth->value() % 2 == 0) sePathWidth->setValue(sePathWidth->value() + 1);
}

void TdlgConnectivity::ckFrictionMapClick() {
  ckGeographicDist->setChecked(!ckFrictionMap->isChecked());
  ckGeographicDist->setEnabled(!ckFrictionMap->isChecked());
  UpdateControls();
}

void TdlgConnectivity::OnCheckReal(QKeyEvent* key, bool& discard) const {
  discard = false;
  // Keys without a character (arrows, Home, Delete) and dialog navigation
  // never reach the character filter.
  if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab || key->key() == Qt::Key_Escape ||
      key->key() == Qt::Key_Delete)
    return;
  const QString text = key->text();
  if (text.isEmpty()) return;
  for (const QChar c : text) {
    const ushort u = c.unicode();
    const bool allowed = (u >= '0' && u <= '9') || u == '+' || u == '-' || u == '.' || u == 'E' ||
                         u == 'e' || u == 8 || u == 13 || u == 16;
    if (!allowed) {
      discard = true;
      return;
    }
  }
}

bool TdlgConnectivity::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      (watched == edWFriction || watched == edWLength || watched == edElevationTolerance)) {
    bool discard = false;
    OnCheckReal(static_cast<QKeyEvent*>(event), discard);
    return discard;
  }
  if (event->type() == QEvent::MouseButtonDblClick) {
    if (watched == cbVarBinary)
      btVarBinaryClick();
    else if (watched == cbVarQuant)
      btVarQuantClick();
    else if (watched == edVarTopo)
      btVarTopoClick();
    else if (watched == edData)
      btBrowseDataClick();
    else if (watched == edFirstFriction)
      btBrowseFirstClick();
    else if (watched == edOutput)
      edOutputDblClick();
    else if (watched == edCorridorMap)
      edCorridorMapDblClick();
    else
      return TCustomGeodrellDialog::eventFilter(watched, event);
    return true;
  }
  return TCustomGeodrellDialog::eventFilter(watched, event);
}

void TdlgConnectivity::keyPressEvent(QKeyEvent* e) {
  // Enter runs the default button, Escape the cancel button.
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) &&
      e->modifiers() == Qt::NoModifier) {
    if (btOK->isEnabled()) btOKClick();
    return;
  }
  if (e->key() == Qt::Key_Escape) {
    btCancelClick();
    return;
  }
  TCustomGeodrellDialog::keyPressEvent(e);
}

// ---------------------------------------------------------------------------
// Maps, data and map lists

void TdlgConnectivity::FillMapLists() {
  const auto fill = [](QComboBox* cb, const std::vector<std::unique_ptr<tLiveRaster>>& maps) {
    cb->clear();
    for (const auto& m : maps) cb->addItem(Q(m->MapName()));
    if (cb->count() > 0) cb->setCurrentIndex(0);
  };
  fill(cbVarBinary, fMaps.BinaryMaps);
  fill(cbVarQuant, fMaps.QuantitativeMaps);
  edVarTopo->setText(fMaps.TopographyMap ? Q(fMaps.TopographyMap->MapName()) : QString());
}

void TdlgConnectivity::LoadMaps(bool binary, const QStringList& names) {
  if (names.isEmpty() || fRun->Running()) return;
  std::vector<std::string> list;
  for (const QString& n : names) list.push_back(Std(n));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  tWindowReporter reporter(*this);
  bool loaded = false;
  try {
    if (binary)
      fMaps.LoadBinaryMaps(list, reporter);
    else
      fMaps.LoadQuantitativeMaps(list, reporter);
    loaded = true;
  } catch (const std::exception& e) {
    FillMapLists();
    QApplication::restoreOverrideCursor();
    UpdateControls();
    ShowErrorBox(Q(e.what()));
    return;
  }
  FillMapLists();
  if (loaded) edOutputDblClick();
  QApplication::restoreOverrideCursor();
  UpdateControls();
}

void TdlgConnectivity::btVarBinaryClick() {
  if (fRun->Running()) return;
  QStringList names;
  if (fBatchMode) {
    for (const std::string& n : fMapListFile) names << Q(n);
  } else {
    names = AskFiles(tFileDialog::OpenImage);
  }
  LoadMaps(true, names);
}

void TdlgConnectivity::btVarQuantClick() {
  if (fRun->Running()) return;
  LoadMaps(false, AskFiles(tFileDialog::OpenImage));
}

void TdlgConnectivity::btVarTopoClick() {
  if (fRun->Running()) return;
  const QStringList names = AskFiles(tFileDialog::OpenImage);
  if (names.isEmpty()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  tWindowReporter reporter(*this);
  QString error;
  bool loaded = false;
  try {
    loaded = fMaps.LoadTopographyMap(Std(names.first()), reporter);
  } catch (const std::exception& e) {
    error = Q(e.what());
  }
  FillMapLists();
  if (loaded) edOutputDblClick();
  QApplication::restoreOverrideCursor();
  UpdateControls();
  if (!error.isEmpty()) ShowErrorBox(error);
}

void TdlgConnectivity::btBrowseFirstClick() {
  if (fRun->Running()) return;
  fMaps.BuildMapList();
  const QStringList names = AskFiles(tFileDialog::OpenImage);
  if (names.isEmpty()) return;
  tWindowReporter reporter(*this);
  try {
    if (fMaps.CheckFrictionMap(Std(names.first()), reporter))
      edFirstFriction->setText(names.first());
  } catch (const std::exception& e) {
    ShowErrorBox(Q(e.what()));
  }
  UpdateControls();
}

void TdlgConnectivity::btBrowseDataClick() {
  if (fRun->Running()) return;
  const QStringList names = AskFiles(tFileDialog::OpenMatrix);
  if (names.isEmpty()) return;
  edData->setText(names.first());
  if (SelectedDataStructure() == dsLocationSequence) {
    try {
      fSequenceFile = names.first();
      ReadLocationSequence(Std(names.first()), fSequence);
    } catch (const std::exception& e) {
      UpdateControls();
      ShowErrorBox(Q(e.what()));
      return;
    }
  }
  UpdateControls();
}

bool TdlgConnectivity::SequenceMatchesDataFile() {
  // A file chosen while the window was set to a population matrix was not
  // read as a sequence: the run must not analyse the previous file's
  // locations under the new file's name.
  if (fSequenceFile == edData->text()) return true;
  fSequenceFile = edData->text();
  try {
    ReadLocationSequence(Std(fSequenceFile), fSequence);
  } catch (const std::exception& e) {
    ShowErrorBox(Q(e.what()));
    return false;
  }
  return true;
}

void TdlgConnectivity::btViewDataClick() {
  if (edData->text().isEmpty()) return;
  if (SelectedDataStructure() == dsLocationSequence) {
    if (fSequence.LocationsLoaded) fViews.emplace_back(ShowTracksView(fSequence.Locations));
    return;
  }
  // The run echoes the data to the log; viewing it does not, so that the
  // log holds it once per run.
  TAnalysisSettings s = ReadSettings();
  s.EchoMatrices = false;
  s.EchoSamplePoints = false;
  tReporter silent;
  try {
    ReadPopulationFile(s, fPopulation, silent);
  } catch (const std::exception& e) {
    ShowErrorBox(Q(e.what()));
    return;
  }
  if (fMaps.BinaryMaps.empty())
    AppendLog(Q(s.DataFile + ": " + std::to_string(fPopulation.SamplePoints.size()) +
                " sample points read; load a binary map to see them on the patch map"));
  if (!fMaps.BinaryMaps.empty()) fViews.emplace_back(ShowPatchMapView(fPopulation.SamplePoints));
}

void TdlgConnectivity::Saveecomapslist1Click() {
  if (fRun->Running()) return;
  const QStringList names = AskFiles(tFileDialog::SaveList);
  if (names.isEmpty()) return;
  fLastSaveListName = names.first();
  try {
    fMaps.SaveMapList(Std(fLastSaveListName));
  } catch (const std::exception& e) {
    ShowErrorBox(Q(e.what()));
  }
}

void TdlgConnectivity::Openecomaplist1Click() {
  if (fRun->Running()) return;
  const QStringList names = AskFiles(tFileDialog::OpenList);
  if (names.isEmpty()) return;
  try {
    fMapListFile = tMapSet::ReadMapList(Std(names.first()));
  } catch (const std::exception& e) {
    ShowErrorBox(Q(e.what()));
    return;
  }
  const bool previous = fBatchMode;
  fBatchMode = true;
  btVarBinaryClick();
  fBatchMode = previous;
}

void TdlgConnectivity::Batchcommand1Click() {
  Saveecomapslist1Click();
  TAnalysisSettings s = ReadSettings();
  // "none" at position 5 gives the fixed-width default; any other name must be
  // written out or the line would not reproduce the reports' names.
  s.NameOnCommandLine = s.NameOnCommandLine ||
                        s.ProjectName != DefaultProjectName(caFixedWidthStrip);
  for (const std::string& line : BatchCommandLogLines(
           s, Std(QCoreApplication::applicationFilePath()), Std(fLastSaveListName)))
    AppendLog(Q(line));
}

// ---------------------------------------------------------------------------
// Runs

void TdlgConnectivity::StartRun(tRunKind kind, TAnalysisSettings settings, const QString& workDir,
                                const std::string& logFile) {
  tRunInput in;
  in.LogFile = logFile;
  in.Kind = kind;
  in.Settings = std::move(settings);
  in.WorkDir = Std(workDir);
  // The reports do not depend on the thread count; the bootstrap's walks
  // continue one generator, so it stays on one thread.
  in.Threads = kind == tRunKind::Bootstrap ? 1 : 0;
  if (kind != tRunKind::Matrix && !SequenceMatchesDataFile()) return;
  fMaps.BuildMapList();
  fLastCorridorMap.clear();
  if (!fRun->Start(std::move(in))) return;
  QApplication::setOverrideCursor(Qt::BusyCursor);
  UpdateControls();
}

void TdlgConnectivity::btOKClick() {
  if (fRun->Running()) return;
  StartRun(SelectedDataStructure() == dsLocationSequence ? tRunKind::Sequence : tRunKind::Matrix,
           ReadSettings(), QDir::currentPath());
}

void TdlgConnectivity::btBootstrapClick() {
  if (fRun->Running()) return;
  StartRun(tRunKind::Bootstrap, ReadSettings(), QDir::currentPath());
}

void TdlgConnectivity::btCancelClick() {
  if (fRun->RequestCancel()) btCancel->setEnabled(false);
}

void TdlgConnectivity::ShowRunMessage(bool error, const QString& text) {
  // While the window closes, boxes of the run being cancelled are answered.
  if (fClosing) return;
  if (error)
    ShowErrorBox(text);
  else
    ShowWarningBox(text);
}

void TdlgConnectivity::RunEndedSlot() {
  QApplication::restoreOverrideCursor();
  const tRunEnd& end = fRun->LastEnd();
  if (!end.CorridorMap.empty()) fLastCorridorMap = Q(end.CorridorMap);
  UpdateControls();
  if (end.Status == tRunStatus::Failed && !fClosing) ShowErrorBox(Q(end.Error));
  if (fBatchLogFile) {
    const std::string logFile = *fBatchLogFile;
    fBatchLogFile.reset();
    fBatchMode = false;
    if (end.Status != tRunStatus::Failed) {
      try {
        SaveLogLines(logFile, LogLines());
        emit RunEnded();
        QuitProgram();
        return;
      } catch (const std::exception& e) {
        ShowErrorBox(Q(e.what()));
      }
    }
  }
  emit RunEnded();
}

void TdlgConnectivity::FormActivate() {
  std::vector<std::string> args{Std(QCoreApplication::applicationFilePath())};
  for (const QString& a : fArgs) args.push_back(Std(a));
  if (fBatchStarted || !IsBatchCommandLine(args)) return;
  fBatchStarted = true;
  fBatchMode = true;
  RunBatch();
}

void TdlgConnectivity::RunBatch() {
  std::vector<std::string> args{Std(QCoreApplication::applicationFilePath())};
  for (const QString& a : fArgs) args.push_back(Std(a));
  std::optional<tBatchJob> plan;
  try {
    plan = PrepareBatch(args);
  } catch (const std::exception& e) {
    fBatchMode = false;
    ShowErrorBox(Q(e.what()));
    return;
  }
  if (!plan) {
    // A batch line without its required positions is an error like any
    // other batch error: the window stays for interactive use.
    fBatchMode = false;
    ShowErrorBox(Q(MissingBatchPositionsMessage(args)));
    return;
  }
  fMapListFile = plan->MapFiles;
  btVarBinaryClick();
  TAnalysisSettings s = ReadSettings();
  s.DataStructure = dsPopulationMatrix;
  try {
    ApplyBatch(*plan, args, s);
  } catch (const std::exception& e) {
    fBatchMode = false;
    ShowErrorBox(Q(e.what()));
    return;
  }
  WriteSettings(s);
  fBatchLogFile = plan->LogFile;
  StartRun(tRunKind::Matrix, s, Q(plan->WorkDir), plan->LogFile);
}

// ---------------------------------------------------------------------------
// Log

void TdlgConnectivity::AppendLog(const QString& text) {
  QTextCursor c(mmOutput->document());
  c.movePosition(QTextCursor::End);
  QScrollBar* bar = mmOutput->verticalScrollBar();
  const bool atBottom = bar->value() == bar->maximum();
  for (const std::string& line : SplitLines(Std(text))) {
    // An empty first line must stay a line of its own.
    if (fLogStarted) c.insertBlock();
    c.insertText(Q(line));
    fLogStarted = true;
  }
  if (atBottom) bar->setValue(bar->maximum());
}

std::vector<std::string> TdlgConnectivity::LogLines() const {
  std::vector<std::string> lines;
  for (QTextBlock b = mmOutput->document()->begin(); b.isValid(); b = b.next())
    lines.push_back(Std(b.text()));
  if (!fLogStarted && lines.size() == 1 && lines[0].empty()) lines.clear();
  return lines;
}

// ---------------------------------------------------------------------------
// Dialogs, boxes and secondary windows

QStringList TdlgConnectivity::AskFiles(tFileDialog which) {
  QFileDialog dlg(this);
  switch (which) {
  case tFileDialog::OpenImage:
    dlg.setWindowTitle(QStringLiteral("Select input maps"));
    // IDRISI maps first (the dialog opens on them), then the formats read through GDAL.
    dlg.setNameFilters(Q(QtFileFilter(AnyMapFileFilter())).split(QStringLiteral(";;")));
    dlg.setDefaultSuffix(Q(ImageExt()).remove(0, ImageExt().rfind('.') == 0 ? 1 : 0));
    dlg.setFileMode(QFileDialog::ExistingFiles);
    break;
  case tFileDialog::OpenMatrix:
    dlg.setWindowTitle(QStringLiteral("Select distance matrix file"));
    dlg.setNameFilters(
        Q(QtFileFilter("Text files (*.txt)|*.txt|Matrix files (*.mat)|*.mat|All files (*.*)|*.*"))
            .split(QStringLiteral(";;")));
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setSizeGripEnabled(true);
    break;
  case tFileDialog::OpenList:
  case tFileDialog::SaveList:
    dlg.setWindowTitle(which == tFileDialog::OpenList
                           ? QStringLiteral("Open ecogeographic map list")
                           : QStringLiteral("Save ecogeographic map list"));
    dlg.setNameFilters(Q(QtFileFilter("Text files (*.txt)|*.txt|All files (*.*)|*.*"))
                           .split(QStringLiteral(";;")));
    dlg.setDefaultSuffix(QStringLiteral("txt"));
    if (which == tFileDialog::SaveList) {
      dlg.setAcceptMode(QFileDialog::AcceptSave);
      dlg.setFileMode(QFileDialog::AnyFile);
    } else {
      dlg.setFileMode(QFileDialog::ExistingFile);
    }
    break;
  }
  if (dlg.exec() != QDialog::Accepted) return {};
  return dlg.selectedFiles();
}

void TdlgConnectivity::ShowErrorBox(const QString& message) {
  QMessageBox::critical(this, QStringLiteral("Stravex"), message, QMessageBox::Ok);
}

void TdlgConnectivity::ShowWarningBox(const QString& message) {
  QMessageBox::information(this, QStringLiteral("Stravex"), message, QMessageBox::Ok);
}

void TdlgConnectivity::QuitProgram() { close(); }

void TdlgConnectivity::ShowMap(const QString& mapFile, bool corridor) {
  fViews.emplace_back(ShowMapView(Std(mapFile), corridor, SamplePointsForMap()));
}

std::vector<std::pair<double, double>> TdlgConnectivity::SamplePointsForMap() {
  std::vector<std::pair<double, double>> points;
  if (SelectedDataStructure() == dsLocationSequence) {
    if (fSequence.LocationsLoaded)
      for (const tLocation& l : fSequence.Locations) points.emplace_back(l.X, l.Y);
    return points;
  }
  if (edData->text().isEmpty()) return points;
  TAnalysisSettings s = ReadSettings();
  s.EchoMatrices = false;
  s.EchoSamplePoints = false;
  tReporter silent;
  tPopulationData data;
  try {
    ReadPopulationFile(s, data, silent);
  } catch (const std::exception&) {
    return points; // the map alone is still worth showing
  }
  for (const auto& p : data.SamplePoints) points.emplace_back(p.x, p.y);
  return points;
}

QString TdlgConnectivity::MapFileOf(QWidget* source) const {
  const auto pick = [](const QComboBox* cb, const std::vector<std::unique_ptr<tLiveRaster>>& maps) {
    const int i = cb->currentIndex();
    return i >= 0 && i < static_cast<int>(maps.size()) ? Q(maps[static_cast<size_t>(i)]->FileName)
                                                       : QString();
  };
  if (source == cbVarBinary) return pick(cbVarBinary, fMaps.BinaryMaps);
  if (source == cbVarQuant) return pick(cbVarQuant, fMaps.QuantitativeMaps);
  if (source == edVarTopo)
    return fMaps.TopographyMap ? Q(fMaps.TopographyMap->FileName) : QString();
  // The corridor map is read only once its run has ended.
  if (source == edCorridorMap && !fRun->Running()) return fLastCorridorMap;
  return {};
}

void TdlgConnectivity::ViewMap(QWidget* source) {
  const QString file = MapFileOf(source);
  if (file.isEmpty()) return;
  try {
    ShowMap(file, source == edCorridorMap);
  } catch (const std::exception& e) {
    ShowErrorBox(Q(e.what()));
  }
}

void TdlgConnectivity::MapContextMenu(QWidget* source, const QPoint& at) {
  std::unique_ptr<QMenu> menu;
  if (auto* edit = qobject_cast<QLineEdit*>(source))
    menu.reset(edit->createStandardContextMenu());
  else
    menu = std::make_unique<QMenu>();
  if (!menu->isEmpty()) menu->addSeparator();
  QAction* view = menu->addAction(QStringLiteral("View map"));
  view->setEnabled(!MapFileOf(source).isEmpty());
  if (menu->exec(source->mapToGlobal(at)) == view) ViewMap(source);
}

TfHelp* TdlgConnectivity::HelpWindow() {
  if (!fHelp) {
    fOwnHelp = std::make_unique<TfHelp>();
    fHelp = fOwnHelp.get();
  }
  return fHelp;
}

TfAboutBox* TdlgConnectivity::AboutBox() {
  if (!fAbout) {
    fOwnAbout = std::make_unique<TfAboutBox>(this);
    fAbout = fOwnAbout.get();
  }
  return fAbout;
}

// Not modal: the main window stays usable.
void TdlgConnectivity::btHelpClick() {
  TfHelp* help = HelpWindow();
  help->show();
  help->raise();
  help->activateWindow();
}

void TdlgConnectivity::About1Click() { AboutBox()->exec(); }

void TdlgConnectivity::Exit1Click() { close(); }

// ---------------------------------------------------------------------------
// Window events

void TdlgConnectivity::showEvent(QShowEvent* e) {
  TCustomGeodrellDialog::showEvent(e);
  // Batch mode starts once the window is up and the loop runs.
  QMetaObject::invokeMethod(this, &TdlgConnectivity::FormActivate, Qt::QueuedConnection);
}

void TdlgConnectivity::changeEvent(QEvent* e) {
  TCustomGeodrellDialog::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TdlgConnectivity::closeEvent(QCloseEvent* e) {
  if (fRun->Running()) {
    fClosing = true;
    fRun->RequestCancel();
    fRun->WaitForEnd();
  }
  TCustomGeodrellDialog::closeEvent(e);
  if (e->isAccepted()) emit Closed();
  fClosing = false;
}
