// Every text the window and its dialogs show of their own, each once, by
// name; the words for the codes of core/ and jobs/ come from
// texts/job_texts.h, which the command line shares, and the window's
// boxes around them are made here too. A text with %1, %2 is filled in
// with QString::arg.
//
//   prompter.inform(this, QString::fromUtf8(windowText(WindowText::InformationCaption)),
//                   QString::fromUtf8(windowText(WindowText::ChooseDriveMessage)));
//   prompter.inform(this, title, copyNoticeBoxText(notice.code));
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/check/verdict.h"
#include "jobs/restore_job.h"

namespace kestrix {

enum class WindowText {
  // The main window
  ScanQuestion,
  ScanEndedMessage,
  RowsNotAddedMessage,
  UnreadableImageMessage,
  IncompleteImageMessage,
  MapUnreadableMessage,
  NothingSelectedMessage,
  RestoreQuestion,
  RestoreSucceededMessage,
  OverwriteQuestion,
  ResumeQuestion,
  CopyStoppedMessage,
  StopCopyButtonText,
  CreateImageButtonText,
  CopyStartMessage,
  NoBufferForPreviewMessage,
  ChooseDriveMessage,
  StopWorkQuestion,
  CloseWithResultsQuestion,
  DiscardResultsQuestion,
  NoCopyResultText,
  AboutMenuText,
  ScanningStatus,
  RestoringStatus,
  CopyingStatus,
  CheckingStatus,
  ScanningCountStatus,
  RestoringCountStatus,
  ScanEndedStatus,
  ChecksEndedStatus,
  JoiningStatus,
  RestoreEndedStatus,
  CopyEndedStatus,
  CopyFailedStatus,
  RestoredWhereMessage,
  RenamedFilesMessage,
  ReportMenuText,
  TidyNames,
  SignatureRulesLabel,
  Properties,
  SelectedCountFormat,
  OpenImageFilter,
  SaveImageFilter,
  BrowseButton,
  ImageNameLabel,
  ScanButton,
  SplitBox,
  ProgressLabel,
  RestoreButton,
  SelectAllButton,
  ThumbnailsButton,
  ExitButton,
  DeselectAllButton,
  SaveImageCaption,
  OpenImageCaption,
  DetailsButton,
  // The filter bar
  HideLabel,
  NestedBoxText,
  NestedBoxTip,
  VerdictDamaged,
  VerdictTruncated,
  MinimumSizeLabel,
  SizeSuffix,
  MinimumResolutionLabel,
  ResolutionTimes,
  MakerModelLabel,
  DateRangeBoxText,
  DateRangeDash,
  ShownCountFormat,
  // The report window
  ReportDefaultTitle,
  CopyResultTitle,
  ReportSaveButtonText,
  ReportCopyButtonText,
  ReportSaveCaption,
  ReportSaveFilter,
  ReportReplaceQuestion,
  ReportNotShiftJisMessage,
  ReportSaveFailedMessage,
  // Box captions
  InformationCaption,
  QuestionCaption,
  // Help, web page and previews
  NoBrowserMessage,
  NoHelpMessage,
  NoOpenerMessage,
  // The folder chooser
  FolderOnSourceMessage,
  CannotCreateFolderMessage,
  CreateTypedFolderQuestion,
  FolderChooserTitle,
  NewFolder,
  FolderLabel,
  FileTimeBox,
  FolderNameLabel,
  // The viewer
  NotDisplayableMessage,
  ViewerTitle,
  // The tidy dialog
  ExampleLead,
  ExampleUnset,
  TidyIntro,
  PrefixLabel,
  DigitsLabel,
  ExtensionLabel,
  ExampleLabel,
  // After a lost card
  ResumePossibleMessage,
  // The restore's failures
  FilesNotRestored,
  FailuresNotListed,
  // The about box
  AboutTitle,
  // Dialog buttons
  CancelButton,
  // The properties dialog
  FileNameLabel,
  ExpectedSizeLabel,
  StartByteLabel,
  EndByteLabel,
  MakerLabel,
  ModelLabel,
  ShotDateLabel,
  EndianLabel,
  GpsLabel,
  PiecesLabel,
  // The results list's column "状態"
  VerdictIntact,
  VerdictUnknown,
  ReassembledSuffix,
  // The copy's status line
  CopyStatusLine,
  TimeLeftSeconds,
  TimeLeftMinutes,
  TimeLeftHours,
  TimeLeftUnknown,
};
// A new text goes before this line, its row at the table's end.
inline constexpr size_t kWindowTextCount = static_cast<size_t>(WindowText::TimeLeftUnknown) + 1;

struct WindowTextEntry {
  WindowText id;
  const char* text;  // UTF-8
};

// The whole table, in the order of WindowText.
std::span<const WindowTextEntry> windowTexts();
// The text of `id`, UTF-8.
const char* windowText(WindowText id);

// The results list's columns in its column order, each a header and a
// width in pixels: the row texts' (texts/row_texts.h, in the order of
// RowTexts::Column), then the check's verdict and the unreadable sectors
// (the 512-byte sectors of a find that the card's rescue map does not
// mark finished). ResultList holds the table to its column count.
struct ResultColumn {
  const char* header;  // UTF-8
  int width;
};
inline constexpr ResultColumn kResultColumns[] = {
    {"復元ファイル", 120},    // Name
    {"マシン名", 100},        // Model
    {"撮影(更新)日時", 100},  // ShotDate
    {"予定サイズ", 72},       // Size
    {"GPS情報", 64},          // Gps
    {"メーカー名", 72},       // Maker
    {"バイト順", 64},         // Endian
    {"状態", 64},
    {"読めないセクタ", 90},
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
