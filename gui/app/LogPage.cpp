#include "LogPage.h"

#include "analysis/BatchRun.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

namespace stravex::gui {

tLogPage::tLogPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("tabLog"));
  auto* l = new QVBoxLayout(this);
  l->setContentsMargins(0, 0, 0, 0);
  mmOutput = new QPlainTextEdit;
  mmOutput->setObjectName(QStringLiteral("mmOutput"));
  QFont f(QStringLiteral("Courier New"));
  f.setStyleHint(QFont::Monospace);
  mmOutput->setFont(f);
  mmOutput->setLineWrapMode(QPlainTextEdit::NoWrap);
  mmOutput->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmOutput->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmOutput->setAccessibleName(QStringLiteral("Log"));
  l->addWidget(mmOutput);
}

void tLogPage::Append(const QString& text) {
  QTextCursor c(mmOutput->document());
  c.movePosition(QTextCursor::End);
  QScrollBar* bar = mmOutput->verticalScrollBar();
  const bool atBottom = bar->value() == bar->maximum();
  for (const std::string& line : SplitLines(text.toStdString())) {
    if (fStarted) c.insertBlock();
    c.insertText(QString::fromStdString(line));
    fStarted = true;
  }
  if (atBottom) bar->setValue(bar->maximum());
}

std::vector<std::string> tLogPage::Lines() const {
  std::vector<std::string> lines;
  for (QTextBlock b = mmOutput->document()->begin(); b.isValid(); b = b.next())
    lines.push_back(b.text().toStdString());
  if (!fStarted && lines.size() == 1 && lines[0].empty()) lines.clear();
  return lines;
}

} // namespace stravex::gui
