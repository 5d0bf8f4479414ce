#include "cli/cli_texts.h"

namespace kestrix {

namespace {

// id                                  text
constexpr CliTextEntry kTexts[] = {
    {CliText::OptionNeedsValue, "%s には値が必要です。"},
    {CliText::UnknownOption, "不明なオプションです: %s"},
    {CliText::UnknownCommand, "不明なコマンドです: %s\n"},
    {CliText::CopyProgress,
     "\rディスクイメージ作成中..... %3d%%  救出 %.1f MiB  不良 %llu 箇所 (%.1f KiB)  "
     "%.1f MiB/s  最後の正常な読み取りから %.0f 秒 "},
    {CliText::CopySummary, "読み取ったバイト数: %llu  未完了: %llu バイト  不良セクタ: %llu\n"},
    {CliText::MapNotWritten, "%s: マップファイルを書き込めませんでした：%s\n"},
    {CliText::CopyStopped, "ディスクイメージの作成を中断しました。\n"},
    {CliText::CopyResumable,
     "途中までのイメージは %s、読み取りの状況は %s に保存しました。"
     "続けるには --resume を指定して同じコマンドを実行してください。\n"},
    {CliText::CopyReportNotWritten, "イメージ作成の結果を書き込めませんでした：%s\n"},
    {CliText::RetriesOutOfRange, "--retries には 0 から 1000 までの数を指定してください。"},
    {CliText::YesWithResume, "--yes と --resume は同時に指定できません。"},
    {CliText::ImageOverSource,
     "%s: コピー元と同じファイルにはディスクイメージを作成できません。\n"},
    {CliText::ImageOverNonFile,
     "%s: 通常のファイルではないため、ディスクイメージとして置き換えられません。\n"},
    {CliText::NoMapToResume, "%s: マップファイルがないため、続きを作成できません。\n"},
    {CliText::ImageExists,
     "%s: 選択されたファイルは既に存在するものです。置き換えるには --yes を指定してください。\n"},
    {CliText::ResumeHint, "途中で止まったコピーを続けるには --resume を指定してください。\n"},
    {CliText::RestoreUsage,
     "使い方: kestrix-cli restore IMAGE DEST [--split] [--signature-rules] [--set-file-time] "
     "[--tidy PREFIX:DIGITS] [--check [--only intact|damaged|truncated]] [--map FILE] [NAME...]"},
    {CliText::ScanUsage,
     "使い方: kestrix-cli scan IMAGE [--split] [--signature-rules] [--check] [--map FILE] "
     "[--json]"},
    {CliText::ReportUsage,
     "使い方: kestrix-cli report IMAGE [--split] [--signature-rules] [--map FILE]"},
    {CliText::OnlyWhichVerdict,
     "--only には intact、damaged、truncated のどれかを指定してください"},
    {CliText::OnlyNeedsCheck, "--only は --check と一緒に指定してください"},
    {CliText::NoDestinationFolder, "復元先フォルダがありません: %s"},
    {CliText::StoppedBeforeRestore, "中断しました。ファイルは復元していません。"},
    {CliText::NoSuchCandidate, "その名前の復元候補はありません: %s"},
    {CliText::NotRestored, "復元できませんでした: %s: %s"},
    {CliText::StoppedWhileRestoring, "中断しました。%u 個のファイルを復元しました。\n"},
    {CliText::Restored, "%u 個のファイルを復元しました。\n"},
    {CliText::RestoredRenamed,
     "そのうち %u 個は同じ名前のファイルが既にあったため、名前を変えて保存しました。\n"},
    {CliText::RestoreFailures, "%zu 個のファイルを復元できませんでした。\n"},
    {CliText::RowsNotAdded, "メモリ不足のため、%llu 個の候補を一覧に追加できませんでした。"},
    {CliText::ImageBytesUnreadable,
     "警告: イメージの %llu KiB を読み取れなかったため、0 として扱いました。"},
    {CliText::MapUnreadable, "レスキューマップを読み取れません: %s: %s"},
    {CliText::MapBesideUnreadable, "警告: %s マップなしで検査します。"},
    {CliText::ImageIncomplete,
     "警告: イメージは不完全です。まだ %llu MiB が読み取られていません（読めない部分は 0 "
     "として検査しました）。"},
    {CliText::SeamLimitReached,
     "警告: 分割された写真 %llu 枚は試せるつなぎ目の上限 (%llu) "
     "に達したため、再構成を打ち切りました。\n"},
    {CliText::JoinWorkLimitReached,
     "警告: 再構成の作業量が上限 (%llu MiB の復号) "
     "に達したため、残りの写真は再構成していません。\n"},
    {CliText::HelpHeading, "kestrix-cli: recover photos and movie clips from a disk image\n\n"},
    {CliText::ScanHelp, "scan IMAGE [--split] [--signature-rules] [--check] [--map FILE] [--json]"},
    {CliText::ScanSummary,
     "scan a disk image and list the candidates (name, start, end, size, model, date, GPS, "
     "maker, byte order; --json: a JSON array; --split: every JPEG stream separately; "
     "--signature-rules: find by the header/footer rules instead of the precise scan; "
     "--check: also decode every find on both cores and add its verdict (intact, damaged, "
     "truncated, unknown), width and height). With a rescue map (--map FILE, ours or GNU "
     "ddrescue's, else IMAGE.map unless an IMAGE.part without an IMAGE.part.map lies beside it) "
     "every candidate also gets "
     "its 512-byte sectors the copy could not read (last column; JSON \"unreadableSectors\"), "
     "and an incomplete image is warned about"},
    {CliText::RestoreHelp,
     "restore IMAGE DEST [--split] [--signature-rules] [--set-file-time] [--tidy PREFIX:DIGITS] "
     "[--check [--only intact|damaged|truncated]] [--map FILE] [NAME...]"},
    {CliText::RestoreSummary,
     "scan (--split, --signature-rules as for scan), optionally rename (PREFIX + DIGITS-digit "
     "serial + extension), and write the named "
     "candidates (all when none is named) into the existing folder DEST; --set-file-time dates "
     "the files from the EXIF shot date; --check --only VERDICT writes only the candidates "
     "the check gives that verdict; exit 1 when any file could not be written"},
    {CliText::ReportHelp, "report IMAGE [--split] [--signature-rules] [--map FILE]"},
    {CliText::ReportSummary,
     "scan (--split, --signature-rules as for scan) and print the restore list (CR LF line ends)"},
    {CliText::DecodeHelp, "decode FILE OUT"},
    {CliText::DecodeSummary,
     "decode a JPEG with the program's own decoder into a binary PPM (PGM for greyscale); "
     "exit 2 when nothing decodes, 3 when decoding stopped part-way (the rows decoded are "
     "written)"},
    {CliText::ThumbnailHelp, "thumbnail FILE OUT.ppm"},
    {CliText::ThumbnailSummary,
     "load a .jpg or .bmp file and write its 100 x 75 thumbnail as a PPM"},
    {CliText::DrivesHelp, "drives"},
    {CliText::DrivesSummary,
     "list the drives (disks, partitions, card readers) that can be copied"},
    {CliText::ImageHelp, "image SOURCE OUT [--yes | --resume] [--retries N]"},
    {CliText::ImageSummary,
     "copy a whole drive (a block device, or a file standing in for one) into the disk image "
     "OUT: good areas first, then the edges and insides of failed areas sector by sector, then "
     "N more passes over bad sectors (--retries). OUT.map (GNU ddrescue's mapfile format) says "
     "which bytes were read; until the copy finishes the image is OUT.part and its map "
     "OUT.part.map. --resume continues from OUT.part.map (else OUT.map) and reads only what is "
     "not finished (the map of another drive is refused; "
     "bad sectors of a finished copy are read again only with --retries). "
     "Ctrl-C saves the map. An existing OUT, OUT.part, OUT.part.map or OUT.map is replaced only "
     "with --yes, and OUT and OUT.map only once the new copy is complete. A destination on the "
     "source drive is refused."},
    {CliText::HelpExitCodes,
     "\nExit codes: 0 done; 1 some files could not be written, or the copy failed; "
     "2 bad arguments, an unreadable image or drive, or nothing decoded; 3 a decode "
     "stopped part-way.\n"},
    // The picture and drive commands
    {CliText::DecodeUsage, "usage: %s FILE OUT\n"},
    {CliText::ThumbnailUsage, "usage: %s FILE OUT.ppm\n"},
    {CliText::DrivesUsage, "usage: kestrix-cli drives\n"},
    {CliText::ImageUsage, "usage: kestrix-cli image SOURCE OUT [--yes | --resume] [--retries N]\n"},
    {CliText::DecodeError, "error %d\n"},
    // All or nothing: the output is written whole or not at all.
    {CliText::PictureNotWritten, "cannot write %s: %s (nothing was written)\n"},
    {CliText::DecodeStopped, "stopped part-way at byte %llu: %s\n"},
    {CliText::PictureNotLoaded, "cannot load %s\n"},
    {CliText::ListedReassembled, " 再構成"},
};

static_assert(std::size(kTexts) == kCliTextCount, "a CliText without its row");

}  // namespace

std::span<const CliTextEntry> cliTexts() { return kTexts; }

const char* cliText(CliText id) {
  // The table is in enum order; cli_texts_test holds it to that.
  const size_t index = static_cast<size_t>(id);
  return index < std::size(kTexts) ? kTexts[index].text : "";
}

}  // namespace kestrix
