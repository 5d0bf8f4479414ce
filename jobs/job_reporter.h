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
  CopyNoticeDestinationOnSource = 0x13,  // the image would be written onto the card itself
  CopyNoticeMapUnusable = 0x14,          // --resume: no map, an unreadable one, or no image beside it
  CopyNoticeMapOfAnotherDrive = 0x15,    // --resume: the map names another size or identity
  CopyNoticeDriveLost = 0x16,            // every read failed: the card stopped answering
};

// Where a copy stands, for a status line; sent at most a few times a second.
struct CopyStatus {
  uint64_t deviceBytes = 0;
  uint64_t rescuedBytes = 0;     // finished in the map
  uint64_t pendingBytes = 0;     // not tried, not trimmed or not scraped yet
  uint64_t badBytes = 0;         // bad sectors
  uint64_t badAreas = 0;         // runs of bad sectors
  uint64_t bytesReadThisRun = 0; // what this run read from the drive
  double secondsSinceGoodRead = 0;
  double bytesPerSecond = 0;     // rescued bytes per second over this run
  char phase = '?';              // as the map's status line: ? copying, * trimming, / scraping, - retrying
};

class JobReporter {
 public:
  virtual ~JobReporter() = default;
  // A job's notice or final message. The job returns right after its final
  // message; the receiver joins the finished thread.
  virtual void post(JobMessage message, uint64_t wParam, int64_t lParam = 0) = 0;
  // Progress bar position, 0 to 100.
  virtual void setProgress(int percent) = 0;
  // The copy's state for a status line (rate, rescued bytes, bad areas).
  virtual void copyStatus(const CopyStatus& status) { (void)status; }
  // The copy job puts the new image's path into the image-name field.
  virtual void setImageName(const std::string& path) { (void)path; }
  // The scan disables the results list while it appends to it.
  virtual void setListEnabled(bool enabled) { (void)enabled; }
};

}  // namespace kestrix
