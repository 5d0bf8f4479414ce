#include "jobs/restore_job.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <utility>
#include <unordered_set>

#include "jobs/image_buffer.h"
#include "jobs/job_reporter.h"
#include "ui/candidate_list.h"

namespace kestrix {

namespace {

// Length of the EXIF date form "YYYY:MM:DD hh:mm:ss" (EXIF 2.3, DateTimeOriginal).
constexpr size_t kShotDateLength = 19;

// Leading decimal digits of text[first, first + count); no digits give 0.
int fieldValue(const char* text, size_t first, size_t count) {
  int value = 0;
  for (size_t i = first; i < first + count && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::string rowNameProblem(std::string_view name) {
  if (name.empty()) return "ファイル名が空です";
  if (name == "." || name == "..") return "ファイル名として使えない名前です: " + std::string(name);
  // A row name is one entry of the destination folder; a separator would
  // let it reach outside. The backslash is the separator of the cards'
  // home system and never part of a name the program itself makes.
  if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) {
    return "ファイル名にパス区切りが含まれています: " + std::string(name);
  }
  return {};
}

namespace {

std::string systemTemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  std::string result = folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

// A folder made at first use and removed with everything in it when the
// process ends (static destruction, after the window has joined its
// workers).
class PrivateFolder {
 public:
  explicit PrivateFolder(std::string path, bool owned) : path_(std::move(path)), owned_(owned) {}
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  ~PrivateFolder() {
    std::error_code ignored;
    if (owned_) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool owned_;
};

PrivateFolder makeProcessFolder() {
  std::string pattern = systemTemporaryFolder() + "/kestrix-XXXXXX";
  // mkdtemp makes the folder with mode 0700 under a fresh name.
  if (::mkdtemp(pattern.data()) == nullptr) return PrivateFolder(systemTemporaryFolder(), false);
  return PrivateFolder(pattern, true);
}

}  // namespace

std::string temporaryFolder() {
  static const PrivateFolder folder = makeProcessFolder();
  return folder.path();
}

std::string thumbnailFolder() {
  static const std::string folder = [] {
    const std::string path = temporaryFolder() + "/thumbnails";
    // A failure shows later as a failed write; the row keeps its placeholder.
    ::mkdir(path.c_str(), 0700);
    return path;
  }();
  return folder;
}

bool setFileTimeFromShotDate(int fd, const char* dateText) {
  if (dateText == nullptr || std::strlen(dateText) != kShotDateLength) return false;
  std::tm local{};
  local.tm_year = fieldValue(dateText, 0, 4) - 1900;
  local.tm_mon = fieldValue(dateText, 5, 2) - 1;
  local.tm_mday = fieldValue(dateText, 8, 2);
  local.tm_hour = fieldValue(dateText, 11, 2);
  local.tm_min = fieldValue(dateText, 14, 2);
  local.tm_sec = fieldValue(dateText, 17, 2);
  local.tm_isdst = -1;  // the time zone rules decide whether summer time applied
  const std::time_t seconds = std::mktime(&local);
  // Dates before 1970 (0000:00:00 00:00:00 of cameras without a clock) are
  // refused too: they cannot be told apart from a conversion failure.
  if (seconds == static_cast<std::time_t>(-1) || seconds < 0) return false;
  // Linux keeps no settable creation time; access and modification carry it.
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  return futimens(fd, times) == 0;
}

bool RestoreJob::writeRow(const CandidateList& list, int32_t row, const std::string& folder,
                          int32_t dateOption, RestoredFile& file, std::string& reason,
                          const std::unordered_set<std::string>* writtenPaths) {
  CandidateInfo info;
  if (!list.candidateInfo(row, info)) {
    reason = "候補の情報を読めませんでした";
    return false;
  }
  reason = rowNameProblem(info.name);
  if (!reason.empty()) return false;
  file.row = row;
  file.path = folder + "/" + info.name;
  if (writtenPaths != nullptr && writtenPaths->count(file.path) != 0) {
    reason = "同じ名前のファイルがこの復元で既に書き込まれています";
    return false;
  }
  file.bytes = image_.WriteCandidate(info.start, info.end - info.start, file.path,
                                     info.shotDate.c_str(), dateOption, &reason);
  return file.bytes != 0;
}

uint32_t RestoreJob::restoreSelected(const CandidateList& list, JobReporter* reporter,
                                     const ShouldContinue& shouldContinue) {
  outcome_ = RestoreOutcome{};
  const std::string folder = destination_;
  const int32_t count = list.itemCount();
  // Paths written by this run. Renamed rows can share a name; the later one
  // must not replace a file this run has just restored. A file that was
  // there before the run is replaced as usual.
  std::unordered_set<std::string> writtenPaths;
  if (reporter != nullptr) reporter->setProgress(0);
  for (int32_t row = 0; row < count; ++row) {
    if (!shouldContinue()) {
      outcome_.stopped = true;
      return outcome_.written;
    }
    if (!list.isSelected(row)) continue;
    RestoredFile file;
    std::string reason;
    if (writeRow(list, row, folder, dateOption_, file, reason, &writtenPaths)) {
      writtenPaths.insert(file.path);
      outcome_.files.push_back(std::move(file));
      ++outcome_.written;
    } else {
      // One unreadable or unwritable candidate must not cost the user the
      // rest of the selection: note it and go on; the end lists it.
      std::string name;
      list.itemText(row, CandidateList::ColumnName, name);
      outcome_.failures.push_back({row, name, reason});
    }
    if (reporter != nullptr) {
      reporter->setProgress(static_cast<int>(static_cast<int64_t>(row) * 100 / count));
    }
  }
  if (reporter != nullptr) {
    reporter->setProgress(100);
    reporter->setProgress(0);
  }
  image_.CloseFile();
  if (reporter != nullptr) reporter->post(JobMessage::RestoreEnded, outcome_.written);
  return outcome_.written;
}

int32_t RestoreJob::previewFirstSelected(const CandidateList& list, JobReporter* reporter,
                                         const ShouldContinue& shouldContinue) {
  outcome_ = RestoreOutcome{};
  const std::string folder = destination_;
  const int32_t count = list.itemCount();
  int32_t result = 0;
  for (int32_t row = 0; row < count; ++row) {
    if (!shouldContinue()) {
      outcome_.stopped = true;
      return 0;
    }
    if (!list.isSelected(row)) continue;
    RestoredFile file;
    std::string reason;
    if (writeRow(list, row, folder, 0, file, reason)) {
      outcome_.files.push_back(std::move(file));
      outcome_.written = 1;
      result = row + 1;
    } else {
      std::string name;
      list.itemText(row, CandidateList::ColumnName, name);
      outcome_.failures.push_back({row, name, reason});
    }
    break;
  }
  image_.CloseFile();
  if (reporter != nullptr) reporter->post(JobMessage::PreviewEnded, static_cast<uint64_t>(result));
  return result;
}

int32_t RestoreJob::RestoreToTemp(const CandidateList& list, int32_t row) {
  const std::string folder = thumbnailFolder();
  if (!image_.IsLoaded()) return 0;
  RestoredFile file;
  std::string reason;
  const bool written = writeRow(list, row, folder, 0, file, reason);
  image_.CloseFile();
  return written ? 1 : 0;
}

}  // namespace kestrix
