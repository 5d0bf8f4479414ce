#include "ui/widgets/report_window.h"
#include "ui/widgets/window_texts.h"

#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QPushButton>
#include <QResizeEvent>
#include <QTextCursor>
#include <algorithm>

namespace kestrix {

namespace {
// Room below the text for the OK button, and the button's place from the
// bottom-right corner.
constexpr int kButtonBand = 40;
constexpr int kButtonRight = 120;
constexpr int kButtonBottom = 30;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 24;
// Save, the encoding box and Copy, from the left edge of the band.
constexpr int kLeftMargin = 10;
constexpr int kGap = 6;
constexpr int kEncodingWidth = 110;
}  // namespace

ReportWindow::ReportWindow(const QString& text, const QString& title, QWidget* parent,
                           Prompter& prompter)
    : QDialog(parent),
      prompter_(prompter),
      text_(new QPlainTextEdit(this)),
      ok_(new QPushButton("OK", this)),
      save_(new QPushButton(QString::fromUtf8(windowText(WindowText::ReportSaveButtonText)), this)),
      copy_(new QPushButton(QString::fromUtf8(windowText(WindowText::ReportCopyButtonText)), this)),
      encoding_(new QComboBox(this)) {
  setWindowTitle(title.isEmpty() ? QString::fromUtf8(windowText(WindowText::ReportDefaultTitle))
                                 : title);
  setSizeGripEnabled(true);
  text_->setObjectName("edit1028");
  text_->setReadOnly(true);
  text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  // The texts line their columns up with tabs.
  text_->setTabStopDistance(text_->fontMetrics().horizontalAdvance(' ') * 8);
  ok_->setObjectName("button1");
  ok_->setDefault(true);
  ok_->resize(kButtonWidth, kButtonHeight);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  save_->setObjectName("buttonSave");
  copy_->setObjectName("buttonCopy");
  encoding_->setObjectName("comboEncoding");
  encoding_->addItem(QStringLiteral("UTF-8"), static_cast<int>(TextEncoding::Utf8));
  encoding_->addItem(QStringLiteral("Shift-JIS"), static_cast<int>(TextEncoding::ShiftJis));
  for (QPushButton* button : {save_, copy_}) {
    button->setAutoDefault(false);
    button->resize(kButtonWidth, kButtonHeight);
  }
  encoding_->resize(kEncodingWidth, kButtonHeight);
  connect(save_, &QPushButton::clicked, this, &ReportWindow::saveText);
  connect(copy_, &QPushButton::clicked, this, &ReportWindow::copyText);

  // Windows line ends would show as a stray mark at every line end.
  QString shown = text;
  shown.replace("\r\n", "\n");
  shown.replace('\r', '\n');
  text_->setPlainText(shown);
  // The top of the text is what the reader wants first.
  text_->moveCursor(QTextCursor::Start);
  resize(kInitialWidth, kInitialHeight);
  layOut();
}

QString ReportWindow::text() const { return text_->toPlainText(); }

void ReportWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  layOut();
}

void ReportWindow::layOut() {
  const int width = this->width();
  const int height = this->height();
  text_->setGeometry(0, 0, width, std::max(0, height - kButtonBand));
  ok_->move(width - kButtonRight, height - kButtonBottom);
  const int top = height - kButtonBottom;
  save_->move(kLeftMargin, top);
  encoding_->move(kLeftMargin + kButtonWidth + kGap, top);
  copy_->move(kLeftMargin + kButtonWidth + kGap + kEncodingWidth + kGap, top);
}

TextEncoding ReportWindow::encoding() const {
  return static_cast<TextEncoding>(encoding_->currentData().toInt());
}

bool ReportWindow::saveText() {
  const QString path = prompter_.chooseSaveFile(
      this, QString::fromUtf8(windowText(WindowText::ReportSaveCaption)),
      QString::fromUtf8(windowText(WindowText::ReportSaveFilter)), QStringLiteral("txt"));
  if (path.isEmpty()) return false;
  // The file dialog of the prompter does not ask before replacing.
  if (QFileInfo::exists(path) &&
      !prompter_.ask(this, QString::fromUtf8(windowText(WindowText::QuestionCaption)),
                     QString::fromUtf8(windowText(WindowText::ReportReplaceQuestion)))) {
    return false;
  }
  return saveTextTo(path, encoding());
}

bool ReportWindow::saveTextTo(const QString& path, TextEncoding encoding) {
  QByteArray bytes;
  if (!encodeWindowsText(text(), encoding, bytes)) {
    prompter_.warn(this, QString::fromUtf8(kApplicationTitle),
                   QString::fromUtf8(windowText(WindowText::ReportNotShiftJisMessage)));
    return false;
  }
  QSaveFile file(path);
  const bool written =
      file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
  if (!written) {
    prompter_.warn(this, QString::fromUtf8(kApplicationTitle),
                   QString::fromUtf8(windowText(WindowText::ReportSaveFailedMessage)) +
                       QStringLiteral("\r\n") + file.errorString());
    return false;
  }
  return true;
}

void ReportWindow::copyText() { QGuiApplication::clipboard()->setText(text()); }

}  // namespace kestrix
