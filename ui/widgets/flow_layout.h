// A layout that sets its items side by side and starts a new line where
// the next one no longer fits, like words in a paragraph. The filter bar
// uses it: one row on a wide window, two or three on a narrow one, instead
// of a row that forces every window to be as wide as all its controls.
//
//   auto* flow = new FlowLayout(parent, 12, 4);
//   flow->addWidget(group);                         // in order, left to right
//   flow->addWidget(label);                         // AlignRight: the last item
//   flow->setAlignment(label, Qt::AlignRight);      // ends at the right edge
//
// Items keep their size hints; each line is as tall as its tallest item, and
// items are centred on it. Only the last item's AlignRight is honoured.
#pragma once

#include <QLayout>
#include <QList>

namespace kestrix {

class FlowLayout : public QLayout {
 public:
  FlowLayout(QWidget* parent, int horizontalSpacing, int verticalSpacing);
  ~FlowLayout() override;

  void addItem(QLayoutItem* item) override;
  int count() const override;
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;

  Qt::Orientations expandingDirections() const override;
  bool hasHeightForWidth() const override;
  int heightForWidth(int width) const override;
  // One line of every item: what the layout would like.
  QSize sizeHint() const override;
  // The widest item: the narrowest the layout can go.
  QSize minimumSize() const override;
  void setGeometry(const QRect& rect) override;

 private:
  // Places the items in `rect` (only measures when `place` is false);
  // returns the height used, margins included.
  int arrange(const QRect& rect, bool place) const;

  QList<QLayoutItem*> items_;
  int horizontalSpacing_;
  int verticalSpacing_;
};

}  // namespace kestrix
