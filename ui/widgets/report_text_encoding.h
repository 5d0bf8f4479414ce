// A report's text as the bytes of a text file other systems read: CR LF
// line ends, in UTF-8 or in Shift-JIS (code page 932, what Windows' Japanese
// programs expect). Qt's own converters have no Shift-JIS, so glibc's iconv
// does it.
#pragma once

#include <QByteArray>
#include <QString>

namespace kestrix {

enum class TextEncoding { Utf8, ShiftJis };

// `text` (LF, CR LF or CR line ends) with every line end made CR LF, in
// `encoding`. False, with `out` untouched, when a character has no Shift-JIS
// form or the converter is missing: nothing is dropped or replaced silently.
bool encodeWindowsText(const QString& text, TextEncoding encoding, QByteArray& out);

}  // namespace kestrix
