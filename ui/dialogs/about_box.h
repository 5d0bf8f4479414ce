// The About box (dialog 100), opened from the window's system menu: the
// icon and "Kestrix v1.34b" (product name, a space, the version).
#pragma once

#include <QDialog>

namespace kestrix {

class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);
};

// Shows the box modally over `parent` (may be null).
void showAboutBox(QWidget* parent);

}  // namespace kestrix
