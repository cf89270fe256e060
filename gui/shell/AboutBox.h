#pragma once
// The about window: program name, version and credits, shown modally.
#include <QDialog>

class QLabel;
class QPushButton;

namespace stravex::gui {

class TfAboutBox : public QDialog {
  Q_OBJECT
public:
  explicit TfAboutBox(QWidget* parent = nullptr);
  QLabel* VersionLabel() const { return lblVersion; }
  QLabel* ProductName() const { return lblProductName; }
  QPushButton* OKButton() const { return btOK; }

protected:
  void showEvent(QShowEvent* e) override;

private:
  QLabel* lblProductName;
  QLabel* lblVersion;
  QPushButton* btOK;
};

} // namespace stravex::gui
