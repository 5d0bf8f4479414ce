// The report window: a read-only text and an OK button, used
// for the scan's restore list and the result text of a disk image copy.
// Its text can be saved as a file (UTF-8 or Shift-JIS, CR LF) and copied to
// the clipboard, so a report outlives the window.
//
// Layout on every resize: the text covers the client area from the top-left
// corner, full width and height − 40; OK keeps its size and sits at
// (width − 120, height − 30); Save, the encoding box and Copy sit in the
// same band from the left. Texts arrive with CR LF line ends.
#pragma once

#include <QDialog>
#include <QString>

#include "ui/dialogs/prompter.h"
#include "ui/widgets/report_text_encoding.h"

class QComboBox;
class QPlainTextEdit;
class QPushButton;

namespace kestrix {

class ReportWindow : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kInitialWidth = 520;
  static constexpr int kInitialHeight = 400;

  // An empty title gives WindowText::ReportDefaultTitle. `text` may use CR LF or LF. Boxes
  // and the file choice go through `prompter`.
  ReportWindow(const QString& text, const QString& title = QString(), QWidget* parent = nullptr,
               Prompter& prompter = defaultPrompter());

  // Asks for a file and writes the text there in the encoding the box
  // shows; asks before replacing a file. True when the file was written.
  bool saveText();
  // Writes the text to `path` (CR LF, `encoding`) through a temporary file,
  // so a failed write leaves an existing file whole. Shows the failure and
  // returns false.
  bool saveTextTo(const QString& path, TextEncoding encoding);
  // The text (LF line ends, as other programs paste it) onto the clipboard.
  void copyText();
  TextEncoding encoding() const;

  // The text as shown (LF line ends).
  QString text() const;
  QPlainTextEdit* textField() const { return text_; }   // "edit1028"
  QPushButton* okButton() const { return ok_; }         // "button1"
  QPushButton* saveButton() const { return save_; }     // "buttonSave"
  QPushButton* copyButton() const { return copy_; }     // "buttonCopy"
  QComboBox* encodingBox() const { return encoding_; }  // "comboEncoding": UTF-8, Shift-JIS

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void layOut();

  Prompter& prompter_;
  QPlainTextEdit* text_;
  QPushButton* ok_;
  QPushButton* save_;
  QPushButton* copy_;
  QComboBox* encoding_;
};

}  // namespace kestrix
