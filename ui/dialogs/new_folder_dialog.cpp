#include "ui/dialogs/new_folder_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrix {

NewFolderDialog::NewFolderDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dialog167"));
  setWindowTitle(QStringLiteral("フォルダの新規作成"));

  nameEdit_ = new QLineEdit;
  nameEdit_->setObjectName(QStringLiteral("edit1023"));
  nameEdit_->setMinimumWidth(280);
  auto* label = new QLabel(QStringLiteral("フォルダ名:"));
  label->setBuddy(nameEdit_);

  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("button1"));
  ok->setDefault(true);
  QPushButton* cancel =
      buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("button2"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(nameEdit_);
  layout->addWidget(buttons);
}

QString NewFolderDialog::name() const { return nameEdit_->text(); }

}  // namespace kestrix
