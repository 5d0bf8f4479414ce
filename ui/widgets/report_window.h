// The report window: a read-only text and an OK button, used
// for the scan's restore list and the result text of a disk image copy.
//
// Layout on every resize: the text covers the client area from the top-left
// corner, full width and height − 40; OK keeps its size and sits at
// (width − 120, height − 30). Texts arrive with CR LF line ends.
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;

namespace kestrix {

class ReportWindow : public QDialog {
  Q_OBJECT

 public:
  // Caption when the caller gives none.
  static constexpr const char* kDefaultTitle = "スキャン結果";
  // Caption after a disk image copy.
  static constexpr const char* kCopyResultTitle = "イメージ作成の結果";
  static constexpr int kInitialWidth = 520;
  static constexpr int kInitialHeight = 400;

  // An empty title gives kDefaultTitle. `text` may use CR LF or LF.
  ReportWindow(const QString& text, const QString& title = QString(), QWidget* parent = nullptr);

  // The text as shown (LF line ends).
  QString text() const;
  QPlainTextEdit* textField() const { return text_; }  // "edit1028"
  QPushButton* okButton() const { return ok_; }         // "button1"

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void layOut();

  QPlainTextEdit* text_;
  QPushButton* ok_;
};

}  // namespace kestrix
