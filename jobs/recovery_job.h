// The recovery job: the one job object of the main window.
//
// It owns everything a job works on — the plug-in host, the open image (a
// read-only mapping), the scan thread, the raw drive, the copy's result text
// and the restore state — and runs one job at a time on its JobThread,
// chosen by the job kind:
//
//   job.setJobKind(RecoveryJob::Kind::Restore);
//   job.start();                                // run() dispatches
//   ... the body posts its final message (CopyEnded, RestoreEnded, PreviewEnded) ...
//   job.stop();                                 // the window's handler joins
//
// End of a job. A job's last act is to post its final message through the
// JobReporter and return. It never waits for the window: the window handles
// the message later on its own thread and then joins the thread, which has
// already returned or is about to. Stopping a job that has not finished
// (the window being destroyed) clears the running flag; the bodies check it
// between steps and return without a final message.
//
// Engines. The scan, the restore/preview job, the single-row thumbnail
// (thumbnailEngines) and each thread of the window's check pool (its own
// sets from host()) have an engine set of their own (host/engine_set.h), so none of them ever
// waits for another or sees another's binding.
//
// Threads: the owner (user-interface thread) calls everything except run();
// run() is the job thread's body; thumbnailEngines() belongs to the
// thread that makes a single row's thumbnail (the window's forward).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/image_file.h"
#include "host/engine_set.h"
#include "host/extension_registry.h"
#include "host/plugin_host.h"
#include "jobs/copy_job.h"
#include "jobs/job_thread.h"
#include "jobs/restore_job.h"
#include "jobs/scan_job.h"
#include "media/raw_drive.h"

namespace kestrix {

class CandidateList;
class JobReporter;

class RecoveryJob : public JobThread {
 public:
  enum class Kind {
    Copy,     // disk image copy of the probed drive (also the initial kind)
    Restore,  // every chosen row (setChosenRows) into the destination folder
    Preview,  // the first chosen row into the temporary folder
  };

  RecoveryJob();
  ~RecoveryJob() override;

  // Loads every plug-in of `folder`; the number loaded. Called once, on the
  // user-interface thread, before any job starts.
  int loadPlugins(const std::string& folder);
  PluginHost& host() { return host_; }

  // The window that receives the job messages; also the scan's receiver.
  void setReporter(JobReporter* reporter);

  // The candidates the jobs read (and the scan fills); not owned.
  void setResultList(CandidateList* list) { list_ = list; }
  CandidateList* resultList() const { return list_; }

  void setJobKind(Kind kind) { kind_ = kind; }
  Kind jobKind() const { return kind_; }

  // The open image. openImage maps `path` (keeping an image already open at
  // that path by identity); releaseImage unmaps it. Only while no job, scan
  // or thumbnail reads it, and with every row that views it cleared first.
  LoadStatus openImage(const std::string& path);
  void releaseImage() { image_.reset(); }
  const ImageFile* image() const { return image_.get(); }
  ScanJob& scanJob() { return scan_; }
  // The scan's window (core/image_scan.h); tests set small ones so that
  // rows arrive while a small image is still being scanned.
  void setScanWindowBytes(uint64_t bytes) { scanWindowBytes_ = bytes; }
  uint64_t scanWindowBytes() const { return scanWindowBytes_; }

  RawDrive& drive() { return drive_; }

  // The image file chosen in the save or open dialog.
  void setImagePath(const std::string& path) { imagePath_ = path; }
  const std::string& imagePath() const { return imagePath_; }

  // The options of the next copy (a resume from the map, retries); kept
  // until set again.
  void setCopyOptions(const CopyOptions& options) { copyOptions_ = options; }
  const CopyOptions& copyOptions() const { return copyOptions_; }
  // How the last copy ended; read after the job thread was joined (a
  // stopped copy posts no message, so this is how the window learns it).
  CopyOutcome lastCopyOutcome() const { return lastCopyOutcome_; }

  // The last copy's result text (media header, damage log, end lines);
  // empty before the first copy and when a copy failed before writing it.
  const std::string& resultText() const { return resultText_; }

  // Restore state: the destination folder and the date option of the next
  // restore (only kDateOptionSetFileTime sets file times).
  void setDestination(const std::string& folder, int32_t dateOption);
  // The rows of the list the next restore or preview writes: the window's
  // selection as it stood when the command was given. Set only while no
  // job runs; the job thread reads it.
  void setChosenRows(std::vector<int32_t> rows) { chosenRows_ = std::move(rows); }
  const std::vector<int32_t>& chosenRows() const { return chosenRows_; }
  // What the last restore or preview did, for the window's end message.
  const RestoreOutcome& restoreOutcome() const { return restore_.outcome(); }

  // The single-row thumbnail's engines; made on first use by that thread.
  EngineSet& thumbnailEngines();

 protected:
  // 1 for an unknown kind, otherwise the body's result.
  int32_t run() override;

 private:
  int32_t runCopy();

  // Declaration order is destruction order reversed: the scan thread and
  // the engine sets go before the host whose libraries hold their code.
  ExtensionRegistry registry_;  // this job's extensions; the scan walks them in order
  PluginHost host_;
  std::unique_ptr<ImageFile> image_;  // null while no image is open
  RawDrive drive_;
  RestoreJob restore_;               // job thread: restore and preview
  EngineSet jobEngines_;             // job thread only
  EngineSet thumbnailEngines_;       // thumbnail worker only
  ScanJob scan_;                     // last: its thread stops first
  CandidateList* list_ = nullptr;    // not owned
  JobReporter* reporter_ = nullptr;  // not owned
  Kind kind_ = Kind::Copy;
  uint64_t scanWindowBytes_ = kScanWindowBytes;
  std::string imagePath_;
  std::string resultText_;
  std::vector<int32_t> chosenRows_;  // rows of list_ for the next restore or preview
  CopyOptions copyOptions_;
  CopyOutcome lastCopyOutcome_ = CopyOutcome::Failed;
};

}  // namespace kestrix
