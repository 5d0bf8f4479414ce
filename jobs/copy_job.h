// The disk image copy: every whole cluster of a probed drive, in order, into
// an image file, with damaged clusters salvaged sector by sector and logged.
//
//   CopyJob job(drive, imageBuffer, reporter);   // drive: probed, closed
//   job.run(imagePath, [&] { return thread.shouldContinue(); });
//   show(job.resultText());                       // after CopyEnded
//
// Image invariants (the scan reports offsets into the image as offsets into
// the volume, so they must hold whatever the drive does):
//   - the image is exactly clusterCount × clusterBytes long once finished;
//   - cluster n lies at byte n × clusterBytes;
//   - an unreadable sector is zero bytes at its own offset, and only it:
//     the readable sectors of the same cluster keep their data.
//
// Reading: runs of whole clusters (up to kRunBytes) in one read; a run that
// fails is read again cluster by cluster, and a cluster that fails sector by
// sector, so the result is exactly what reading one cluster at a time gives.
//
// Messages: CopyNotice (image not opened, drive not opened, write failed)
// always followed by CopyEnded 0; CopyEnded 1 when finished. A cleared
// running flag ends the job at once without a message.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kestrix {

class ImageBuffer;
class JobReporter;
class RawDrive;

enum class CopyOutcome {
  Finished,  // every cluster written; damage, if any, is in the result text
  Failed,    // a notice was posted; the image is incomplete or absent
  Stopped,   // the running flag was cleared; no message was posted
};

class CopyJob {
 public:
  // Bytes of whole clusters read in one platform read.
  static constexpr uint64_t kRunBytes = uint64_t{1} << 20;
  // Damage lines are appended only while those already written take less
  // than this; later damage still counts for the end message.
  static constexpr size_t kDamageLogLimit = 0x1F00;

  // None is owned; all must outlive the job.
  CopyJob(RawDrive& drive, ImageBuffer& image, JobReporter& reporter)
      : drive_(drive), image_(image), reporter_(reporter) {}

  // Copies the drive that the last probe described into imagePath (replaced
  // if it exists). shouldContinue is asked before every cluster.
  CopyOutcome run(const std::string& imagePath, const std::function<bool()>& shouldContinue);

  // The media header, damage lines and end messages of the last run; empty
  // when that run failed before the drive was open.
  const std::string& resultText() const { return resultText_; }
  // Sectors found unreadable in the last run (logged or not).
  uint64_t damagedSectors() const { return damagedSectors_; }

 private:
  CopyOutcome fail(uint32_t notice);
  void logDamage(uint64_t cluster, uint64_t sector);
  void reportProgress(uint64_t cluster, uint64_t clusterCount);
  size_t damageLogBytes() const { return resultText_.size() - damageLogStart_; }

  RawDrive& drive_;
  ImageBuffer& image_;
  JobReporter& reporter_;
  std::string resultText_;
  size_t damageLogStart_ = 0;     // where the header ends and the damage lines begin
  uint64_t damagedSectors_ = 0;
  int lastPercent_ = -1;
};

}  // namespace kestrix
