// "ファイル名の整頓" (dialog 170): asks for a name prefix and a number of
// serial digits for renaming every row at once.
//
//   TidyDialog dialog(this);
//   const int32_t rows = list.itemCount();     // counted before the dialog
//   if (dialog.exec() == QDialog::Accepted)
//     tidyNames(list, dialog.settings(), rows);
//
// The rules (digits 3..30 as one or two half-width digits, prefix of at most
// 19 characters that a file name can hold) are validateTidySettings'
// (core/tidy_names.h); this dialog only feeds it the boxes. Validation runs
// when the dialog opens, on every change of either box and on OK; the
// example line follows it. OK with invalid boxes shows the problem in an
// information box ("情報") and keeps the dialog open.
#pragma once

#include <QDialog>

#include "ui/dialogs/prompter.h"
#include "core/tidy_names.h"

class QLabel;
class QLineEdit;

namespace kestrix {

class TidyDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TidyDialog(QWidget* parent = nullptr, Prompter& prompter = defaultPrompter());

  // After OK: the accepted prefix and digits. Before, or after a failed
  // validation, digitsText and prefix are empty.
  const TidySettings& settings() const { return settings_; }

  // The boxes, named "edit1024" (prefix), "edit1025" (digits), and the
  // example line "static1026".
  QLineEdit* prefixEdit() const { return prefixEdit_; }
  QLineEdit* digitsEdit() const { return digitsEdit_; }
  QLabel* exampleLabel() const { return exampleLabel_; }

  // Checks the boxes and updates the example line. False when invalid;
  // `problem` (when given) then holds the message for the user.
  bool validate(std::string* problem = nullptr);

 public slots:
  void accept() override;

 private:
  Prompter& prompter_;
  TidySettings settings_;
  QLineEdit* prefixEdit_ = nullptr;
  QLineEdit* digitsEdit_ = nullptr;
  QLabel* exampleLabel_ = nullptr;
};

}  // namespace kestrix
