#pragma once
// The Log page: what runs and commands report, line by line.
#include <QWidget>

#include <string>
#include <vector>

class QPlainTextEdit;

namespace stravex::gui {

class tLogPage : public QWidget {
  Q_OBJECT
public:
  explicit tLogPage(QWidget* parent = nullptr);
  // Each line of text as a line of the log; the view follows the end when it was there.
  void Append(const QString& text);
  std::vector<std::string> Lines() const;

private:
  QPlainTextEdit* mmOutput;
  bool fStarted = false; // an empty first line must stay a line of its own
};

} // namespace stravex::gui
