#include "ui/widgets/report_text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace kestrix {

namespace {

// UTF-8 → CP932 through iconv; false on a character CP932 lacks.
bool toShiftJis(const QByteArray& utf8, QByteArray& out) {
  // CP932 rather than strict SHIFT_JIS: it holds the Windows extensions
  // (circled digits, roman numerals) and maps "～" the way Windows does.
  const iconv_t converter = iconv_open("CP932", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  // Every UTF-8 character takes at least one byte and becomes at most two.
  QByteArray result(utf8.size() * 2 + 1, '\0');
  char* in = const_cast<char*>(utf8.constData());
  size_t inLeft = static_cast<size_t>(utf8.size());
  char* next = result.data();
  size_t outLeft = static_cast<size_t>(result.size());
  const size_t done = iconv(converter, &in, &inLeft, &next, &outLeft);
  iconv_close(converter);
  if (done == static_cast<size_t>(-1) || inLeft != 0) return false;
  result.truncate(static_cast<qsizetype>(next - result.data()));
  out = result;
  return true;
}

}  // namespace

bool encodeWindowsText(const QString& text, TextEncoding encoding, QByteArray& out) {
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  lines.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  const QByteArray utf8 = lines.toUtf8();
  if (encoding == TextEncoding::Utf8) {
    out = utf8;
    return true;
  }
  return toShiftJis(utf8, out);
}

}  // namespace kestrix
