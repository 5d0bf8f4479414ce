// "フォルダの新規作成" (dialog 167): asks for the name of a folder to create.
// It only collects the text; FolderChooser decides whether the name is
// usable and creates the folder.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

namespace kestrix {

class NewFolderDialog : public QDialog {
  Q_OBJECT

 public:
  explicit NewFolderDialog(QWidget* parent = nullptr);

  // The typed name, as typed (nothing is trimmed: a name may end in a space).
  QString name() const;
  QLineEdit* nameEdit() const { return nameEdit_; }  // "edit1023"

 private:
  QLineEdit* nameEdit_ = nullptr;
};

}  // namespace kestrix
