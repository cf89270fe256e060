#pragma once
// The help window: fixed text about the window, the analyses and batch mode.
#include <QString>
#include <QWidget>

class QTextEdit;

namespace stravex::gui {

// The whole help text; section titles are the lines that start with "N. ".
QString HelpText();

class TfHelp : public QWidget {
  Q_OBJECT
public:
  explicit TfHelp(QWidget* parent = nullptr);
  QTextEdit* Text() const { return mmHelp; }

protected:
  // Closing only hides the window; it lives as long as the program.
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;

private:
  QTextEdit* mmHelp;
  bool fShown = false;
};

} // namespace stravex::gui
