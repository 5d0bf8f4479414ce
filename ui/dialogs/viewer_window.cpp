#include "ui/dialogs/viewer_window.h"

#include <QPainter>
#include <QPaintEvent>
#include <QResizeEvent>

#include "ui/dialogs/application_icon.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {

namespace {

// Sizing rule of the viewer: big pictures fit a 640-wide window, narrow
// ones get at least 128, the rest open at actual size.
constexpr int64_t kLargeLimit = 480;  // either side above this counts as big
constexpr int64_t kLargeWidth = 640;
constexpr int64_t kNarrowWidth = 128;

}  // namespace

QSize viewerClientSize(int width, int height) {
  if (width < 1 || height < 1) return {};
  const int64_t w = width;
  const int64_t h = height;
  // 640 / (w / h) == 640 × h / w; the integer form truncates exactly.
  if (w > kLargeLimit || h > kLargeLimit) {
    return QSize(static_cast<int>(kLargeWidth), static_cast<int>(kLargeWidth * h / w));
  }
  if (w < kNarrowWidth) {
    return QSize(static_cast<int>(kNarrowWidth), static_cast<int>(kNarrowWidth * h / w));
  }
  return QSize(width, height);
}

ViewerWindow::ViewerWindow(QWidget* parent, Prompter& prompter)
    : QDialog(parent), prompter_(prompter) {
  setObjectName(QStringLiteral("dialog138"));
  setWindowTitle(QString::fromUtf8(windowText(WindowText::ViewerTitle)));
  setWindowIcon(applicationIcon());
  // A sizing border and a close box, no "?" button.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setSizeGripEnabled(false);
  // The picture covers every pixel; the white fill is painted by us.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

ViewerWindow::RunResult ViewerWindow::run() {
  const QSize clientSize =
      picture_.Load(path_) != 0 ? viewerClientSize(picture_.Width(), picture_.Height()) : QSize();
  if (!clientSize.isValid()) {
    picture_.Clear();
    // The viewer is never shown, so the box belongs to whoever asked for it.
    prompter_.inform(parentWidget(), QString::fromUtf8(kApplicationTitle),
                     QString::fromUtf8(windowText(WindowText::NotDisplayableMessage)));
    return RunResult::NotShown;
  }
  // QWidget::resize sizes the client area; the frame comes on top of it.
  resize(clientSize);
  exec();
  return RunResult::Closed;
}

void ViewerWindow::paintEvent(QPaintEvent*) {
  if (scaled_.size() != size()) {
    scaled_ = QImage(size(), QImage::Format_RGB888);
    scaled_.fill(Qt::white);
    // False for a picture DrawScaled will not draw; the white stays.
    picture_.DrawScaled(scaled_.bits(), scaled_.width(), scaled_.height(),
                        static_cast<int>(scaled_.bytesPerLine()), 0, 0, scaled_.width(),
                        scaled_.height(), PixelOrder::Rgb);
  }
  QPainter painter(this);
  painter.drawImage(0, 0, scaled_);
}

void ViewerWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  // Every pixel depends on the new size, not only the uncovered strip.
  update();
}

}  // namespace kestrix
