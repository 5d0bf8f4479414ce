// "プロパティ": read-only facts about one row of the candidate list —
// name, expected size, start and end byte, maker, model, shot date, byte
// order and GPS presence. A file joined from pieces of the image lists them
// under "断片:", a line each (start – end).
//
//   PropertiesDialog dialog(list, row, this);
//   dialog.exec();
//
// Everything is filled in the constructor. Without a row (−1, or a row
// without a candidate) every box stays empty and no message is shown.
// The boxes are QLineEdits named "edit<control id>" (edit1027 … edit1035),
// so tests and the window's style sheet can find them.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QFormLayout;
class QLineEdit;
class QPlainTextEdit;

namespace kestrix {

class CandidateList;

class PropertiesDialog : public QDialog {
  Q_OBJECT

 public:
  // Control ids of the boxes, in the order shown.
  enum class Control : int {
    FileName = 1027,
    ExpectedSize = 1028,
    StartByte = 1033,
    EndByte = 1034,
    Maker = 1029,
    Model = 1030,
    ShotDate = 1031,
    Endian = 1032,
    Gps = 1035,
  };

  // `list` is read only here and not kept. Shows `row` (the row a context
  // menu was opened on, whatever order the view shows, else the window's
  // first chosen row), or nothing when it does not exist.
  PropertiesDialog(const CandidateList& list, int32_t row, QWidget* parent = nullptr);

  // The text of one box; empty for an unknown id.
  QString fieldText(Control control) const;
  // The lines under "断片:"; empty for a file that is one range.
  QString piecesText() const;

 private:
  QLineEdit* addField(QFormLayout* form, Control control, const char* label);
  void fill(QFormLayout* form, const CandidateList& list, int32_t row);
};

}  // namespace kestrix
