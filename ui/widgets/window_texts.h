// The window's words for what its jobs report as codes. The sentences for
// the codes themselves are the command line's too (texts/job_texts.h); what
// only the window says around them lives here, once.
//
//   prompter.inform(this, title, copyNoticeBoxText(notice.code));
#pragma once

#include <QString>

#include <cstdint>

#include "jobs/restore_job.h"

namespace kestrix {

// After a lost card: nothing read is lost, and how to go on.
inline constexpr const char* kResumePossibleMessage =
    "読み取った部分はレスキューマップに記録されています。\r\n"
    "カードを接続し直してから同じファイル名でディスクイメージを作成すると、続きから再開できます。";

// The box for a copy notice (CopyNoticeCode); empty for a value that names
// no notice, which the window does not show.
QString copyNoticeBoxText(uint64_t code);

// The head of the restore's end box when files failed: how many failed
// and how many were written, then "NAME: why" for the first `listed`
// failures and a count of the rest.
QString restoreFailuresText(const RestoreOutcome& outcome, int listed);

}  // namespace kestrix
