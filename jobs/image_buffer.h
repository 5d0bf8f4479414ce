// The image buffer: the disk image file, its whole content in memory (the
// image block) and the scan thread that runs the engines over it.
//
//   ImageBuffer image(&host, &reporter);
//   image.LoadImage(path);            // OpenFile, LoadWhole, CloseFile
//   image.StartScan(&list, ScanModeNormal);
//   ... reporter receives JobMessage::ScanEnded with the total ...
//   image.stop();                     // joins the finished scan thread
//
// The block stays loaded after the scan: restores, previews and thumbnails
// copy candidates out of it without reading the file again, until another
// image is loaded or the object is destroyed. The same object is the output
// file of the disk image copy (OpenFile with FileAccess::Write, WriteBytes).
//
// Threads: the owner calls everything except run(); run() is the scan thread
// body. While a scan runs the owner must not load, release or write.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "jobs/image_block.h"
#include "jobs/job_thread.h"

namespace kestrix {

class CandidateList;
class JobReporter;
class PluginHost;
class ScanEngine;

enum class FileAccess {
  Read,   // an existing file, for reading
  Write,  // opened or created for writing, emptied first
};

// Outcome of loading an image; each failure has its own message for the user.
enum class LoadStatus {
  Loaded,        // the block holds every byte of the file
  OpenFailed,    // the file could not be opened
  OutOfMemory,   // the block could not be allocated
  ReadFailed,    // a read failed or came up short; the partial block was released
  TooLarge,      // 4 GiB or more: the block is addressed with 32-bit offsets
};

// The user's message for a failed load; empty for LoadStatus::Loaded.
const char* loadStatusMessage(LoadStatus status);

class ImageBuffer : public JobThread {
 public:
  // Neither is owned; both must outlive the object. The reporter may be set
  // later, before the first scan.
  explicit ImageBuffer(PluginHost* host = nullptr, JobReporter* reporter = nullptr);
  ~ImageBuffer() override;

  void setReporter(JobReporter* reporter) { reporter_ = reporter; }
  void setHost(PluginHost* host) { host_ = host; }

  // Stores a non-empty path, then opens the stored path. False when the
  // stored path is empty, a file is already open, or the open fails (no file
  // is left open then).
  bool OpenFile(std::string_view path, FileAccess access);
  // Closes the file if one is open.
  void CloseFile();
  // Reads the whole open file into a fresh block (the previous block is
  // released first). Anything but Loaded leaves no block.
  LoadStatus LoadWhole();
  void ReleaseBlock();
  bool IsLoaded() const { return block_ != nullptr; }
  // Writes all `count` bytes to the open file; *written receives what was
  // written. False when no file is open or not every byte was written.
  bool WriteBytes(const void* data, uint32_t count, uint32_t* written);

  // Loads the image at `path` unless a block is already held: the first
  // step of both the scan and the restore. A held block is kept as it is,
  // even when the file changed meanwhile.
  LoadStatus LoadImage(std::string_view path);

  // The engine for an extension (with or without its dot); null when none.
  ScanEngine* EngineFor(const char* extension) const;

  // False when no block is loaded or the thread cannot be started.
  // Otherwise the scan runs on this object's thread and ends by posting
  // JobMessage::ScanEnded with the number of candidates added.
  bool StartScan(CandidateList* list, int32_t mode);
  // Scans for one extension (without its dot) and returns the candidates
  // added; 0 when no engine handles it or the scan was stopped.
  uint32_t ScanExtension(const std::string& extension);

  // Copies the candidate start..start+size out through its engine into
  // `path` and returns the bytes written; 0 on failure, with the reason in
  // *error when given. The file appears under `path` only when complete; an
  // existing file there is replaced then, and left alone on failure. With
  // dateOption 1 and a 19-character date text the file's access and
  // modification times are set from that local time.
  uint64_t WriteCandidate(uint64_t start, uint64_t size, const std::string& path,
                          const char* dateText, int32_t dateOption,
                          std::string* error = nullptr);

  const ImageBlock* block() const { return block_.get(); }
  const uint8_t* data() const { return block_ ? block_->data() : nullptr; }
  uint32_t size() const { return block_ ? block_->size() : 0; }
  const std::string& path() const { return path_; }
  int32_t mode() const { return mode_; }

 protected:
  int32_t run() override;

 private:
  void reportProgress(int percent);

  PluginHost* host_ = nullptr;          // not owned
  int32_t mode_ = 256;                  // ScanModeNormal; 259/260 while PNG/MOV scan
  CandidateList* list_ = nullptr;       // not owned; set by StartScan
  JobReporter* reporter_ = nullptr;     // not owned
  std::unique_ptr<ImageBlock> block_;   // null when nothing is loaded
  int fd_ = -1;                         // the open image file, or -1
  std::string path_;                    // the path last given to OpenFile
};

}  // namespace kestrix
