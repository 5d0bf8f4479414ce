// How jobs talk to the window that started them.
//
// Workers never touch widgets. A job on its own thread reports through this
// interface; the desktop window implements it by turning each call into a
// queued event on the user-interface thread, the command-line program by
// printing. Each report names what it carries (report::ScanEnded and the
// others); the JobMessage numbers stay only as the window's protocol, for
// its signal and its logs.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace kestrix {

enum class JobMessage : uint32_t {
  ScanEnded = 0x401,     // protocol value: rows added
  CopyNotice = 0x410,    // protocol value: CopyNoticeCode
  CopyEnded = 0x500,     // protocol value: 1 finished, 0 failed
  RestoreEnded = 0x501,  // protocol value: files restored
  PreviewEnded = 0x502,  // protocol value: list row + 1 of the written file, 0 when none
};

// What went wrong with a copy. The programs hold its words
// (copyNoticeText, texts/job_texts.h); a code they do not know reads as a
// failed copy.
// plain enum: the code travels as the CopyNotice message's integer payload
// and is compared with values that may name no notice.
enum CopyNoticeCode : uint32_t {
  CopyNoticeImageFileNotOpened = 0x10,   // the image file could not be made or opened for writing
  CopyNoticeDriveNotOpened = 0x11,       // the drive could not be opened or probed
  CopyNoticeWriteFailed = 0x12,          // writing the image (or moving it into place) failed
  CopyNoticeDestinationOnSource = 0x13,  // the image would be written onto the card itself
  CopyNoticeMapUnusable =
      0x14,  // --resume: no map, an unreadable, damaged or cut one, or no image beside it
  CopyNoticeMapOfAnotherDrive = 0x15,  // --resume: the map names another size or identity
  CopyNoticeDriveLost = 0x16,          // every read failed: the card stopped answering
};

// Every notice a copy posts, in code order.
inline constexpr CopyNoticeCode kCopyNoticeCodes[] = {
    CopyNoticeImageFileNotOpened,  CopyNoticeDriveNotOpened, CopyNoticeWriteFailed,
    CopyNoticeDestinationOnSource, CopyNoticeMapUnusable,    CopyNoticeMapOfAnotherDrive,
    CopyNoticeDriveLost,
};
// True when `value` names one of them (a protocol value may name none).
bool isCopyNotice(uint64_t value);

// Where a copy stands, for a status line; sent at most a few times a second.
struct CopyStatus {
  uint64_t deviceBytes = 0;
  uint64_t rescuedBytes = 0;      // finished in the map
  uint64_t pendingBytes = 0;      // not tried, not trimmed or not scraped yet
  uint64_t badBytes = 0;          // bad sectors
  uint64_t badAreas = 0;          // runs of bad sectors
  uint64_t bytesReadThisRun = 0;  // what this run read from the drive into the image
  double secondsSinceGoodRead = 0;
  double bytesPerSecond = 0;  // rescued bytes per second over this run
  char phase = '?';  // as the map's status line: ? copying, * trimming, / scraping, - retrying
};

// What each report carries.
namespace report {
struct ScanEnded {
  uint64_t rowsAdded = 0;
};
struct CopyNotice {  // always followed by CopyEnded
  CopyNoticeCode code = CopyNoticeImageFileNotOpened;
};
struct CopyEnded {
  bool finished = false;
};
struct RestoreEnded {
  uint32_t filesWritten = 0;
};
struct PreviewEnded {
  int32_t row = -1;  // the list row whose file was written; -1 when none was
};
}  // namespace report

using JobReport = std::variant<report::ScanEnded, report::CopyNotice, report::CopyEnded,
                               report::RestoreEnded, report::PreviewEnded>;

// The window protocol's number of a report, and its one value in that
// protocol's form (see JobMessage).
JobMessage messageOf(const JobReport& report);
uint64_t protocolValueOf(const JobReport& report);

class JobReporter {
 public:
  virtual ~JobReporter() = default;
  // A job's notice or final report. The job returns right after its final
  // report; the receiver joins the finished thread.
  virtual void post(const JobReport& report) = 0;
  // Progress bar position, 0 to 100.
  virtual void setProgress(int percent) = 0;
  // Items done of items to do, for the numbers beside the bar (the restore:
  // selected files handled so far of all selected).
  virtual void countProgress(uint64_t done, uint64_t total) { (void)done, (void)total; }
  // The copy's state for a status line (rate, rescued bytes, bad areas).
  virtual void copyStatus(const CopyStatus& status) { (void)status; }
  // The copy job puts the new image's path into the image-name field.
  virtual void setImageName(const std::string& path) { (void)path; }
  // The scan disables the results list while it appends to it.
  virtual void setListEnabled(bool enabled) { (void)enabled; }
};

}  // namespace kestrix
