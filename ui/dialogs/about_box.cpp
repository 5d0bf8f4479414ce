#include "ui/dialogs/about_box.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogs/application_icon.h"
#include "ui/dialogs/product.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dialog100"));
  setWindowTitle(QString::fromUtf8(windowText(WindowText::AboutTitle)));
  setWindowIcon(applicationIcon());

  auto* icon = new QLabel;
  icon->setPixmap(applicationIcon().pixmap(64, 64));
  auto* name = new QLabel(QStringLiteral("%1 %2").arg(QString::fromUtf8(kProductName),
                                                      QString::fromUtf8(kVersionText)));
  name->setObjectName(QStringLiteral("static1010"));
  QFont font = name->font();
  font.setPointSizeF(font.pointSizeF() * 1.4);
  font.setBold(true);
  name->setFont(font);

  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("button1"));
  ok->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addSpacing(12);
  top->addWidget(name, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
}

void showAboutBox(QWidget* parent) {
  AboutBox box(parent);
  box.exec();
}

}  // namespace kestrix
