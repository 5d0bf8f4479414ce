// How jobs talk to the window that started them.
//
// Workers never touch widgets. A job on its own thread reports through this
// interface; the desktop window implements it by turning each call into a
// queued event on the user-interface thread, the command-line program by
// printing. The message numbers are the window's own protocol.
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

enum class JobMessage : uint32_t {
  ScanEnded = 0x401,      // wParam: candidates found
  CopyNotice = 0x410,     // wParam: CopyNoticeCode, always followed by CopyEnded
  CopyEnded = 0x500,      // wParam: 1 finished, 0 failed
  RestoreEnded = 0x501,   // wParam: files restored
  PreviewEnded = 0x502,   // wParam: list row + 1 of the written file, 0 when none
  MakeThumbnail = 0x600,  // wParam: list row, lParam: image index
};

enum CopyNoticeCode : uint32_t {
  CopyNoticeImageFileNotOpened = 0x10,
  CopyNoticeDriveNotOpened = 0x11,
  CopyNoticeWriteFailed = 0x12,
};

class JobReporter {
 public:
  virtual ~JobReporter() = default;
  // A job's notice or final message. The job returns right after its final
  // message; the receiver joins the finished thread.
  virtual void post(JobMessage message, uint64_t wParam, int64_t lParam = 0) = 0;
  // Progress bar position, 0 to 100.
  virtual void setProgress(int percent) = 0;
  // The copy job puts the new image's path into the image-name field.
  virtual void setImageName(const std::string& path) { (void)path; }
  // The scan disables the results list while it appends to it.
  virtual void setListEnabled(bool enabled) { (void)enabled; }
};

}  // namespace kestrix
