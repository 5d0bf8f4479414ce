#include "ui/dialogs/tidy_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "texts/job_texts.h"
#include "ui/dialogs/dialog_buttons.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {

TidyDialog::TidyDialog(QWidget* parent, Prompter& prompter) : QDialog(parent), prompter_(prompter) {
  setObjectName(QStringLiteral("dialog170"));
  setWindowTitle(QString::fromUtf8(windowText(WindowText::TidyNames)));
  setMinimumWidth(320);

  auto* intro = new QLabel(QString::fromUtf8(windowText(WindowText::TidyIntro)));

  prefixEdit_ = new QLineEdit;
  prefixEdit_->setObjectName(QStringLiteral("edit1024"));
  // QLineEdit counts UTF-16 units, so a prefix with characters outside the
  // BMP is cut earlier than 19 characters; the validation counts code points.
  prefixEdit_->setMaxLength(static_cast<int>(kTidyPrefixMaxCharacters));

  digitsEdit_ = new QLineEdit;
  digitsEdit_->setObjectName(QStringLiteral("edit1025"));
  digitsEdit_->setMaxLength(2);
  digitsEdit_->setText(QString::number(settings_.digits));
  digitsEdit_->setMaximumWidth(60);

  auto* form = new QFormLayout;
  form->addRow(QString::fromUtf8(windowText(WindowText::PrefixLabel)), prefixEdit_);
  form->addRow(QString::fromUtf8(windowText(WindowText::DigitsLabel)), digitsEdit_);

  auto* extension = new QLabel(QString::fromUtf8(windowText(WindowText::ExtensionLabel)));
  exampleLabel_ = new QLabel(QString::fromUtf8(windowText(WindowText::ExampleLabel)));
  exampleLabel_->setObjectName(QStringLiteral("static1026"));

  QDialogButtonBox* buttons = makeOkCancelButtons(this);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addLayout(form);
  layout->addWidget(extension);
  layout->addWidget(exampleLabel_);
  layout->addWidget(buttons);

  connect(prefixEdit_, &QLineEdit::textChanged, this, [this] { validate(); });
  connect(digitsEdit_, &QLineEdit::textChanged, this, [this] { validate(); });
  validate();
}

bool TidyDialog::validate(std::string* problem) {
  TidyProblem why = TidyProblem::None;
  const bool valid = validateTidySettings(prefixEdit_->text().toStdString(),
                                          digitsEdit_->text().toStdString(), settings_, &why);
  if (problem != nullptr) *problem = tidyProblemText(why);
  const std::string example = tidyExampleName(settings_);
  exampleLabel_->setText(
      QString::fromUtf8(windowText(WindowText::ExampleLead)) +
      QString::fromStdString(example.empty() ? windowText(WindowText::ExampleUnset) : example));
  return valid;
}

void TidyDialog::accept() {
  std::string problem;
  if (!validate(&problem)) {
    prompter_.inform(this, QString::fromUtf8(windowText(WindowText::InformationCaption)),
                     QString::fromStdString(problem));
    return;
  }
  QDialog::accept();
}

}  // namespace kestrix
