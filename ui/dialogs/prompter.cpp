#include "ui/dialogs/prompter.h"

#include <QFileDialog>
#include <QMessageBox>

namespace kestrix {

void MessageBoxPrompter::inform(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox::information(parent, caption, text, QMessageBox::Ok);
}

std::unique_ptr<QMessageBox> makeQuestionBox(QWidget* parent, const QString& caption,
                                             const QString& text, DefaultAnswer defaultAnswer) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Question, caption, text,
                                           QMessageBox::Yes | QMessageBox::No, parent);
  box->setDefaultButton(defaultAnswer == DefaultAnswer::Yes ? QMessageBox::Yes
                                                            : QMessageBox::No);
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
