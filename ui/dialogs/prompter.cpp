#include "ui/dialogs/prompter.h"

#include <QFileDialog>
#include <QMessageBox>

namespace kestrix {

void MessageBoxPrompter::inform(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox::information(parent, caption, text, QMessageBox::Ok);
}

bool MessageBoxPrompter::ask(QWidget* parent, const QString& caption, const QString& text) {
  // No is the default button: a stray Enter must not start a long job.
  return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void MessageBoxPrompter::warn(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox::warning(parent, caption, text, QMessageBox::Ok);
}

QString MessageBoxPrompter::chooseOpenFile(QWidget* parent, const QString& caption,
                                           const QString& filter) {
  return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QString MessageBoxPrompter::chooseSaveFile(QWidget* parent, const QString& caption,
                                           const QString& filter,
                                           const QString& defaultSuffix) {
  // The static getSaveFileName has no default-suffix parameter, so the
  // dialog is built here.
  QFileDialog dialog(parent, caption, QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(defaultSuffix);
  // The create-image command asks its own question before it replaces an
  // existing image; a second question from the dialog would only confuse.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

Prompter& defaultPrompter() {
  static MessageBoxPrompter prompter;
  return prompter;
}

}  // namespace kestrix
