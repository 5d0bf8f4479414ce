// Restoring candidates: the restore job, the preview job and the single
// write into the temporary folder used by the thumbnails.
//
// Every file goes through ImageBuffer::WriteCandidate, which asks the engine
// of the name's extension to extract (and complete) the bytes, writes them
// under a temporary name in the destination and renames that into place, so
// a failed write never leaves a partial file and never replaces an existing
// one. The state here (destination folder, date option, last outcome) is what
// the desktop's recovery job holds between its commands.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kestrix {

class CandidateList;
class ImageBuffer;
class JobReporter;

// Only this date option value sets file times from the shot date.
inline constexpr int32_t kDateOptionSetFileTime = 1;

// One file that was written.
struct RestoredFile {
  int32_t row = 0;
  std::string path;
  uint64_t bytes = 0;
};

// One selected row that could not be written, and why.
struct RestoreFailure {
  int32_t row = 0;
  std::string name;
  std::string reason;
};

// What the last restore did. `written` is what the end message carries.
struct RestoreOutcome {
  uint32_t written = 0;
  std::vector<RestoredFile> files;
  std::vector<RestoreFailure> failures;
  bool stopped = false;  // the job was stopped before it went through every row
};

// Why a row name cannot become a file in the destination: empty when it
// can. A name must stay one plain entry of the destination folder.
std::string rowNameProblem(std::string_view name);

// This process's own folder for temporary files (the preview writes here),
// without a trailing '/': made once with mkdtemp (mode 0700) under the
// system's temporary folder ($TMPDIR, else /tmp) and removed with its
// contents at exit, so other instances never meet its names. Falls back to
// the system's folder itself when it cannot be made.
std::string temporaryFolder();

// The thumbnail builder's folder inside temporaryFolder(): the preview's
// file and a thumbnail's file of the same row never share a path.
std::string thumbnailFolder();

// Sets the access and modification times of an open file from an EXIF date
// "YYYY:MM:DD hh:mm:ss" read as local time. True when the times were set;
// false (times untouched) for a text that is not 19 characters or a date
// the local-time conversion rejects.
bool setFileTimeFromShotDate(int fd, const char* dateText);

class RestoreJob {
 public:
  using ShouldContinue = std::function<bool()>;

  explicit RestoreJob(ImageBuffer& image) : image_(image) {}

  void setDestination(std::string folder) { destination_ = std::move(folder); }
  const std::string& destination() const { return destination_; }
  void setDateOption(int32_t option) { dateOption_ = option; }
  int32_t dateOption() const { return dateOption_; }

  // The restore job body: writes every selected row into the destination,
  // going on after a failed row (a row whose path this run already wrote
  // fails and the earlier file stays), and posts JobMessage::RestoreEnded with
  // the number written. Returns that number; the details are in outcome().
  // When shouldContinue turns false it returns at once without a message.
  uint32_t restoreSelected(const CandidateList& list, JobReporter* reporter,
                           const ShouldContinue& shouldContinue);

  // The preview job body: writes the first selected row into the temporary
  // folder and posts JobMessage::PreviewEnded with row + 1, or 0 when
  // nothing was written. Returns the same value.
  int32_t previewFirstSelected(const CandidateList& list, JobReporter* reporter,
                               const ShouldContinue& shouldContinue);

  // Writes one row into thumbnailFolder() for the thumbnail builder:
  // 1 on success, 0 on failure. The caller deletes the file when done.
  int32_t RestoreToTemp(const CandidateList& list, int32_t row);

  const RestoreOutcome& outcome() const { return outcome_; }

 private:
  // Writes row `row` into `folder`; the reason on failure. A path already
  // in `writtenPaths` (when given) is refused without writing.
  bool writeRow(const CandidateList& list, int32_t row, const std::string& folder,
                int32_t dateOption, RestoredFile& file, std::string& reason,
                const std::unordered_set<std::string>* writtenPaths = nullptr);

  ImageBuffer& image_;
  std::string destination_;
  int32_t dateOption_ = 0;
  RestoreOutcome outcome_;
};

}  // namespace kestrix
