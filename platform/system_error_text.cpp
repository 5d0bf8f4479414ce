#include "platform/system_error_text.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <locale.h>

namespace kestrix {

namespace {

struct ErrorText {
  int error;
  const char* text;
};

// The errors a rescue meets: writing restored files and images, reading
// cards and images, opening folders. The wording says what it means for
// the user's work rather than restating the English.
constexpr ErrorText kErrorTexts[] = {
    {EROFS, "読み取り専用のため書き込みできません"},
    {EACCES, "アクセスが許可されていません"},
    {EPERM, "この操作は許可されていません"},
    {ENOSPC, "ディスクの空き容量が足りません"},
    {EDQUOT, "ディスクの使用量の上限を超えています"},
    {EFBIG, "ファイルが大きすぎて保存できません"},
    {ENOENT, "ファイルまたはフォルダがありません"},
    {ENOTDIR, "フォルダではありません"},
    {EISDIR, "フォルダです"},
    {EEXIST, "同じ名前のファイルが既にあります"},
    {ENOTEMPTY, "フォルダが空ではありません"},
    {ENAMETOOLONG, "名前が長すぎます"},
    {ELOOP, "シンボリックリンクが多すぎます"},
    {EINVAL, "この名前または操作は使えません"},
    {EIO, "読み書き中に入出力エラーが発生しました"},
    {ENXIO, "装置が応答しません"},
    {ENODEV, "装置が見つかりません"},
    {ENOMEDIUM, "メディアが入っていません"},
    {EBUSY, "使用中です"},
    {ETXTBSY, "使用中です"},
    {ENOMEM, "メモリが足りません"},
    {EMFILE, "開いているファイルが多すぎます"},
    {ENFILE, "開いているファイルが多すぎます"},
    {EINTR, "中断されました"},
    {EAGAIN, "一時的に使えません。しばらくしてからやり直してください"},
    {ETIMEDOUT, "応答がないまま時間切れになりました"},
    {ESTALE, "ネットワーク上のファイルが使えなくなりました"},
    {EXDEV, "別のドライブの間ではできません"},
    {EOPNOTSUPP, "このファイルシステムではできない操作です"},
    {EBADF, "ファイルが開かれていません"},
    {ESPIPE, "この種類のファイルでは位置を指定できません"},
};

}  // namespace

std::string englishErrorText(int error) {
  // One "C" locale for the process; strerror_l reads it without touching the
  // global locale, so any thread may call this.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (cLocale != static_cast<locale_t>(0)) return strerror_l(error, cLocale);
  return std::strerror(error);
}

std::string systemErrorText(int error) {
  std::string text;
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.error == error) {
      text = entry.text;
      break;
    }
  }
  if (text.empty()) text = "システムエラー " + std::to_string(error);
  return text + "（" + englishErrorText(error) + "）";
}

std::string withSystemError(const std::string& what, int error) {
  return what + "：" + systemErrorText(error);
}

}  // namespace kestrix
