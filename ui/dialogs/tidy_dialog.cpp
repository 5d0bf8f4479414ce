#include "ui/dialogs/tidy_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "texts/job_texts.h"
#include "ui/dialogs/dialog_buttons.h"

namespace kestrix {

namespace {

// The example line: the first row's new name, or that there is none yet.
constexpr const char* kExampleLead = "例: ";
constexpr const char* kExampleUnset = "未設定";

}  // namespace

TidyDialog::TidyDialog(QWidget* parent, Prompter& prompter) : QDialog(parent), prompter_(prompter) {
  setObjectName(QStringLiteral("dialog170"));
  setWindowTitle(QStringLiteral("ファイル名の整頓"));
  setMinimumWidth(320);

  auto* intro = new QLabel(QStringLiteral("好みのファイル名に一括変換します。"));

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
  form->addRow(QStringLiteral("接頭語:"), prefixEdit_);
  form->addRow(QStringLiteral("連番字数:"), digitsEdit_);

  auto* extension = new QLabel(QStringLiteral("拡張子:(*.jpg等)"));
  exampleLabel_ = new QLabel(QStringLiteral("例:"));
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
  exampleLabel_->setText(QString::fromUtf8(kExampleLead) +
                         QString::fromStdString(example.empty() ? kExampleUnset : example));
  return valid;
}

void TidyDialog::accept() {
  std::string problem;
  if (!validate(&problem)) {
    prompter_.inform(this, QString::fromUtf8(kInformationCaption), QString::fromStdString(problem));
    return;
  }
  QDialog::accept();
}

}  // namespace kestrix
