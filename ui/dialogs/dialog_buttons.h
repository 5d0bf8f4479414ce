// The OK / ｷｬﾝｾﾙ row that the program's small dialogs share.
#pragma once

class QDialog;
class QDialogButtonBox;

namespace kestrix {

// OK (object name "button1", the default button) and "ｷｬﾝｾﾙ" ("button2"),
// wired to the dialog's accept and reject. accept is virtual, so a dialog
// that validates before closing gets its own.
QDialogButtonBox* makeOkCancelButtons(QDialog* dialog);

}  // namespace kestrix
