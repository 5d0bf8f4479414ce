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

namespace kestrix {

PropertiesDialog::PropertiesDialog(const CandidateList& list, int32_t row, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("dialog171"));
  setWindowTitle(QStringLiteral("プロパティ"));

  auto* form = new QFormLayout;
  addField(form, FileName, "ファイル名:");
  addField(form, ExpectedSize, "予定サイズ(KB):");  // the list's unit
  addField(form, StartByte, "開始バイト:");
  addField(form, EndByte, "終了バイト:");
  addField(form, Maker, "メーカー:");
  addField(form, Model, "機種:");
  addField(form, ShotDate, "撮影日時(更新):");
  addField(form, Endian, "バイト順:");
  addField(form, Gps, "GPS情報:");

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

  std::string text;
  if (list.itemText(row, CandidateList::ColumnName, text)) set(FileName, text);
  text.clear();
  if (list.itemText(row, CandidateList::ColumnSize, text)) set(ExpectedSize, text);
  const Find& find = candidate->find();
  set(StartByte, offsetText(find.start));
  set(EndByte, offsetText(find.end));

  // Each lookup starts from "不明" and is overwritten only when the tag is
  // there; a candidate without an EXIF block simply finds nothing.
  text = kUnknownText;
  candidate->mainChainText(kTagMake, text);
  set(Maker, text);
  text = kUnknownText;
  candidate->mainChainText(kTagModel, text);
  set(Model, text);
  text = kUnknownText;
  candidate->shotDateText(text);
  set(ShotDate, text);
  text = kUnknownText;
  candidate->endianText(text);
  set(Endian, text);
  set(Gps, candidate->hasGps() ? kGpsPresentText : kGpsNoneText);

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
  form->addRow(QString::fromUtf8("断片:"), pieces);
}

}  // namespace kestrix
