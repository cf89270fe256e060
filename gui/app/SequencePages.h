#pragma once
// The two pages of a location sequence: Bootstraps and Parameters.
#include "WindowState.h"
#include "analysis/AnalysisSettings.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

namespace stravex::gui {

class tBootstrapsPage : public QWidget {
  Q_OBJECT
public:
  explicit tBootstrapsPage(QWidget* parent = nullptr);
  void ReadSettings(TAnalysisSettings& s) const;
  void WriteSettings(const TAnalysisSettings& s);
  void ApplyView(const tWindowView& v);

signals:
  void BootstrapRequested();

private:
  QSpinBox* seSeqBootstraps;
  QCheckBox* ckSeqDistanceDistribution;
  QPushButton* btBootstrap;
};

class tSequenceParametersPage : public QWidget {
  Q_OBJECT
public:
  explicit tSequenceParametersPage(QWidget* parent = nullptr);
  // The cell rule is read from the matrix page, which it is kept in step with.
  void ReadSettings(TAnalysisSettings& s) const;
  void WriteSettings(const TAnalysisSettings& s);
  void SetCellRule(int rule);

signals:
  void CellRuleChanged(int rule);

private:
  QSpinBox* seIgnoreTime;
  QComboBox* cbIgnoreUnit;
  QComboBox* cbSeqCellRule;
};

} // namespace stravex::gui
