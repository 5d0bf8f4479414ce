#include "ui/widgets/report_window.h"

#include <QPlainTextEdit>
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
}  // namespace

ReportWindow::ReportWindow(const QString& text, const QString& title, QWidget* parent)
    : QDialog(parent), text_(new QPlainTextEdit(this)), ok_(new QPushButton("OK", this)) {
  setWindowTitle(title.isEmpty() ? QString::fromUtf8(kDefaultTitle) : title);
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
}

}  // namespace kestrix
