#include "ui/dialogs/dialog_buttons.h"
#include "ui/widgets/window_texts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

namespace kestrix {

QDialogButtonBox* makeOkCancelButtons(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("button1"));
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton(QString::fromUtf8(windowText(WindowText::CancelButton)),
                                           QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("button2"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace kestrix
