#include "AboutBox.h"

#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "StravexIcon.h"
#include "Systeme.h"

namespace stravex::gui {

TfAboutBox::TfAboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Stravex"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setModal(true);
  setFixedSize(354, 246);
  const QIcon icon = StravexIcon();
  setWindowIcon(icon);

  auto* panel = new QFrame(this);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setLineWidth(2);

  auto* programIcon = new QLabel(panel);
  programIcon->setPixmap(icon.pixmap(48, 48));
  programIcon->setFixedSize(52, 52);

  lblProductName = new QLabel(QStringLiteral("Stravex"), panel);
  QFont nameFont(QStringLiteral("Times New Roman"));
  nameFont.setStyleHint(QFont::Serif);
  nameFont.setPixelSize(32);
  nameFont.setItalic(true);
  lblProductName->setFont(nameFont);

  lblVersion = new QLabel(QStringLiteral("Version ") + GetVersionString(4), panel);
  auto* lblCopyright = new QLabel(QStringLiteral("Landscape connectivity and genetics"), panel);
  auto* lblComments = new QLabel(QStringLiteral("By the Stravex team"), panel);

  auto* logo = new QLabel(panel);
  logo->setPixmap(icon.pixmap(64, 64));
  logo->setAlignment(Qt::AlignRight | Qt::AlignBottom);

  auto* top = new QHBoxLayout;
  top->addWidget(programIcon);
  top->addWidget(lblProductName, 1);
  auto* bottom = new QHBoxLayout;
  auto* credits = new QVBoxLayout;
  credits->addWidget(lblVersion);
  credits->addWidget(lblCopyright);
  credits->addWidget(lblComments);
  credits->addStretch();
  bottom->addLayout(credits, 1);
  bottom->addWidget(logo);
  auto* inside = new QVBoxLayout(panel);
  inside->addLayout(top);
  inside->addLayout(bottom, 1);

  btOK = new QPushButton(QStringLiteral("OK"), this);
  btOK->setDefault(true);
  connect(btOK, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btOK);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(panel, 1);
  layout->addLayout(buttons);
}

void TfAboutBox::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // Centred on the screen, not on the main window.
  if (const QScreen* s = screen()) {
    QRect r = frameGeometry();
    r.moveCenter(s->availableGeometry().center());
    move(r.topLeft());
  }
}

} // namespace stravex::gui
