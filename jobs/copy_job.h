// The disk image copy: every byte of a probed drive, up to the device's own
// size whatever its boot sector claims, into an image file, read the way a
// careful rescuer reads a failing card, with a rescue map beside the image.
//
//   CopyJob job(drive, reporter);                  // drive: probed, closed
//   job.run(imagePath, [&] { return thread.shouldContinue(); }, options);
//   show(job.resultText());                        // after CopyEnded
//
// Files: while the copy runs the image is written to imagePath + ".part"
// and its map to imagePath + ".part.map"; only a finished copy takes the
// final names (imagePath, imagePath + ".map"), so an earlier image and its
// map stay intact until then and a name without ".part" is never a partial
// copy. Every map tells the truth about the image whose name it extends:
// written atomically when the copy starts, after read errors (at most once
// a second, so thousands of bad sectors do not cost thousands of fsyncs),
// at least every mapInterval, and at the end. At the end the old map goes
// first, then the image and then the map are renamed into place, so no map
// ever describes an image it was not written for. A resume continues the
// ".part" from its ".part.map" (or, when the copy had finished, retries the
// bad sectors of imagePath in place).
//
// Passes (each reads only what the map does not mark finished):
//   1. copying: runs of up to kRunBytes (whole clusters, aligned to the run
//      size); a failed run becomes non-trimmed and the copy skips ahead,
//      the skip doubling on every further failed run, so the good areas
//      come first;
//   2. copying the skipped areas, run by run, without skipping;
//   3. trimming: each non-trimmed area is read sector by sector from its
//      start and from its end up to the first failure each way; what lies
//      between becomes non-scraped;
//   4. scraping: every non-scraped sector is read alone; a failure is a bad
//      sector;
//   5. retries: options.retries further passes over the bad sectors.
//
// Image invariants (the scan reports offsets into the image as offsets into
// the device, so they must hold whatever the drive does):
//   - a finished image is exactly the device's size;
//   - byte n of the image is byte n of the device, or zero where the map
//     does not mark it finished;
//   - the map never marks finished a byte that is not on the disk: the
//     image is synced before every map save.
//
// A card that stops answering (ENODEV, ENOMEDIUM, or a run of failed reads
// after which even a sector read before fails again) ends the run at once
// with DriveLost, so a pulled reader costs seconds, not a pass through the
// whole card.
//
// Messages: CopyNotice (see CopyNoticeCode) always followed by CopyEnded 0;
// CopyEnded 1 when finished. A cleared running flag saves the map and ends
// the job without a message.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "jobs/image_writer.h"
#include "media/rescue_map.h"

namespace kestrix {

class JobReporter;
class RawDrive;

enum class CopyOutcome {
  Finished,   // every pass ran; damage, if any, is in the result text and the map
  Failed,     // a notice was posted; the image is incomplete, absent or refused
  Stopped,    // the running flag was cleared; map saved, no message posted
  DriveLost,  // the card stopped answering; map saved, CopyNoticeDriveLost posted
};

struct CopyOptions {
  // Continue from the map of the copy under way (imagePath + ".part.map"),
  // or of the finished image (imagePath + ".map"), instead of starting over.
  bool resume = false;
  // Further passes over bad sectors after scraping.
  uint32_t retries = 0;
  // Longest time between two map saves while reads succeed.
  std::chrono::milliseconds mapInterval{30000};
};

class CopyJob {
 public:
  // Bytes read in one platform read in the copying passes (rounded down to
  // whole clusters when a cluster is larger).
  static constexpr uint64_t kRunBytes = uint64_t{1} << 20;
  // Damage lines are appended only while those already written take less
  // than this; later damage still counts for the end message.
  static constexpr size_t kDamageLogLimit = 0x1F00;
  // Failed reads in a row after which a sector read before is tried again
  // to tell a bad area from a card that no longer answers.
  static constexpr uint32_t kFailuresBeforeLivenessCheck = 8;

  static std::string partPath(const std::string& imagePath) { return imagePath + ".part"; }
  // The map of the finished image.
  static std::string mapPath(const std::string& imagePath) { return imagePath + ".map"; }
  // The map of the copy under way, beside its ".part".
  static std::string partMapPath(const std::string& imagePath) {
    return partPath(imagePath) + ".map";
  }
  // The map a resume continues from: the ".part.map" when there is one,
  // else the finished image's map.
  static std::string resumeMapPath(const std::string& imagePath);

  // Neither is owned; both must outlive the job.
  CopyJob(RawDrive& drive, JobReporter& reporter) : drive_(drive), reporter_(reporter) {}

  // Copies the drive that the last probe described into imagePath (an
  // existing file of that name is replaced when the copy finishes).
  // shouldContinue is asked before every read.
  CopyOutcome run(const std::string& imagePath, const std::function<bool()>& shouldContinue,
                  const CopyOptions& options = {});

  // The media header, damage lines and end messages of the last run; empty
  // when that run failed before the drive was open.
  const std::string& resultText() const { return resultText_; }
  // Sectors of the geometry's size the map marks bad after the last run.
  uint64_t damagedSectors() const { return damagedSectors_; }
  // Bytes the last run read from the drive and put into the image: what it
  // added to the map's finished bytes (failed reads and the re-reads of a
  // liveness check are not counted; a resume reads only what the map did
  // not mark finished).
  uint64_t bytesRead() const { return bytesRead_; }
  // The map as the last run left it.
  const RescueMap& map() const { return map_; }
  // errno of the last map save that failed in the last run, 0 when all worked.
  int mapSaveError() const { return mapSaveError_; }
  // The map file the last run wrote (the ".part.map" unless it finished).
  const std::string& mapFile() const { return mapPath_; }

 private:
  enum class Step { Good, Bad, Stop, Lost, WriteFailed };
  using Clock = std::chrono::steady_clock;

  CopyOutcome fail(uint32_t notice);
  CopyOutcome copyAll();
  Step copyPiece(uint64_t offset, uint64_t length, BlockStatus onFailure);
  Step copyingPass(bool skipAhead);
  Step sectorPass(BlockStatus from, bool trim);
  Step trimBlock(const MapBlock& block);
  bool cardStillAnswers();
  uint64_t sectorEnd(uint64_t offset) const;
  void saveMap();
  void maybeSaveMap();
  bool moveIntoPlace();
  void reportProgress(bool force);
  void writeDamageLines();
  size_t damageLogBytes() const { return resultText_.size() - damageLogStart_; }

  RawDrive& drive_;
  JobReporter& reporter_;
  const std::function<bool()>* shouldContinue_ = nullptr;
  CopyOptions options_;
  std::string imagePath_;
  std::string targetPath_;  // the file written: the ".part", or the finished image on a resume
  std::string mapPath_;     // the map written: the ".part.map", or the final map in place
  RescueMap map_;
  ImageWriter writer_;
  uint64_t deviceBytes_ = 0;
  uint64_t sectorBytes_ = 512;  // the geometry's sector: unit of trimming, scraping, damage lines
  uint64_t clusterBytes_ = 512;
  uint64_t runBytes_ = kRunBytes;
  uint64_t lastGoodOffset_ = UINT64_MAX;  // a sector that read, for the liveness check
  uint32_t failuresInARow_ = 0;
  uint64_t failedWriteOffset_ = 0;
  std::string resultText_;
  size_t damageLogStart_ = 0;  // where the header ends and the damage lines begin
  uint64_t damagedSectors_ = 0;
  uint64_t bytesRead_ = 0;
  int mapSaveError_ = 0;
  bool errorUnsaved_ = false;  // a read failed since the last map save
  int lastPercent_ = -1;
  Clock::time_point started_{}, lastSave_{}, lastGoodRead_{}, lastStatus_{};
};

}  // namespace kestrix
