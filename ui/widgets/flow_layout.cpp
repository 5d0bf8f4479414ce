#include "ui/widgets/flow_layout.h"

#include <QWidget>
#include <algorithm>

namespace kestrix {

FlowLayout::FlowLayout(QWidget* parent, int horizontalSpacing, int verticalSpacing)
    : QLayout(parent), horizontalSpacing_(horizontalSpacing), verticalSpacing_(verticalSpacing) {}

FlowLayout::~FlowLayout() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void FlowLayout::addItem(QLayoutItem* item) { items_.append(item); }

int FlowLayout::count() const { return static_cast<int>(items_.size()); }

QLayoutItem* FlowLayout::itemAt(int index) const {
  return index >= 0 && index < items_.size() ? items_.at(index) : nullptr;
}

QLayoutItem* FlowLayout::takeAt(int index) {
  return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

Qt::Orientations FlowLayout::expandingDirections() const { return {}; }

bool FlowLayout::hasHeightForWidth() const { return true; }

int FlowLayout::heightForWidth(int width) const { return arrange(QRect(0, 0, width, 0), false); }

QSize FlowLayout::sizeHint() const {
  int width = 0;
  int height = 0;
  int shown = 0;
  for (const QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    const QSize hint = item->sizeHint();
    width += hint.width() + (shown++ > 0 ? horizontalSpacing_ : 0);
    height = std::max(height, hint.height());
  }
  const QMargins margins = contentsMargins();
  return QSize(width + margins.left() + margins.right(), height + margins.top() + margins.bottom());
}

QSize FlowLayout::minimumSize() const {
  QSize size;
  for (const QLayoutItem* item : items_) {
    if (!item->isEmpty()) size = size.expandedTo(item->minimumSize());
  }
  const QMargins margins = contentsMargins();
  return size + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

void FlowLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  arrange(rect, true);
}

int FlowLayout::arrange(const QRect& rect, bool place) const {
  const QRect area = rect.marginsRemoved(contentsMargins());
  // Lines first (which items, how tall), then the places: an item is centred
  // on its line, whose height is known only once the line is complete.
  struct Line {
    int first = 0;
    int last = -1;
    int height = 0;
  };
  QList<Line> lines;
  Line line;
  int x = area.left();
  for (int i = 0; i < items_.size(); ++i) {
    const QLayoutItem* item = items_.at(i);
    if (item->isEmpty()) continue;
    const QSize hint = item->sizeHint();
    const bool lineHasItems = line.last >= line.first;
    if (lineHasItems && x + horizontalSpacing_ + hint.width() > area.right() + 1) {
      lines.append(line);
      line = Line{i, i - 1, 0};
      x = area.left();
    } else if (lineHasItems) {
      x += horizontalSpacing_;
    } else {
      line.first = i;
    }
    x += hint.width();
    line.last = i;
    line.height = std::max(line.height, hint.height());
  }
  if (line.last >= line.first) lines.append(line);

  int y = area.top();
  for (int n = 0; n < lines.size(); ++n) {
    const Line& current = lines.at(n);
    if (n > 0) y += verticalSpacing_;
    if (place) {
      int at = area.left();
      for (int i = current.first; i <= current.last; ++i) {
        QLayoutItem* item = items_.at(i);
        if (item->isEmpty()) continue;
        const QSize hint = item->sizeHint();
        const bool right = i == items_.size() - 1 && (item->alignment() & Qt::AlignRight);
        const int left = right ? std::max(at, area.right() + 1 - hint.width()) : at;
        item->setGeometry(QRect(QPoint(left, y + (current.height - hint.height()) / 2), hint));
        at = left + hint.width() + horizontalSpacing_;
      }
    }
    y += current.height;
  }
  const QMargins margins = contentsMargins();
  return y - area.top() + margins.top() + margins.bottom();
}

}  // namespace kestrix
