#include "jobs/image_buffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/scan_engine.h"
#include "host/plugin_host.h"
#include "jobs/job_reporter.h"
#include "jobs/mapped_image_block.h"
#include "jobs/restore_job.h"
#include "ui/candidate_list.h"

namespace kestrix {

namespace {

// Bytes per read while loading: large enough that the system-call cost is
// negligible, small enough that the kernel's read-ahead keeps streaming.
constexpr size_t kLoadChunkBytes = size_t{32} << 20;

// The block is addressed with 32-bit offsets; this is the largest size it
// holds.
constexpr uint64_t kLargestImage = UINT32_MAX;

// The permission bits a restored photo gets: those of an ordinary new file,
// 0666 less the user's umask. The umask can only be read by setting it,
// and it is process-wide: it is read once, at static initialisation before
// main starts any thread, so no other file is ever created under the 0.
mode_t readRestoredFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}
const mode_t kRestoredFileMode = readRestoredFileMode();

}  // namespace

const char* loadStatusMessage(LoadStatus status) {
  switch (status) {
    case LoadStatus::Loaded:
      return "";
    case LoadStatus::OpenFailed:
      return "イメージファイルへのアクセスが拒否されました。";
    case LoadStatus::OutOfMemory:
      return "メモリ不足で、読み込みバッファを確保できませんでした。";
    case LoadStatus::ReadFailed:
      return "イメージファイルの読み込みに失敗しました。";
    case LoadStatus::TooLarge:
      return "イメージファイルが 4 GiB 以上のため、読み込めません。";
  }
  return "";
}

ImageBuffer::ImageBuffer(PluginHost* host, JobReporter* reporter)
    : host_(host), reporter_(reporter) {}

ImageBuffer::~ImageBuffer() {
  // The scan thread reads the block and the list: end it before they go.
  stop();
  CloseFile();
}

bool ImageBuffer::OpenFile(std::string_view path, FileAccess access) {
  if (!path.empty()) path_.assign(path);
  if (path_.empty() || fd_ >= 0) return false;
  // Write access empties an existing file: a disk image left longer by an
  // earlier, larger copy would otherwise carry another drive's bytes at its
  // end, and those would be scanned as if they came from this one.
  const int flags = access == FileAccess::Read ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC);
  fd_ = ::open(path_.c_str(), flags | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  // Both the load and the copy go front to back.
  posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

void ImageBuffer::CloseFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

LoadStatus ImageBuffer::LoadWhole() {
  ReleaseBlock();
  if (fd_ < 0) return LoadStatus::OpenFailed;
  struct stat info {};
  if (fstat(fd_, &info) != 0) return LoadStatus::ReadFailed;
  const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
  // Taking the low 32 bits of a larger file would silently scan only a
  // fraction of the card; refuse instead.
  if (fileSize > kLargestImage) return LoadStatus::TooLarge;

  std::unique_ptr<MappedImageBlock> block = MappedImageBlock::allocate(static_cast<uint32_t>(fileSize));
  if (!block) return LoadStatus::OutOfMemory;

  uint8_t* target = block->writableData();
  uint64_t done = 0;
  while (done < fileSize) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kLoadChunkBytes, fileSize - done));
    const ssize_t got = pread(fd_, target + done, want, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    // A failed or short read (the file shrank) leaves part of the image
    // unread; a half-filled block would show a scan of zeros as a clean
    // result, so it is released here rather than kept as loaded.
    if (got <= 0) return LoadStatus::ReadFailed;
    done += static_cast<uint64_t>(got);
  }
  block_ = std::move(block);
  return LoadStatus::Loaded;
}

void ImageBuffer::ReleaseBlock() { block_.reset(); }

bool ImageBuffer::WriteBytes(const void* data, uint32_t count, uint32_t* written) {
  uint32_t done = 0;
  if (fd_ >= 0) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (done < count) {
      const ssize_t put = ::write(fd_, bytes + done, count - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;  // disk full or an I/O error: the caller hears a short count
      done += static_cast<uint32_t>(put);
    }
  }
  if (written != nullptr) *written = done;
  return fd_ >= 0 && done == count;
}

LoadStatus ImageBuffer::LoadImage(std::string_view path) {
  if (IsLoaded()) return LoadStatus::Loaded;
  if (!OpenFile(path, FileAccess::Read)) return LoadStatus::OpenFailed;
  const LoadStatus status = LoadWhole();
  CloseFile();
  return status;
}

ScanEngine* ImageBuffer::EngineFor(const char* extension) const {
  return host_ != nullptr ? host_->EngineFor(extension) : nullptr;
}

bool ImageBuffer::StartScan(CandidateList* list, int32_t mode) {
  if (!IsLoaded()) return false;
  list_ = list;
  if (reporter_ != nullptr) reporter_->setListEnabled(false);
  setPeriod(0);
  mode_ = mode;
  if (start()) return true;
  // Without a thread there will be no end message; give the list back
  // rather than leave it disabled for good.
  if (reporter_ != nullptr) reporter_->setListEnabled(true);
  return false;
}

void ImageBuffer::reportProgress(int percent) {
  if (reporter_ != nullptr) reporter_->setProgress(percent);
}

int32_t ImageBuffer::run() {
  uint32_t total = 0;
  if (host_ != nullptr) {
    for (const std::string& key : host_->registry().keys()) {
      // PNG and MOV carving ignore the JPEG split mode. The engine is never
      // told ScanModePng or ScanModeMov: Attach passes only normal or split.
      // Setting them here keeps every later extension out of split mode.
      if (key.find("png") != std::string::npos) {
        mode_ = ScanModePng;
      } else if (key.find("mov") != std::string::npos) {
        mode_ = ScanModeMov;
      }
      const std::string extension = !key.empty() && key[0] == '.' ? key.substr(1) : key;
      total += ScanExtension(extension);
    }
  }
  // A stopped scan ends without a word: its owner is tearing it down and
  // may no longer be there to hear the end message.
  if (reporter_ != nullptr && shouldContinue()) {
    reporter_->setListEnabled(true);
    reporter_->post(JobMessage::ScanEnded, total);
  }
  setRunning(false);
  return static_cast<int32_t>(total);
}

uint32_t ImageBuffer::ScanExtension(const std::string& extension) {
  reportProgress(0);
  ScanEngine* engine = EngineFor(extension.c_str());
  if (engine == nullptr || !block_) return 0;

  const uint8_t* data = block_->data();
  const uint32_t size = block_->size();
  engine->Attach(data, size, 0, extension.c_str(),
                 mode_ == ScanModeSplit ? ScanModeSplit : ScanModeNormal);

  // Progress is R ÷ (size ÷ 100); an image under 100 bytes has no such
  // unit, so it is measured against the size itself.
  const uint64_t unit = size / 100;
  uint64_t out = 0;
  uint32_t counter = 0;
  uint64_t position = engine->FindNext(0, 0, &out, extension.c_str());
  // The shipped engine always moves forward; a third-party engine that
  // returns a position not beyond the last one (or 0 at first) would loop
  // here for ever, so its extension ends at that point.
  uint64_t previous = 0;
  while (position < size && position > previous) {
    previous = position;
    if (!shouldContinue()) return 0;
    // A hit of length 0 is no file; it is skipped without a name. A length
    // beyond the position would put the start before the image.
    if (out != 0 && out <= position) {
      char serial[16];
      std::snprintf(serial, sizeof serial, "%08u", counter);  // "%08u.%s"
      const std::string name = std::string(serial) + "." + extension;
      if (list_ != nullptr) list_->addCandidate(name, data, position - out, position, out);
      const uint64_t percent = unit != 0 ? position / unit : position * 100 / size;
      reportProgress(static_cast<int>(std::min<uint64_t>(percent, 100)));
      ++counter;
    }
    position = engine->FindNext(lowHalf(position), highHalf(position), &out, extension.c_str());
  }
  reportProgress(100);
  reportProgress(0);
  return counter;
}

}  // namespace kestrix

namespace kestrix {

namespace {

// Keeps errno's text next to our own reason.
std::string withSystemReason(const char* reason, int error) {
  return std::string(reason) + ": " + std::strerror(error);
}

// Removes the temporary file on every path that does not rename it.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& folder) : path_(folder + "/.kxpart-XXXXXX") {
    fd_ = mkostemp(path_.data(), O_CLOEXEC);
    created_ = fd_ >= 0;
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    // After a failed mkostemp the template may name a file someone else made.
    if (created_ && !kept_) ::unlink(path_.c_str());
  }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Closes the file, reporting a failed close (a delayed write error).
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void keep() { kept_ = true; }

 private:
  std::string path_;
  int fd_ = -1;
  bool created_ = false;  // mkostemp made path_; only then is it ours to remove
  bool kept_ = false;
};

// Frees the engine's extraction block on every way out.
struct ExtractionGuard {
  ScanEngine* engine;
  ~ExtractionGuard() { engine->FreeExtraction(); }
};

}  // namespace

uint64_t ImageBuffer::WriteCandidate(uint64_t start, uint64_t size, const std::string& path,
                                     const char* dateText, int32_t dateOption,
                                     std::string* error) {
  auto fail = [error](std::string reason) -> uint64_t {
    if (error != nullptr) *error = std::move(reason);
    return 0;
  };
  // The extension is taken from the file's own name: a dot in a folder name
  // must not pass for one.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return fail("拡張子のないファイル名です");
  }
  const std::string extension = path.substr(dot);
  ScanEngine* engine = EngineFor(extension.c_str());
  if (engine == nullptr) return fail("拡張子 " + extension + " に対応するスキャンエンジンがありません");
  if (!block_) return fail("イメージファイルが読み込まれていません");
  if (start > block_->size() || size > block_->size() - start) {
    return fail("候補がイメージの範囲外です");
  }

  engine->Attach(block_->data(), block_->size(), 0, extension.c_str(), ScanModeNormal);
  // The new content goes to a temporary name in the same folder and is
  // renamed over `path` only when complete, so disk-full or an I/O error
  // neither leaves a partial file nor destroys a file of the same name.
  TemporaryFile output(folder);
  if (output.fd() < 0) return fail(withSystemReason("出力ファイルを作成できませんでした", errno));

  uint64_t extractStart = start;
  uint64_t extractSize = size;
  const uint8_t* bytes = engine->Extract(&extractStart, &extractSize, extension.c_str());
  ExtractionGuard guard{engine};
  if (bytes == nullptr) return fail("データを取り出せませんでした");

  uint64_t done = 0;
  while (done < extractSize) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(extractSize - done, kLoadChunkBytes));
    const ssize_t put = ::write(output.fd(), bytes + done, want);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return fail(withSystemReason("書き込みに失敗しました", errno));
    if (put == 0) return fail("書き込みに失敗しました");
    done += static_cast<uint64_t>(put);
  }
  // mkstemp creates 0600; a restored photo is an ordinary file, with the
  // bits open() would have given it under the user's umask.
  fchmod(output.fd(), kRestoredFileMode);
  if (dateText != nullptr && dateText[0] != '\0' && dateOption == kDateOptionSetFileTime) {
    // A date that cannot be converted leaves the times as written; the file
    // itself is still a success.
    setFileTimeFromShotDate(output.fd(), dateText);
  }
  if (!output.close()) return fail(withSystemReason("書き込みに失敗しました", errno));
  if (::rename(output.path().c_str(), path.c_str()) != 0) {
    return fail(withSystemReason("出力ファイルを作成できませんでした", errno));
  }
  output.keep();
  return extractSize;
}

}  // namespace kestrix
