#include "texts/job_texts.h"

#include "platform/system_error_text.h"

namespace kestrix {

const char* copyNoticeText(uint64_t code) {
  switch (code) {
    case CopyNoticeImageFileNotOpened: return "バックアップファイルを開くことができませんでした。";
    case CopyNoticeDriveNotOpened: return "ドライブを開くことができませんでした。";
    case CopyNoticeWriteFailed: return "ディスクイメージの書き込み中にエラーが発生しました。";
    case CopyNoticeDestinationOnSource:
      return "保存先がコピー元のドライブ上にあります。別のドライブに保存してください。";
    case CopyNoticeMapUnusable:
      return "続きを作成するためのマップファイルまたはイメージを読み込めません。";
    case CopyNoticeMapOfAnotherDrive:
      return "マップファイルは別のドライブのものです。続きを作成できません。";
    case CopyNoticeDriveLost: return "カードが応答しなくなりました。";
    default: return "ディスクイメージの作成に失敗しました。";
  }
}

namespace {

// The sentence of a file problem without its payload.
const char* problemSentence(FileProblemCode code) {
  switch (code) {
    case FileProblemCode::None: return "";
    case FileProblemCode::OutsideImage: return "候補がイメージの範囲外です";
    case FileProblemCode::ImageUnreadable: return "イメージを読み取れませんでした";
    case FileProblemCode::ImageShrank:
      return "イメージが途中で終わっています（ファイルが短くなったか、カードが取り外されました）";
    case FileProblemCode::NoExtension: return "拡張子のないファイル名です";
    case FileProblemCode::NoEngine: return " に対応するスキャンエンジンがありません";
    case FileProblemCode::OutOfMemory: return "メモリが不足しています";
    case FileProblemCode::NotExtracted: return "データを取り出せませんでした";
    case FileProblemCode::EmptyName: return "ファイル名が空です";
    case FileProblemCode::ReservedName: return "ファイル名として使えない名前です: ";
    case FileProblemCode::NameWithSeparator: return "ファイル名にパス区切りが含まれています: ";
    case FileProblemCode::OutputNotCreated: return "出力ファイルを作成できませんでした";
    case FileProblemCode::WriteFailed: return "書き込みに失敗しました";
    case FileProblemCode::FolderNotOpened: return "復元先フォルダを開けませんでした";
    case FileProblemCode::FolderNotSynced: return "復元先フォルダの書き込みに失敗しました";
    case FileProblemCode::Stopped: return "中断されました";
    case FileProblemCode::RowUnreadable: return "候補の情報を読めませんでした";
    case FileProblemCode::NameWrittenThisRun:
      return "同じ名前のファイルがこの復元で既に書き込まれています";
    case FileProblemCode::DestinationOnSource: return copyNoticeText(CopyNoticeDestinationOnSource);
  }
  return "";
}

}  // namespace

std::string fileProblemText(const FileProblem& problem) {
  // The extension leads its sentence; the names follow theirs.
  std::string text = problem.code == FileProblemCode::NoEngine
                         ? "拡張子 " + problem.detail + problemSentence(problem.code)
                         : problemSentence(problem.code) + problem.detail;
  if (problem.error != 0) text = withSystemError(text, problem.error);
  return text;
}

const char* loadStatusMessage(LoadStatus status) {
  switch (status) {
    case LoadStatus::Loaded: return "";
    case LoadStatus::NotFound: return "イメージファイルが見つかりません。";
    case LoadStatus::OpenFailed: return "イメージファイルへのアクセスが拒否されました。";
    case LoadStatus::NotAnImage:
      return "イメージファイルではありません（パイプ、FIFO、キャラクタデバイス、フォルダは読み込め"
             "ません）。";
    case LoadStatus::ReadFailed: return "イメージファイルの読み込みに失敗しました。";
  }
  return "";
}

std::string refusalText(const RestoreRefusal& refusal) {
  switch (refusal.kind) {
    case RestoreRefusalKind::None: return {};
    case RestoreRefusalKind::OnSource: return copyNoticeText(CopyNoticeDestinationOnSource);
    case RestoreRefusalKind::Unwritable:
      return "復元先フォルダにファイルを保存できません。\r\n" + systemErrorText(refusal.error) +
             "\r\n別のフォルダを選択してください。";
    case RestoreRefusalKind::FileTooLargeForFat: {
      const std::string which = refusal.tooLarge <= 1
                                    ? refusal.firstTooLarge
                                    : refusal.firstTooLarge + " ほか " +
                                          std::to_string(refusal.tooLarge - 1) + " 個のファイル";
      return which +
             " は 4 GB 以上あるため、FAT32 の復元先には保存できません。\r\n"
             "exFAT や NTFS などのドライブのフォルダを選択してください。";
    }
    case RestoreRefusalKind::NotEnoughSpace:
      return "復元先の空き容量が足りません（必要 " + sizeText(refusal.neededBytes) + "、空き " +
             sizeText(refusal.freeBytes) +
             "）。\r\n空きのあるドライブのフォルダを選択するか、復元するファイルを減らしてください"
             "。";
  }
  return {};
}

const char* tidyProblemText(TidyProblem problem) {
  switch (problem) {
    case TidyProblem::None: return "";
    case TidyProblem::DigitsInvalid:
      return "[連番字数] には半角数字2文字で3-30までの長さを指定して下さい。";
    case TidyProblem::PrefixTooLong: return "[接頭語] は19文字以内で指定して下さい。";
    case TidyProblem::PrefixUnusable:
      return "[接頭語] にファイル名に使えない文字が含まれています。";
  }
  return "";
}

}  // namespace kestrix
