#include "cli/drive_commands.h"
#include "cli/cli_texts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/command_arguments.h"
#include "jobs/copy_job.h"
#include "jobs/job_reporter.h"
#include "media/device_identity.h"
#include "media/drive_error.h"
#include "media/drive_list.h"
#include "media/raw_drive.h"
#include "platform/system_error_text.h"
#include "texts/drive_texts.h"
#include "texts/job_texts.h"
#include "texts/job_texts.h"

namespace kestrix {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted.store(true); }

// The window's texts for the copy notices.
// Notices that refuse the request rather than report a failed copy.
bool isRefusal(uint64_t code) {
  return code == CopyNoticeDestinationOnSource || code == CopyNoticeMapUnusable ||
         code == CopyNoticeMapOfAnotherDrive;
}

double mebibytes(uint64_t bytes) { return static_cast<double>(bytes) / (1 << 20); }

class TerminalReporter : public JobReporter {
 public:
  explicit TerminalReporter(bool showProgress) : showProgress_(showProgress) {}

  void post(const JobReport& report) override {
    if (const auto* notice = std::get_if<report::CopyNotice>(&report))
      notices_.push_back(notice->code);
    if (const auto* ended = std::get_if<report::CopyEnded>(&report)) {
      ended_ = true;
      finished_ = ended->finished;
    }
  }
  void setProgress(int percent) override { percent_ = percent; }
  void copyStatus(const CopyStatus& status) override {
    if (!showProgress_) return;
    std::fprintf(stderr, cliText(CliText::CopyProgress), percent_, mebibytes(status.rescuedBytes),
                 static_cast<unsigned long long>(status.badAreas),
                 static_cast<double>(status.badBytes) / 1024,
                 mebibytes(static_cast<uint64_t>(status.bytesPerSecond)),
                 status.secondsSinceGoodRead);
    std::fflush(stderr);
    drawn_ = true;
  }
  void endLine() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }

  std::vector<uint64_t> notices_;
  bool ended_ = false;
  bool finished_ = false;

 private:
  bool showProgress_;
  bool drawn_ = false;
  int percent_ = 0;
};

bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// The notices, the summary lines and the exit code of a finished run.
int imageExitCode(const CopyJob& job, const TerminalReporter& reporter, CopyOutcome outcome,
                  const std::string& partPath) {
  const std::string& mapPath = job.mapFile();
  bool refused = false;
  for (uint64_t notice : reporter.notices_) {
    std::fprintf(stderr, "%s\n", copyNoticeText(notice));
    refused = refused || isRefusal(notice);
  }
  if (refused) return kExitRefused;
  const RescueMap& map = job.map();
  std::fprintf(stderr, cliText(CliText::CopySummary),
               static_cast<unsigned long long>(job.bytesRead()),
               static_cast<unsigned long long>(map.unfinishedBytes()),
               static_cast<unsigned long long>(job.damagedSectors()));
  if (job.mapSaveError() != 0) {
    std::fprintf(stderr, cliText(CliText::MapNotWritten), mapPath.c_str(),
                 systemErrorText(job.mapSaveError()).c_str());
  }
  if (outcome == CopyOutcome::Stopped || outcome == CopyOutcome::DriveLost) {
    if (outcome == CopyOutcome::Stopped) std::fputs(cliText(CliText::CopyStopped), stderr);
    std::fprintf(stderr, cliText(CliText::CopyResumable), partPath.c_str(), mapPath.c_str());
    return kExitFailed;
  }
  return outcome == CopyOutcome::Finished && reporter.finished_ ? kExitDone : kExitFailed;
}

}  // namespace

int runDrivesCommand(int argc, char** argv) {
  CommandArguments arguments = CommandArguments::parse(argc, argv, {});
  if (!arguments.problem.empty() || !arguments.positional.empty()) {
    std::fputs(cliText(CliText::DrivesUsage), stderr);
    return kExitRefused;
  }
  for (const DriveEntry& entry : listDrives()) std::printf("%s\n", driveEntryText(entry).c_str());
  return kExitDone;
}

int runImageCommand(int argc, char** argv) {
  CommandArguments arguments =
      CommandArguments::parse(argc, argv, {"--yes", "--resume"}, {"--retries"});
  const bool replace = arguments.flags.count("--yes") > 0;
  const bool resume = arguments.flags.count("--resume") > 0;
  CopyOptions options;
  options.resume = resume;
  if (arguments.problem.empty() && arguments.values.count("--retries") > 0) {
    const std::string& text = arguments.values["--retries"];
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || value > 1000) {
      arguments.problem = cliText(CliText::RetriesOutOfRange);
    }
    options.retries = static_cast<uint32_t>(value);
  }
  if (arguments.problem.empty() && replace && resume) {
    arguments.problem = cliText(CliText::YesWithResume);
  }
  if (!arguments.problem.empty() || arguments.positional.size() != 2) {
    if (!arguments.problem.empty()) std::fprintf(stderr, "%s\n", arguments.problem.c_str());
    std::fputs(cliText(CliText::ImageUsage), stderr);
    return kExitRefused;
  }
  const std::string& source = arguments.positional[0];
  const std::string& imagePath = arguments.positional[1];
  const std::string partPath = CopyJob::partPath(imagePath);
  const std::string mapPath = CopyJob::mapPath(imagePath);
  const std::string partMapPath = CopyJob::partMapPath(imagePath);

  struct stat sourceInfo {
  }, imageInfo{};
  const bool sourceExists = stat(source.c_str(), &sourceInfo) == 0;
  for (const std::string& path : {imagePath, partPath, partMapPath, mapPath}) {
    // Replacing the source with its own image, or writing an image over a
    // device, would destroy what this program exists to save.
    if (stat(path.c_str(), &imageInfo) != 0) continue;
    if (sourceExists && sourceInfo.st_dev == imageInfo.st_dev &&
        sourceInfo.st_ino == imageInfo.st_ino) {
      std::fprintf(stderr, cliText(CliText::ImageOverSource), path.c_str());
      return kExitRefused;
    }
    if (!S_ISREG(imageInfo.st_mode)) {
      std::fprintf(stderr, cliText(CliText::ImageOverNonFile), path.c_str());
      return kExitRefused;
    }
  }
  if (sourceExists && isOnSourceDevice(source, folderOf(imagePath))) {
    std::fprintf(stderr, "%s: %s\n", imagePath.c_str(),
                 copyNoticeText(CopyNoticeDestinationOnSource));
    return kExitRefused;
  }
  if (resume) {
    if (!exists(partMapPath) && !exists(mapPath)) {
      std::fprintf(stderr, cliText(CliText::NoMapToResume), partMapPath.c_str());
      return kExitRefused;
    }
  } else if (!replace) {
    for (const std::string& path : {imagePath, partPath, partMapPath, mapPath}) {
      if (!exists(path)) continue;
      std::fprintf(stderr, cliText(CliText::ImageExists), path.c_str());
      if (path != imagePath) {
        std::fputs(cliText(CliText::ResumeHint), stderr);
      }
      return kExitRefused;
    }
  }

  RawDrive drive;
  const uint32_t code = drive.probe(source);
  if (code != kDriveOk) {
    std::fprintf(stderr, "%s: %s\n", source.c_str(), driveErrorText(code));
    return kExitRefused;
  }

  interrupted.store(false);
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  TerminalReporter reporter(isatty(STDERR_FILENO) == 1);
  CopyJob job(drive, reporter);
  const CopyOutcome outcome = job.run(
      imagePath, [] { return !interrupted.load(); }, options);
  reporter.endLine();

  const std::string& text = job.resultText();
  errno = 0;
  std::fwrite(text.data(), 1, text.size(), stdout);
  // A report lost to a full disk or a closed pipe must not end in exit 0:
  // the damage lines in it are the only list of what the card lost.
  const int reportError =
      std::fflush(stdout) != 0 || std::ferror(stdout) != 0 ? (errno != 0 ? errno : EIO) : 0;
  const int exitCode = imageExitCode(job, reporter, outcome, partPath);
  if (reportError != 0) {
    std::fprintf(stderr, cliText(CliText::CopyReportNotWritten),
                 systemErrorText(reportError).c_str());
  }
  // The summary on stderr is the rest of the report.
  const bool summaryWritten = std::fflush(stderr) == 0 && std::ferror(stderr) == 0;
  if (exitCode == kExitDone && (reportError != 0 || !summaryWritten)) return kExitFailed;
  return exitCode;
}

}  // namespace kestrix
