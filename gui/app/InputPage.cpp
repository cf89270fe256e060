#include "InputPage.h"

#include "PageKit.h"
#include "paths/Corridor.h"
#include "paths/CostPathDecl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include <memory>
#include <vector>

namespace stravex::gui {

using namespace kit;

tInputPage::tInputPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("tabInput"));
  Build();
  Connect();
  // The first algorithm and criterion.
  cbDistance->setCurrentIndex(0);
  cbMinimise->setCurrentIndex(0);
}

void tInputPage::Build() {
  auto* scroll = Named(new QScrollArea, "scrInput");
  scroll->setAccessibleName(QStringLiteral("Input settings"));
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
  cbVarBinary->setToolTip(
      QStringLiteral("Ecological maps storing presence/absence of each relevant land-cover type"));
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
  // "..." replaces a list; "+" adds to it.
  const auto addButton = [](const char* name, const QString& accessible) {
    auto* b = Named(new QPushButton(QStringLiteral("+")), name);
    b->setAccessibleName(accessible);
    b->setToolTip(accessible + QStringLiteral(" to the list, which keeps its maps"));
    b->setFixedWidth(28);
    return b;
  };
  btAddBinary = addButton("btAddBinary", QStringLiteral("Add binary and count maps"));
  btAddQuant = addButton("btAddQuant", QStringLiteral("Add quantitative maps"));
  ge->addWidget(btAddBinary, 0, 3);
  ge->addWidget(btAddQuant, 1, 3);
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
  cbDistance->setToolTip(
      QStringLiteral("Algorithm used to compute the ecological distance between pairs of points"));
  edFirstFriction = Named(new QLineEdit, "edFirstFriction");
  edFirstFriction->setReadOnly(true);
  edFirstFriction->setToolTip(QStringLiteral("Friction map used for the first pass"));
  btBrowseFirst = Browse("btBrowseFirst", QStringLiteral("Choose the friction map"));
  lblFirstFriction = Caption(QStringLiteral("Friction map:"), edFirstFriction, "lblFirstFriction");
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
  auto* l = new QVBoxLayout(this);
  l->setContentsMargins(0, 0, 0, 0);
  l->addWidget(scroll);
}

void tInputPage::Connect() {
  connect(rbMatrix, &QRadioButton::clicked, this, &tInputPage::SwitchDataStructure);
  connect(rbSequence, &QRadioButton::clicked, this, &tInputPage::SwitchDataStructure);
  connect(btVarBinary, &QPushButton::clicked, this, &tInputPage::LoadBinaryRequested);
  connect(btVarQuant, &QPushButton::clicked, this, &tInputPage::LoadQuantitativeRequested);
  connect(btVarTopo, &QPushButton::clicked, this, &tInputPage::LoadTopographyRequested);
  connect(btAddBinary, &QPushButton::clicked, this, &tInputPage::AddBinaryRequested);
  connect(btAddQuant, &QPushButton::clicked, this, &tInputPage::AddQuantitativeRequested);
  connect(btBrowseData, &QPushButton::clicked, this, &tInputPage::BrowseDataRequested);
  connect(btViewData, &QPushButton::clicked, this, &tInputPage::ViewDataRequested);
  connect(btBrowseFirst, &QPushButton::clicked, this, &tInputPage::BrowseFrictionRequested);
  // Another algorithm: its default project name.
  connect(cbDistance, &QComboBox::currentIndexChanged, this, [this] {
    SetDefaultProjectName();
    emit RulesInputChanged();
  });
  connect(edFirstFriction, &QLineEdit::textChanged, this, [this] {
    const QString trimmed = edFirstFriction->text().trimmed();
    if (trimmed != edFirstFriction->text()) edFirstFriction->setText(trimmed); // re-enters once
    emit RulesInputChanged();
  });
  // The path band has a centre cell: odd widths only.
  // Made odd once the number is entered, not at every keystroke: typing 301
  // must not pass through 30 and become 311.
  sePathWidth->setKeyboardTracking(false);
  connect(sePathWidth, &QSpinBox::valueChanged, this, [this] {
    if (sePathWidth->value() % 2 == 0) sePathWidth->setValue(sePathWidth->value() + 1);
  });
  connect(edOutput, &QLineEdit::textChanged, this, &tInputPage::RulesInputChanged);

  auto* numbers = new tRealNumberFilter(this);
  edWFriction->installEventFilter(numbers);
  edWLength->installEventFilter(numbers);
  for (QWidget* w : std::initializer_list<QWidget*>{cbVarBinary, cbVarQuant, edVarTopo, edData,
                                                    edFirstFriction, edOutput, edCorridorMap})
    w->installEventFilter(this);
  for (QWidget* w :
       std::initializer_list<QWidget*>{cbVarBinary, cbVarQuant, edVarTopo, edCorridorMap}) {
    w->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(w, &QWidget::customContextMenuRequested, this,
            [this, w](const QPoint& at) { emit MapMenuRequested(w, at); });
  }
}

// A double-click chooses again, or puts back the default name.
bool tInputPage::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::MouseButtonDblClick) return QWidget::eventFilter(watched, event);
  if (watched == cbVarBinary)
    emit LoadBinaryRequested();
  else if (watched == cbVarQuant)
    emit LoadQuantitativeRequested();
  else if (watched == edVarTopo)
    emit LoadTopographyRequested();
  else if (watched == edData)
    emit BrowseDataRequested();
  else if (watched == edFirstFriction)
    emit BrowseFrictionRequested();
  else if (watched == edOutput)
    SetDefaultProjectName();
  else if (watched == edCorridorMap)
    SetDefaultCorridorName();
  else
    return QWidget::eventFilter(watched, event);
  return true;
}

void tInputPage::SwitchDataStructure() {
  if (DataStructure() != fShownStructure) {
    fShownStructure = DataStructure();
    const QString shown = edData->text();
    edData->setText(fOtherDataFile);
    fOtherDataFile = shown;
  }
  emit RulesInputChanged();
}

TDataStructure tInputPage::DataStructure() const {
  return rbSequence->isChecked() ? dsLocationSequence : dsPopulationMatrix;
}

void tInputPage::ReadSettings(TAnalysisSettings& s) const {
  s.DataStructure = DataStructure();
  s.Connectivity = static_cast<TConnectivityAlgorithm>(cbDistance->currentIndex());
  s.PathWidth = MakeOdd(sePathWidth->value());
  s.Seed = seLeastCostSeed->value();
  s.Minimise = cbMinimise->currentIndex();
  s.FrictionWeight = Std(edWFriction->text());
  s.LengthWeight = Std(edWLength->text());
  s.FrictionMapFile = Std(edFirstFriction->text().trimmed());
  s.CorridorMapName = Std(edCorridorMap->text());
  s.OneMapPerPair = ckOneMapPerPair->isChecked();
  s.ProjectName = Std(edOutput->text());
  s.DataFile = Std(edData->text());
}

void tInputPage::WriteSettings(const TAnalysisSettings& s) {
  // The handlers' side effects (default project name, odd width) must not
  // rewrite what the record says.
  std::vector<std::unique_ptr<QSignalBlocker>> block;
  for (QObject* o : findChildren<QWidget*>()) block.push_back(std::make_unique<QSignalBlocker>(o));
  (s.DataStructure == dsLocationSequence ? rbSequence : rbMatrix)->setChecked(true);
  fShownStructure = s.DataStructure;
  cbDistance->setCurrentIndex(s.Connectivity);
  sePathWidth->setValue(s.PathWidth);
  seLeastCostSeed->setValue(s.Seed);
  cbMinimise->setCurrentIndex(s.Minimise);
  edWFriction->setText(Q(s.FrictionWeight));
  edWLength->setText(Q(s.LengthWeight));
  edFirstFriction->setText(Q(s.FrictionMapFile).trimmed());
  edCorridorMap->setText(Q(s.CorridorMapName));
  ckOneMapPerPair->setChecked(s.OneMapPerPair);
  edOutput->setText(Q(s.ProjectName));
  edData->setText(Q(s.DataFile));
}

void tInputPage::ReadInputs(tWindowInputs& in) const {
  in.HasProjectName = !edOutput->text().isEmpty();
  in.HasDataFile = !edData->text().isEmpty();
  in.HasFrictionMap = !edFirstFriction->text().isEmpty();
  in.HasTopography = !edVarTopo->text().isEmpty();
  in.DataStructure = DataStructure();
  in.Algorithm = static_cast<TConnectivityAlgorithm>(cbDistance->currentIndex());
}

void tInputPage::ApplyView(const tWindowView& v) {
  btViewData->setEnabled(v.ViewDataEnabled);
  for (QWidget* w : std::initializer_list<QWidget*>{
           lblFirstFriction, edFirstFriction, btBrowseFirst, lblSeed, seLeastCostSeed, lblMinimise,
           cbMinimise, lblCorridorMap, edCorridorMap, lblWFriction, edWFriction, lblWLength,
           edWLength})
    w->setVisible(v.LeastCostControlsVisible);
  lblPath->setText(v.PathCaption == tPathCaption::PathCount ? QStringLiteral("&Path #:")
                   : v.PathCaption == tPathCaption::Ratio   ? QStringLiteral("&Length:width ratio:")
                                                            : QStringLiteral("&Strip width:"));
  lblPath->setEnabled(v.PathWidthEnabled);
  sePathWidth->setEnabled(v.PathWidthEnabled);
  SetFace(sePathWidth, v.PathWidthEnabled);
  sePathWidth->setToolTip(Q(v.PathWidthTip));
  lblPath->setToolTip(Q(v.PathLabelTip));
  lblSeed->setEnabled(v.SeedEnabled);
  seLeastCostSeed->setEnabled(v.SeedEnabled);
  SetFace(seLeastCostSeed, v.SeedEnabled);
  seLeastCostSeed->setToolTip(Q(v.SeedTip));
  cbMinimise->setToolTip(Q(v.MinimiseTip));
  for (QWidget* w : std::initializer_list<QWidget*>{btVarBinary, btVarQuant, btVarTopo, btAddBinary,
                                                    btAddQuant, btBrowseData, btBrowseFirst})
    w->setEnabled(v.ChoicesEnabled);
}

QString tInputPage::DataFile() const { return edData->text(); }

void tInputPage::SetDataFile(const QString& file) { edData->setText(file); }

void tInputPage::SetFrictionMap(const QString& file) { edFirstFriction->setText(file); }

void tInputPage::SetDefaultProjectName() {
  edOutput->setText(
      Q(DefaultProjectName(static_cast<TConnectivityAlgorithm>(cbDistance->currentIndex()))));
}

void tInputPage::SetDefaultCorridorName() {
  edCorridorMap->setText(Q(CorridorDefaultName(MinimiseCriterionOf(cbMinimise->currentIndex()))));
}

void tInputPage::ShowMapNames(const QList<QPair<QString, QString>>& binary,
                              const QList<QPair<QString, QString>>& quantitative,
                              const QString& topography) {
  const auto fill = [](QComboBox* cb, const QList<QPair<QString, QString>>& maps) {
    cb->clear();
    for (const auto& [name, file] : maps) {
      cb->addItem(name);
      cb->setItemData(cb->count() - 1, file, Qt::ToolTipRole);
    }
    if (cb->count() > 0) cb->setCurrentIndex(0);
  };
  fill(cbVarBinary, binary);
  fill(cbVarQuant, quantitative);
  edVarTopo->setText(topography);
}

int tInputPage::BinaryIndex() const { return cbVarBinary->currentIndex(); }

int tInputPage::QuantitativeIndex() const { return cbVarQuant->currentIndex(); }

tMapBox tInputPage::MapBoxOf(const QWidget* source) const {
  if (source == cbVarBinary) return tMapBox::Binary;
  if (source == cbVarQuant) return tMapBox::Quantitative;
  if (source == edVarTopo) return tMapBox::Topography;
  if (source == edCorridorMap) return tMapBox::Corridor;
  return tMapBox::None;
}

} // namespace stravex::gui
