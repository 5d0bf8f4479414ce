// The recovery job: the one job object of the main window.
//
// It owns everything a job works on — the plug-in host, the image buffer
// (with its own scan thread), the raw drive, the copy's result text and the
// restore state — and runs one job at a time on its JobThread, chosen by the
// job kind:
//
//   job.setJobKind(RecoveryJob::KindRestore);  // 0x100 copy, 0x101, 0x102
//   job.start();                                // run() dispatches
//   ... the body posts its final message (0x500, 0x501 or 0x502) ...
//   job.stop();                                 // the window's handler joins
//
// End of a job. A job's last act is to post its final message through the
// JobReporter and return. It never waits for the window: the window handles
// the message later on its own thread and then joins the thread, which has
// already returned or is about to. Stopping a job that has not finished
// (the window being destroyed) clears the running flag; the bodies check it
// between steps and return without a final message.
//
// Threads: the owner (user-interface thread) calls everything except run()
// and RestoreToTemp(); run() is the job thread's body; RestoreToTemp() is
// called by the thumbnail worker and uses restore state of its own. A
// restore or preview may start while thumbnails are still being made, and
// both write through the same engines, which hold the block they are bound
// to and their extraction between calls: engineUse_ lets one of them at a
// time use the engines, so the thumbnails wait while a restore runs.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "host/extension_registry.h"
#include "host/plugin_host.h"
#include "jobs/image_buffer.h"
#include "jobs/job_thread.h"
#include "jobs/restore_job.h"
#include "media/raw_drive.h"

namespace kestrix {

class CandidateList;
class JobReporter;

class RecoveryJob : public JobThread {
 public:
  enum Kind : int32_t {
    KindCopy = 0x100,     // disk image copy of the probed drive (also the initial kind)
    KindRestore = 0x101,  // every selected row into the destination folder
    KindPreview = 0x102,  // the first selected row into the temporary folder
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

  void setJobKind(int32_t kind) { kind_ = kind; }
  int32_t jobKind() const { return kind_; }

  ImageBuffer& imageBuffer() { return image_; }
  RawDrive& drive() { return drive_; }

  // The image file chosen in the save or open dialog.
  void setImagePath(const std::string& path) { imagePath_ = path; }
  const std::string& imagePath() const { return imagePath_; }

  // The last copy's result text (media header, damage log, end lines);
  // empty before the first copy and when a copy failed before writing it.
  const std::string& resultText() const { return resultText_; }

  // Restore state: the destination folder and the date option of the next
  // restore (only kDateOptionSetFileTime sets file times).
  void setDestination(const std::string& folder, int32_t dateOption);
  // What the last restore or preview did, for the window's end message.
  const RestoreOutcome& restoreOutcome() const { return restore_.outcome(); }

  // Writes one row into the temporary folder for a thumbnail: 1 on success,
  // 0 on failure. Thumbnail worker thread; the caller deletes the file.
  int32_t RestoreToTemp(const CandidateList& list, int32_t row);

 protected:
  // 1 for an unknown kind, otherwise the body's result.
  int32_t run() override;

 private:
  int32_t runCopy();

  // Declaration order is destruction order reversed: the image buffer (and
  // its scan thread) goes before the host that owns the engines it uses.
  ExtensionRegistry registry_;  // this job's extensions; the scan walks them in order
  PluginHost host_;
  ImageBuffer image_;
  RawDrive drive_;
  RestoreJob restore_;           // job thread: restore and preview
  RestoreJob thumbnailRestore_;  // thumbnail worker thread only
  std::mutex engineUse_;              // held by a restore/preview body or one RestoreToTemp
  CandidateList* list_ = nullptr;     // not owned
  JobReporter* reporter_ = nullptr;   // not owned
  int32_t kind_ = KindCopy;
  std::string imagePath_;
  std::string resultText_;
};

}  // namespace kestrix
