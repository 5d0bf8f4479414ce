#include "ui/widgets/window_texts.h"

#include "texts/job_texts.h"

namespace kestrix {

QString verdictText(bool checked, Verdict verdict, bool reassembled) {
  const char* text = "未確認";
  switch (checked ? verdict : Verdict::Unknown) {
    case Verdict::Intact: text = "正常"; break;
    case Verdict::Damaged: text = "破損"; break;
    case Verdict::Truncated: text = "途中まで"; break;
    case Verdict::Unknown: break;
  }
  QString shown = QString::fromUtf8(text);
  if (checked && reassembled) shown += QString::fromUtf8("（再構成）");
  return shown;
}

QString copyNoticeBoxText(uint64_t code) {
  if (!isCopyNotice(code)) return {};
  QString text = QString::fromUtf8(copyNoticeText(code));
  // Like a failed copy, but nothing read is lost: the map holds it.
  if (code == CopyNoticeDriveLost) text += "\r\n" + QString::fromUtf8(kResumePossibleMessage);
  return text;
}

QString restoreFailuresText(const RestoreOutcome& outcome, int listed) {
  QString text = QString::fromUtf8("%1 個のファイルを復元できませんでした（%2 個は復元しました）。")
                     .arg(outcome.failures.size())
                     .arg(outcome.written);
  int shown = 0;
  for (const RestoreFailure& failure : outcome.failures) {
    if (shown == listed) {
      text += QString::fromUtf8("\r\n…ほか %1 個").arg(outcome.failures.size() - shown);
      break;
    }
    text += QString::fromUtf8("\r\n%1: %2")
                .arg(QString::fromStdString(failure.name),
                     QString::fromStdString(fileProblemText(failure.problem)));
    ++shown;
  }
  return text;
}

}  // namespace kestrix
