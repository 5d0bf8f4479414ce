#include "cli/drive_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_arguments.h"
#include "jobs/copy_job.h"
#include "jobs/image_buffer.h"
#include "jobs/job_reporter.h"
#include "media/drive_error.h"
#include "media/drive_list.h"
#include "media/raw_drive.h"

namespace kestrix {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted.store(true); }

// The window's texts for the copy notices.
const char* noticeText(uint64_t code) {
  switch (code) {
    case CopyNoticeImageFileNotOpened: return "バックアップファイルを開くことができませでした。";
    case CopyNoticeDriveNotOpened: return "ドライブを開くことができませでした。";
    case CopyNoticeWriteFailed: return "ディスクイメージの書き込み中にエラーが発生しました。";
    default: return "ディスクイメージの作成に失敗しました。";
  }
}

class TerminalReporter : public JobReporter {
 public:
  explicit TerminalReporter(bool showProgress) : showProgress_(showProgress) {}

  void post(JobMessage message, uint64_t wParam, int64_t) override {
    if (message == JobMessage::CopyNotice) notices_.push_back(wParam);
    if (message == JobMessage::CopyEnded) ended_ = true, finished_ = wParam == 1;
  }
  void setProgress(int percent) override {
    if (!showProgress_) return;
    std::fprintf(stderr, "\rディスクイメージ作成中..... %3d%%", percent);
    if (percent == 100) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

  std::vector<uint64_t> notices_;
  bool ended_ = false;
  bool finished_ = false;

 private:
  bool showProgress_;
};

}  // namespace

int runDrivesCommand(int argc, char** argv) {
  CommandArguments arguments = CommandArguments::parse(argc, argv, {});
  if (!arguments.problem.empty() || !arguments.positional.empty()) {
    std::fprintf(stderr, "usage: kestrix-cli drives\n");
    return kExitRefused;
  }
  for (const DriveEntry& entry : listDrives()) std::printf("%s\n", entry.text.c_str());
  return kExitDone;
}

int runImageCommand(int argc, char** argv) {
  CommandArguments arguments = CommandArguments::parse(argc, argv, {"--yes"});
  if (!arguments.problem.empty() || arguments.positional.size() != 2) {
    if (!arguments.problem.empty()) std::fprintf(stderr, "%s\n", arguments.problem.c_str());
    std::fprintf(stderr, "usage: kestrix-cli image SOURCE OUT [--yes]\n");
    return kExitRefused;
  }
  const std::string& source = arguments.positional[0];
  const std::string& imagePath = arguments.positional[1];
  const bool replace = arguments.flags.count("--yes") > 0;

  struct stat sourceInfo {}, imageInfo {};
  const bool sourceExists = stat(source.c_str(), &sourceInfo) == 0;
  if (stat(imagePath.c_str(), &imageInfo) == 0) {
    // Replacing the source with its own image, or writing an image over a
    // device, would destroy what this program exists to save.
    if (sourceExists && sourceInfo.st_dev == imageInfo.st_dev && sourceInfo.st_ino == imageInfo.st_ino) {
      std::fprintf(stderr, "%s: コピー元と同じファイルにはディスクイメージを作成できません。\n",
                   imagePath.c_str());
      return kExitRefused;
    }
    if (!S_ISREG(imageInfo.st_mode)) {
      std::fprintf(stderr, "%s: 通常のファイルではないため、ディスクイメージとして置き換えられません。\n",
                   imagePath.c_str());
      return kExitRefused;
    }
    if (!replace) {
      std::fprintf(stderr,
                   "%s: 選択されたファイルは既に存在するものです。置き換えるには --yes を指定してください。\n",
                   imagePath.c_str());
      return kExitRefused;
    }
  }

  RawDrive drive;
  const uint32_t code = drive.probe(source);
  if (code != kDriveOk) {
    std::fprintf(stderr, "%s: %s\n", source.c_str(), std::string(driveErrorMessage(code)).c_str());
    return kExitRefused;
  }
  if (replace) unlink(imagePath.c_str());  // the copy creates it anew

  interrupted.store(false);
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  TerminalReporter reporter(isatty(STDERR_FILENO) == 1);
  ImageBuffer image;
  CopyJob job(drive, image, reporter);
  const CopyOutcome outcome = job.run(imagePath, [] { return !interrupted.load(); });

  const std::string& text = job.resultText();
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  for (uint64_t notice : reporter.notices_) std::fprintf(stderr, "%s\n", noticeText(notice));
  if (outcome == CopyOutcome::Stopped) {
    std::fprintf(stderr, "\nディスクイメージの作成を中断しました。\n");
    return kExitFailed;
  }
  return outcome == CopyOutcome::Finished && reporter.finished_ ? kExitDone : kExitFailed;
}

}  // namespace kestrix
