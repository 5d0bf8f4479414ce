#include "ui/dialogs/application_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kestrix {

namespace {

// The shapes of desktop/kestrix.svg on its 64 × 64 grid.
void paintIcon(QPainter& painter) {
  painter.setRenderHint(QPainter::Antialiasing, true);

  QPainterPath card;
  card.moveTo(16, 10);
  card.lineTo(40, 10);
  card.lineTo(50, 20);
  card.lineTo(50, 58);
  card.quadTo(50, 60, 48, 60);
  card.lineTo(16, 60);
  card.quadTo(14, 60, 14, 58);
  card.lineTo(14, 12);
  card.quadTo(14, 10, 16, 10);
  card.closeSubpath();
  painter.setPen(QPen(QColor(0x1a2f48), 1.5));
  painter.setBrush(QColor(0x2b4a6f));
  painter.drawPath(card);

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xe8c35a));
  for (int x : {19, 24, 29, 34}) painter.drawRect(QRectF(x, 13, 3, 8));
  painter.setBrush(QColor(0xdfe7f0));
  painter.drawRoundedRect(QRectF(18, 40, 28, 16), 2, 2);

  QPainterPath wings;
  wings.moveTo(4, 30);
  wings.quadTo(18, 20, 32, 29);
  wings.quadTo(46, 20, 60, 30);
  wings.quadTo(48, 31, 39, 35);
  wings.lineTo(35, 36);
  wings.quadTo(33, 37, 32, 37);
  wings.quadTo(31, 37, 29, 36);
  wings.lineTo(25, 35);
  wings.quadTo(16, 31, 4, 30);
  wings.closeSubpath();
  const QPen outline(QColor(0x6e2f12), 1);
  painter.setPen(outline);
  painter.setBrush(QColor(0xc0622f));
  painter.drawPath(wings);

  QPainterPath tail;
  tail.moveTo(29, 35);
  tail.lineTo(35, 35);
  tail.lineTo(38, 47);
  tail.lineTo(32, 49);
  tail.lineTo(26, 47);
  tail.closeSubpath();
  painter.setBrush(QColor(0xa34f22));
  painter.drawPath(tail);

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x7a3a18));
  painter.drawEllipse(QPointF(32, 29), 4, 4);
  painter.setBrush(Qt::white);
  painter.drawEllipse(QPointF(33.5, 28.2), 0.9, 0.9);
}

QPixmap iconPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.scale(size / 64.0, size / 64.0);
  paintIcon(painter);
  return pixmap;
}

}  // namespace

QIcon applicationIcon() {
  static const QIcon icon = [] {
    QIcon built;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) built.addPixmap(iconPixmap(size));
    return built;
  }();
  return icon;
}

}  // namespace kestrix
