#include "ui/dialogs/new_folder_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogs/dialog_buttons.h"

namespace kestrix {

NewFolderDialog::NewFolderDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dialog167"));
  setWindowTitle(QStringLiteral("フォルダの新規作成"));

  nameEdit_ = new QLineEdit;
  nameEdit_->setObjectName(QStringLiteral("edit1023"));
  // Room for a long name, and the typing goes there at once.
  nameEdit_->setMinimumWidth(420);
  auto* label = new QLabel(QStringLiteral("フォルダ名:"));
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
