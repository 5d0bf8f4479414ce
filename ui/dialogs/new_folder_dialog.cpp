#include "ui/dialogs/new_folder_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogs/dialog_buttons.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {

NewFolderDialog::NewFolderDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dialog167"));
  setWindowTitle(QString::fromUtf8(windowText(WindowText::NewFolder)));

  nameEdit_ = new QLineEdit;
  nameEdit_->setObjectName(QStringLiteral("edit1023"));
  // Room for a long name, and the typing goes there at once.
  nameEdit_->setMinimumWidth(420);
  auto* label = new QLabel(QString::fromUtf8(windowText(WindowText::FolderNameLabel)));
  label->setBuddy(nameEdit_);

  QDialogButtonBox* buttons = makeOkCancelButtons(this);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(nameEdit_);
  layout->addWidget(buttons);
  nameEdit_->setFocus();
}

QString NewFolderDialog::name() const { return nameEdit_->text(); }

}  // namespace kestrix
