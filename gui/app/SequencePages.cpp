#include "SequencePages.h"

#include "PageKit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace stravex::gui {

using namespace kit;

tBootstrapsPage::tBootstrapsPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("tabSeqBootstraps"));
  auto* v = new QVBoxLayout(this);
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
  connect(btBootstrap, &QPushButton::clicked, this, &tBootstrapsPage::BootstrapRequested);
}

void tBootstrapsPage::ReadSettings(TAnalysisSettings& s) const {
  s.Bootstraps = seSeqBootstraps->value();
  s.DistanceDistribution = ckSeqDistanceDistribution->isChecked();
}

void tBootstrapsPage::WriteSettings(const TAnalysisSettings& s) {
  const QSignalBlocker a(seSeqBootstraps), b(ckSeqDistanceDistribution);
  seSeqBootstraps->setValue(s.Bootstraps);
  ckSeqDistanceDistribution->setChecked(s.DistanceDistribution);
}

void tBootstrapsPage::ApplyView(const tWindowView& v) { btBootstrap->setEnabled(v.ChoicesEnabled); }

tSequenceParametersPage::tSequenceParametersPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("tabSeqParameters"));
  auto* v = new QVBoxLayout(this);
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
  const auto [cells, cb] = CellRuleGroup("cbSeqCellRule");
  cbSeqCellRule = cb;
  v->addWidget(cells);
  v->addStretch();
  connect(cbSeqCellRule, &QComboBox::currentIndexChanged, this,
          &tSequenceParametersPage::CellRuleChanged);
}

void tSequenceParametersPage::ReadSettings(TAnalysisSettings& s) const {
  s.IgnoreTime = seIgnoreTime->value();
  s.IgnoreUnit = cbIgnoreUnit->currentIndex();
}

void tSequenceParametersPage::WriteSettings(const TAnalysisSettings& s) {
  const QSignalBlocker a(seIgnoreTime), b(cbIgnoreUnit), c(cbSeqCellRule);
  seIgnoreTime->setValue(s.IgnoreTime);
  cbIgnoreUnit->setCurrentIndex(s.IgnoreUnit);
  cbSeqCellRule->setCurrentIndex(s.CellRule);
}

void tSequenceParametersPage::SetCellRule(int rule) { cbSeqCellRule->setCurrentIndex(rule); }

} // namespace stravex::gui
