#include "ui/dialogs/properties_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <string>

#include "imaging/exif_info.h"
#include "core/candidate_list.h"
#include "core/offset_text.h"
#include "texts/row_texts.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {

PropertiesDialog::PropertiesDialog(const CandidateList& list, int32_t row, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("dialog171"));
  setWindowTitle(QString::fromUtf8(windowText(WindowText::Properties)));

  auto* form = new QFormLayout;
  addField(form, Control::FileName, windowText(WindowText::FileNameLabel));
  addField(form, Control::ExpectedSize,
           windowText(WindowText::ExpectedSizeLabel));  // the list's unit
  addField(form, Control::StartByte, windowText(WindowText::StartByteLabel));
  addField(form, Control::EndByte, windowText(WindowText::EndByteLabel));
  addField(form, Control::Maker, windowText(WindowText::MakerLabel));
  addField(form, Control::Model, windowText(WindowText::ModelLabel));
  addField(form, Control::ShotDate, windowText(WindowText::ShotDateLabel));
  addField(form, Control::Endian, windowText(WindowText::EndianLabel));
  addField(form, Control::Gps, windowText(WindowText::GpsLabel));

  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("button1"));
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);

  fill(form, list, row);
}

QLineEdit* PropertiesDialog::addField(QFormLayout* form, Control control, const char* label) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QStringLiteral("edit%1").arg(static_cast<int>(control)));
  edit->setReadOnly(true);
  edit->setMinimumWidth(260);
  form->addRow(QString::fromUtf8(label), edit);
  return edit;
}

QString PropertiesDialog::fieldText(Control control) const {
  const auto* edit = findChild<QLineEdit*>(QStringLiteral("edit%1").arg(static_cast<int>(control)));
  return edit != nullptr ? edit->text() : QString();
}

QString PropertiesDialog::piecesText() const {
  const auto* pieces = findChild<QPlainTextEdit*>(QStringLiteral("editPieces"));
  return pieces != nullptr ? pieces->toPlainText() : QString();
}

void PropertiesDialog::fill(QFormLayout* form, const CandidateList& list, int32_t row) {
  if (row < 0) return;
  const Candidate* candidate = list.candidateAt(row + 1);
  if (candidate == nullptr) return;

  auto set = [this](Control control, const std::string& text) {
    auto* edit = findChild<QLineEdit*>(QStringLiteral("edit%1").arg(static_cast<int>(control)));
    edit->setText(QString::fromStdString(text));
    edit->setCursorPosition(0);
  };

  std::string name;
  if (!list.itemName(row, name)) return;
  // The list's own texts, "不明" where the find lacks a value.
  const RowTexts texts = rowTexts(*candidate, name);
  using Column = RowTexts::Column;
  set(Control::FileName, texts[Column::Name]);
  set(Control::ExpectedSize, texts[Column::Size]);
  const Find& find = candidate->find();
  set(Control::StartByte, offsetText(find.start));
  set(Control::EndByte, offsetText(find.end));
  set(Control::Maker, texts[Column::Maker]);
  set(Control::Model, texts[Column::Model]);
  // Unlike the list's column, the date falls back to DateTime, as the
  // restored file's time does.
  std::string date = kUnknownText;
  candidate->shotDateText(date);
  set(Control::ShotDate, date);
  set(Control::Endian, texts[Column::Endian]);
  set(Control::Gps, texts[Column::Gps]);

  // A joined file's bytes are not its start..end: where each piece lies,
  // in file order, as the offsets above are shown.
  if (find.fragments.empty()) return;
  QString lines;
  for (const FilePiece& piece : find.fragments) {
    if (!lines.isEmpty()) lines += QLatin1Char('\n');
    lines += QString::fromStdString(offsetText(piece.start) + " - " + offsetText(piece.end));
  }
  auto* pieces = new QPlainTextEdit(lines);
  pieces->setObjectName(QStringLiteral("editPieces"));
  pieces->setReadOnly(true);
  pieces->setMinimumWidth(260);
  pieces->setFixedHeight(pieces->fontMetrics().lineSpacing() * (find.fragments.size() > 3 ? 4 : 3) +
                         8);
  form->addRow(QString::fromUtf8(windowText(WindowText::PiecesLabel)), pieces);
}

}  // namespace kestrix
