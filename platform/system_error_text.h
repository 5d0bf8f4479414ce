// What a failed system call tells the user: one Japanese sentence per errno
// value, with the system's own English words kept in parentheses so that a
// user asking for help (or searching the web) still has the exact term.
//
//   systemErrorText(EROFS) → "読み取り専用のため書き込みできません（Read-only file system）"
//
// Every message the window or the command line builds from an errno goes
// through here, so no English text of the C library reaches a user alone.
#pragma once

#include <string>

namespace kestrix {

// The Japanese text of `error` followed by the C library's English text in
// full-width parentheses. A value the table does not know reads
// "システムエラー N（…）".
std::string systemErrorText(int error);

// `what` (our own sentence, without a final stop) followed by "：" and
// systemErrorText(error).
std::string withSystemError(const std::string& what, int error);

// The C library's English text of `error`, the same whatever locale the
// program runs in (strerror follows LC_MESSAGES).
std::string englishErrorText(int error);

}  // namespace kestrix
