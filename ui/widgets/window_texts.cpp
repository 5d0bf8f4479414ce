#include "ui/widgets/window_texts.h"

#include "texts/job_texts.h"

namespace kestrix {

namespace {

// id                                  text
constexpr WindowTextEntry kTexts[] = {
    // The main window
    // Texts of the window's own questions and notices.
    {WindowText::ScanQuestion, "選択されたディスクイメージの内容を検査しますか？"},
    {WindowText::ScanEndedMessage, "ディスクイメージの検査を終了しました。"},
    {WindowText::RowsNotAddedMessage,
     "メモリ不足のため、%1 個の候補を一覧に追加できませんでした。"},
    {WindowText::UnreadableImageMessage,
     "ディスクイメージの %1 KiB を読み取れなかったため、0 として扱いました。"},
    {WindowText::IncompleteImageMessage,
     "このディスクイメージは不完全です。\r\n"
     "まだ %1 MiB が読み取られていません（読めない部分は 0 として検査しました）。\r\n"
     "読めないセクタを含むファイルは、一覧の [読めないセクタ] に数が表示されます。"},
    {WindowText::MapUnreadableMessage,
     "レスキューマップ %1 を読み取れないため、マップなしで検査します。\r\n%2"},
    {WindowText::NothingSelectedMessage,
     "現在選択されている復元候補がありません。\r\n復元作業を中止します。"},
    {WindowText::RestoreQuestion, "選択されたファイルの復元を行いますか？"},
    {WindowText::RestoreSucceededMessage, "ファイルの復元に成功しました。"},
    {WindowText::OverwriteQuestion,
     "選択されたファイルは既に存在するものです。\r\n"
     "このファイルを新しいディスクイメージとして置き換えてもよいですか？"},
    {WindowText::ResumeQuestion,
     "このディスクイメージの作成は途中で中断されています。\r\n"
     "読み取り済みの部分はそのままにして、続きから再開しますか？"},
    {WindowText::CopyStoppedMessage,
     "ディスクイメージの作成を中断しました。\r\n"
     "読み取った部分はレスキューマップに記録されています。\r\n"
     "同じファイル名でディスクイメージを作成すると、続きから再開できます。"},
    {WindowText::StopCopyButtonText, "作成中止"},
    {WindowText::CreateImageButtonText, "ﾃﾞｨｽｸｲﾒｰｼﾞ作成"},
    {WindowText::CopyStartMessage,
     "ディスクイメージの作成を開始します。\r\nディスクイメージの完成まで、しばらくお待ちください"
     "。"},
    {WindowText::NoBufferForPreviewMessage,
     "イメージファイルの展開バッファがないため、ダブルクリック操作を中止しました。\r\n"
     "展開バッファがない場合は、[復元ボタン] で通常復元をしてください。"},
    {WindowText::ChooseDriveMessage, "適切なドライブをリストから選択してください。"},
    {WindowText::StopWorkQuestion, "作業を途中で中断しますか？"},
    // Asked before results that were never restored are thrown away.
    {WindowText::CloseWithResultsQuestion, "復元していない検査結果があります。\r\n終了しますか？"},
    {WindowText::DiscardResultsQuestion,
     "復元していない検査結果は破棄されます。\r\n別のディスクイメージを開きますか？"},
    // Shown in the result window when a copy ended before it had written its
    // result text (the image file or the drive could not be opened).
    {WindowText::NoCopyResultText, "ディスクイメージは作成されませんでした。"},
    {WindowText::AboutMenuText, "Kestrixのﾊﾞｰｼﾞｮﾝ情報(&A)..."},
    // Status line while a job runs.
    {WindowText::ScanningStatus, "解析中....."},
    {WindowText::RestoringStatus, "復元中....."},
    {WindowText::CopyingStatus, "ディスクイメージ作成中....."},
    // While the finds are checked after a scan: "%1" rows checked of "%2".
    {WindowText::CheckingStatus, "状態を確認中… %1 / %2"},
    // The numbers beside the bar: the scan's percent and finds so far, the
    // restore's files handled of the selected ones.
    {WindowText::ScanningCountStatus, "解析中..... %1 %（%2 件）"},
    {WindowText::RestoringCountStatus, "復元中..... %1 / %2 個"},
    // What the line says once a job is over, beside a full bar, until the
    // next job starts: the finds, the rows checked, the files written of the
    // selected ones, the copy's outcome.
    {WindowText::ScanEndedStatus, "解析終了（%1 件）"},
    {WindowText::ChecksEndedStatus, "状態の確認終了（%1 件）"},
    // While the split photos are joined, between the checks and their end.
    {WindowText::JoiningStatus, "分割された写真をつなぎ合わせています…"},
    {WindowText::RestoreEndedStatus, "復元終了 %1 / %2 個"},
    {WindowText::CopyEndedStatus, "ディスクイメージ作成終了"},
    {WindowText::CopyFailedStatus, "ディスクイメージ作成失敗"},
    // After the restore's own message: how many files went where.
    {WindowText::RestoredWhereMessage, "%1 個のファイルを %2 に保存しました。"},
    // After the count of files saved: how many of them took another name
    // because a file of theirs was there already.
    {WindowText::RenamedFilesMessage,
     "そのうち %1 個は同じ名前のファイルが既にあったため、"
     "「名前 (2).jpg」のように名前を変えて保存しました。"},
    // Context menu of the results list.
    {WindowText::ReportMenuText, "レポート"},
    {WindowText::TidyNames, "ファイル名の整頓"},
    {WindowText::SignatureRulesLabel, "シグネチャ検索"},
    {WindowText::Properties, "プロパティ"},
    // Beside the select-all button: "%1" rows found, "%2" of them selected.
    {WindowText::SelectedCountFormat, "%1 件中 %2 件を選択"},
    // File dialogs. Qt reads the patterns from the parentheses and splits
    // them at spaces, so the Windows form "*.dat; *.img" would leave "*.dat;"
    // as a pattern that matches no file; the patterns are separated by
    // spaces alone.
    {WindowText::OpenImageFilter,
     "すべてのイメージファイル (*.dat *.img *.iso *.ksx);;"
     "KSX ディスクイメージ (*.dat *.ksx);;"
     "CD イメージ (*.img *.iso)"},
    {WindowText::SaveImageFilter, "KSX ディスクイメージ (*.ksx);;ディスクイメージ (*.dat)"},
    {WindowText::BrowseButton, "参　照"},
    {WindowText::ImageNameLabel, "イメージ名:"},
    {WindowText::ScanButton, "スキャン"},
    {WindowText::SplitBox, "分解抽出"},
    {WindowText::ProgressLabel, "進行状況:"},
    {WindowText::RestoreButton, "復　元"},
    {WindowText::SelectAllButton, "全選択"},
    {WindowText::ThumbnailsButton, "縮小表示"},
    {WindowText::ExitButton, "終　了"},
    {WindowText::DeselectAllButton, "解　除"},
    {WindowText::SaveImageCaption, "ディスクイメージの保存"},
    {WindowText::OpenImageCaption, "ディスクイメージを開く"},
    {WindowText::DetailsButton, "詳細表示"},
    // The filter bar
    // Texts of the bar.
    {WindowText::HideLabel, "隠す:"},
    {WindowText::NestedBoxText, "埋め込み"},
    {WindowText::NestedBoxTip,
     "写真の中のサムネイルや動画の中のフレームなど、ほかのファイルの中で見つかったもの"},
    {WindowText::VerdictDamaged, "破損"},
    {WindowText::VerdictTruncated, "途中まで"},
    {WindowText::MinimumSizeLabel, "最小サイズ:"},
    {WindowText::SizeSuffix, "KB"},
    {WindowText::MinimumResolutionLabel, "最小解像度:"},
    {WindowText::ResolutionTimes, "×"},
    {WindowText::MakerModelLabel, "メーカー・マシン名:"},
    {WindowText::DateRangeBoxText, "撮影日:"},
    {WindowText::DateRangeDash, "～"},
    // "%1" rows found, "%2" of them shown.
    {WindowText::ShownCountFormat, "%1 件中 %2 件を表示"},
    // The report window
    // Caption when the caller gives none.
    {WindowText::ReportDefaultTitle, "スキャン結果"},
    // Caption after a disk image copy.
    {WindowText::CopyResultTitle, "イメージ作成の結果"},
    {WindowText::ReportSaveButtonText, "保存..."},
    {WindowText::ReportCopyButtonText, "コピー"},
    {WindowText::ReportSaveCaption, "レポートの保存"},
    {WindowText::ReportSaveFilter, "テキスト ファイル (*.txt);;すべてのファイル (*)"},
    {WindowText::ReportReplaceQuestion,
     "選択されたファイルは既に存在します。\r\nこのファイルを置き換えてもよいですか？"},
    {WindowText::ReportNotShiftJisMessage,
     "Shift-JIS で表せない文字があるため、保存できませんでした。\r\nUTF-8 で保存してください。"},
    {WindowText::ReportSaveFailedMessage, "レポートを保存できませんでした。"},
    // Box captions
    {WindowText::InformationCaption, "情報"},
    {WindowText::QuestionCaption, "質問"},
    // Help, web page and previews
    // Shown, with the program's title, when no browser takes the web page.
    {WindowText::NoBrowserMessage, "動作可能なWebブラウザが搭載されておりませんでした。"},
    // Shown, with the program's title, when the help page is missing or no
    // browser takes it ("%1": the page's path).
    {WindowText::NoHelpMessage, "ヘルプ（%1）を開くことができませんでした。"},
    // Shown, with the program's title, when the desktop has no program for a
    // previewed file ("%1": the file's name).
    {WindowText::NoOpenerMessage, "%1 を表示できるアプリケーションが見つかりませんでした。"},
    // The folder chooser
    // Shown, with the program's title, when OK is pressed on a folder of the
    // card being rescued: writing there could overwrite the very files sought.
    {WindowText::FolderOnSourceMessage,
     "その位置は復元するディスクと同じドライブにあるため、復元先にはできません。\r\n"
     "別のドライブのフォルダを選択してください。"},
    // Shown when a folder cannot be created, with the program's title as caption.
    {WindowText::CannotCreateFolderMessage, "その位置にはフォルダを作成することができません。"},
    // Asked, captioned "質問", when OK is pressed on a typed folder that does not
    // exist; "%1" is the folder. Yes makes it (with any missing folders above it).
    {WindowText::CreateTypedFolderQuestion,
     "次のフォルダはありません。\r\n%1\r\n作成して復元先にしますか？"},
    {WindowText::FolderChooserTitle, "フォルダの選択"},
    {WindowText::NewFolder, "フォルダの新規作成"},
    {WindowText::FolderLabel, "フォルダ:"},
    {WindowText::FileTimeBox, "ファイルの日時を撮影（更新）日にあわせる"},
    {WindowText::FolderNameLabel, "フォルダ名:"},
    // The viewer
    // Shown, with the program's title, when the file does not load.
    {WindowText::NotDisplayableMessage, "選択したファイルは表示可能なデータではありませんでした。"},
    {WindowText::ViewerTitle, "Kestrix ビュー"},
    // The tidy dialog
    // The example line: the first row's new name, or that there is none yet.
    {WindowText::ExampleLead, "例: "},
    {WindowText::ExampleUnset, "未設定"},
    {WindowText::TidyIntro, "好みのファイル名に一括変換します。"},
    {WindowText::PrefixLabel, "接頭語:"},
    {WindowText::DigitsLabel, "連番字数:"},
    {WindowText::ExtensionLabel, "拡張子:(*.jpg等)"},
    {WindowText::ExampleLabel, "例:"},
    // After a lost card
    // After a lost card: nothing read is lost, and how to go on.
    {WindowText::ResumePossibleMessage,
     "読み取った部分はレスキューマップに記録されています。\r\n"
     "カードを接続し直してから同じファイル名でディスクイメージを作成すると、続きから再開できます"
     "。"},
    // The restore's failures: how many failed of how many written, then
    // after the names listed, how many more there are.
    {WindowText::FilesNotRestored,
     "%1 個のファイルを復元できませんでした（%2 個は復元しました）。"},
    {WindowText::FailuresNotListed, "…ほか %1 個"},
    // The about box
    {WindowText::AboutTitle, "バージョン情報"},
    // Dialog buttons
    {WindowText::CancelButton, "ｷｬﾝｾﾙ"},
    // The properties dialog
    {WindowText::FileNameLabel, "ファイル名:"},
    {WindowText::ExpectedSizeLabel, "予定サイズ(KB):"},
    {WindowText::StartByteLabel, "開始バイト:"},
    {WindowText::EndByteLabel, "終了バイト:"},
    {WindowText::MakerLabel, "メーカー:"},
    {WindowText::ModelLabel, "機種:"},
    {WindowText::ShotDateLabel, "撮影日時(更新):"},
    {WindowText::EndianLabel, "バイト順:"},
    {WindowText::GpsLabel, "GPS情報:"},
    {WindowText::PiecesLabel, "断片:"},
    // The rest of the results list's column "状態" (破損 and 途中まで are the
    // filter boxes' words above): "未確認" also for a row not checked yet,
    // then the mark of a row joined from pieces.
    {WindowText::VerdictIntact, "正常"},
    {WindowText::VerdictUnknown, "未確認"},
    {WindowText::ReassembledSuffix, "（再構成）"},
    // The copy's status line: MiB rescued of the drive's, MiB/s, bad areas
    // and their KiB, seconds since the last good read, then the time left.
    {WindowText::CopyStatusLine,
     "救出 %1 / %2 MiB  %3 MiB/s  不良 %4 箇所 (%5 KiB)  "
     "最後の正常な読み取りから %6 秒  残り時間 %7"},
    {WindowText::TimeLeftSeconds, "約 %1 秒"},
    {WindowText::TimeLeftMinutes, "約 %1 分"},
    {WindowText::TimeLeftHours, "約 %1 時間 %2 分"},
    // When no honest estimate can be made.
    {WindowText::TimeLeftUnknown, "不明"},
};

static_assert(std::size(kTexts) == kWindowTextCount, "a WindowText without its row");

}  // namespace

std::span<const WindowTextEntry> windowTexts() { return kTexts; }

const char* windowText(WindowText id) {
  // The table is in enum order; window_texts_test holds it to that.
  const size_t index = static_cast<size_t>(id);
  return index < std::size(kTexts) ? kTexts[index].text : "";
}

QString verdictText(bool checked, Verdict verdict, bool reassembled) {
  WindowText text = WindowText::VerdictUnknown;
  switch (checked ? verdict : Verdict::Unknown) {
    case Verdict::Intact: text = WindowText::VerdictIntact; break;
    case Verdict::Damaged: text = WindowText::VerdictDamaged; break;
    case Verdict::Truncated: text = WindowText::VerdictTruncated; break;
    case Verdict::Unknown: break;
  }
  QString shown = QString::fromUtf8(windowText(text));
  if (checked && reassembled) shown += QString::fromUtf8(windowText(WindowText::ReassembledSuffix));
  return shown;
}

QString copyNoticeBoxText(uint64_t code) {
  if (!isCopyNotice(code)) return {};
  QString text = QString::fromUtf8(copyNoticeText(code));
  // Like a failed copy, but nothing read is lost: the map holds it.
  if (code == CopyNoticeDriveLost)
    text += "\r\n" + QString::fromUtf8(windowText(WindowText::ResumePossibleMessage));
  return text;
}

QString restoreFailuresText(const RestoreOutcome& outcome, int listed) {
  QString text = QString::fromUtf8(windowText(WindowText::FilesNotRestored))
                     .arg(outcome.failures.size())
                     .arg(outcome.written);
  int shown = 0;
  for (const RestoreFailure& failure : outcome.failures) {
    if (shown == listed) {
      text += "\r\n" + QString::fromUtf8(windowText(WindowText::FailuresNotListed))
                           .arg(outcome.failures.size() - shown);
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
