// The window's words for what its jobs report as codes. The sentences for
// the codes themselves are the command line's too (texts/job_texts.h); what
// only the window says around them lives here, once.
//
//   prompter.inform(this, title, copyNoticeBoxText(notice.code));
#pragma once

#include <QString>

#include <cstdint>

#include "imaging/check/verdict.h"
#include "jobs/restore_job.h"

namespace kestrix {

// After a lost card: nothing read is lost, and how to go on.
inline constexpr const char* kResumePossibleMessage =
    "読み取った部分はレスキューマップに記録されています。\r\n"
    "カードを接続し直してから同じファイル名でディスクイメージを作成すると、続きから再開できます。";

// The results list's column headers, in its column order: the candidate
// list's seven, then the check's verdict and the unreadable sectors (the
// 512-byte sectors of a find that the card's rescue map does not mark
// finished).
inline constexpr const char* kResultColumnHeaders[] = {
    "復元ファイル", "マシン名", "撮影(更新)日時", "予定サイズ",     "GPS情報",
    "メーカー名",   "バイト順", "状態",           "読めないセクタ",
};

// The column "状態" of a row: its check's verdict ("未確認" also for a row
// not checked yet), followed by "（再構成）" for a row joined from pieces
// of the image.
QString verdictText(bool checked, Verdict verdict, bool reassembled);

// The box for a copy notice (CopyNoticeCode); empty for a value that names
// no notice, which the window does not show.
QString copyNoticeBoxText(uint64_t code);

// The head of the restore's end box when files failed: how many failed
// and how many were written, then "NAME: why" for the first `listed`
// failures and a count of the rest.
QString restoreFailuresText(const RestoreOutcome& outcome, int listed);

}  // namespace kestrix
