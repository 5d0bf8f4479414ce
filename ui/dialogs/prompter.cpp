#include "ui/dialogs/prompter.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QMessageBox>

namespace kestrix {

namespace {

// The file dialog's list over its QFileSystemModel, with the modified
// column in the program's form. The model's own text follows the session's
// locale, which on a Linux box set to C or English is not Japanese.
class JapaneseDatesProxy : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& index, int role) const override {
    // Column 3 of QFileSystemModel is "Date Modified".
    if (role == Qt::DisplayRole && index.column() == 3) {
      if (const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel())) {
        const QDateTime modified = files->lastModified(mapToSource(index));
        if (modified.isValid())
          return modified.toString(QString::fromLatin1(kFileDialogDateFormat));
      }
    }
    return QIdentityProxyModel::data(index, role);
  }
};

}  // namespace

void useJapaneseDates(QFileDialog& dialog) {
  dialog.setProxyModel(new JapaneseDatesProxy(&dialog));
}

void MessageBoxPrompter::inform(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox::information(parent, caption, text, QMessageBox::Ok);
}

std::unique_ptr<QMessageBox> makeQuestionBox(QWidget* parent, const QString& caption,
                                             const QString& text, DefaultAnswer defaultAnswer) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Question, caption, text,
                                           QMessageBox::Yes | QMessageBox::No, parent);
  box->setDefaultButton(defaultAnswer == DefaultAnswer::Yes ? QMessageBox::Yes : QMessageBox::No);
  // Esc always means No, whichever button Return presses.
  box->setEscapeButton(QMessageBox::No);
  return box;
}

bool MessageBoxPrompter::ask(QWidget* parent, const QString& caption, const QString& text,
                             DefaultAnswer defaultAnswer) {
  const std::unique_ptr<QMessageBox> box = makeQuestionBox(parent, caption, text, defaultAnswer);
  return box->exec() == QMessageBox::Yes;
}

void MessageBoxPrompter::warn(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox::warning(parent, caption, text, QMessageBox::Ok);
}

QString MessageBoxPrompter::chooseOpenFile(QWidget* parent, const QString& caption,
                                           const QString& filter) {
  QFileDialog dialog(parent, caption, QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  useJapaneseDates(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

QString MessageBoxPrompter::chooseSaveFile(QWidget* parent, const QString& caption,
                                           const QString& filter, const QString& defaultSuffix) {
  // The static getSaveFileName has no default-suffix parameter, so the
  // dialog is built here.
  QFileDialog dialog(parent, caption, QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(defaultSuffix);
  // The create-image command asks its own question before it replaces an
  // existing image; a second question from the dialog would only confuse.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  useJapaneseDates(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

Prompter& defaultPrompter() {
  static MessageBoxPrompter prompter;
  return prompter;
}

}  // namespace kestrix
