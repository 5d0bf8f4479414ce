#include "jobs/copy_job.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "jobs/image_buffer.h"
#include "jobs/job_reporter.h"
#include "jobs/media_header_writer.h"
#include "media/boot_sector.h"
#include "media/raw_drive.h"

namespace kestrix {

namespace {

constexpr const char* kCopyFinished = "ディスクイメージの作成が完了しました。";
constexpr const char* kFinishedWithDamage =
    "\r\nイメージ作成中にいくつかの障害が発生しましたが、作業は最後まで続行されました。";
constexpr const char* kFinishedClean = "\r\n特にエラーは発生しませんでした。";

}  // namespace

CopyOutcome CopyJob::fail(uint32_t notice) {
  drive_.close();
  image_.CloseFile();
  reporter_.post(JobMessage::CopyNotice, notice);
  reporter_.post(JobMessage::CopyEnded, 0);
  return CopyOutcome::Failed;
}

void CopyJob::logDamage(uint64_t cluster, uint64_t sector) {
  ++damagedSectors_;
  if (damageLogBytes() >= kDamageLogLimit) return;
  char line[128];
  std::snprintf(line, sizeof line, "ディスク破損： %llu クラスタ %llu セクタ\r\n",
                static_cast<unsigned long long>(cluster), static_cast<unsigned long long>(sector));
  resultText_ += line;
}

void CopyJob::reportProgress(uint64_t cluster, uint64_t clusterCount) {
  const int percent = static_cast<int>(cluster * 100 / clusterCount);
  // Only changes reach the reporter: a window update per cluster would cost
  // more than reading the cluster.
  if (percent != lastPercent_) {
    lastPercent_ = percent;
    reporter_.setProgress(percent);
  }
}

CopyOutcome CopyJob::run(const std::string& imagePath, const std::function<bool()>& shouldContinue) {
  resultText_.clear();
  damageLogStart_ = 0;
  damagedSectors_ = 0;
  lastPercent_ = -1;

  // Write access empties an existing file, so a shorter copy never keeps
  // stale bytes of an earlier, longer one behind its end.
  if (!image_.OpenFile(imagePath, FileAccess::Write)) return fail(CopyNoticeImageFileNotOpened);
  const BootInfo info = drive_.bootInfo();
  if (!drive_.open(info.devicePath, RawDrive::kGenericRead)) return fail(CopyNoticeDriveNotOpened);
  const uint64_t clusterCount = info.clusterCount();
  const uint64_t clusterBytes = info.clusterBytes();
  // The probe never leaves such a geometry behind; a record filled some other
  // way gets refused rather than divided by.
  if (clusterCount == 0 || clusterBytes == 0 || clusterBytes > kMaximumClusterBytes) {
    return fail(CopyNoticeDriveNotOpened);
  }

  reporter_.setProgress(0);
  lastPercent_ = 0;
  writeMediaHeader(drive_, resultText_);
  damageLogStart_ = resultText_.size();

  const uint32_t sectorSize = info.sectorSize;
  const uint32_t sectorsPerCluster = info.sectorsPerCluster;
  const uint64_t clustersPerRun = std::max<uint64_t>(1, kRunBytes / clusterBytes);
  std::vector<uint8_t> salvaged(clusterBytes);  // one cluster pieced together from sectors

  // Writes `count` clusters from data; on a short write names the cluster
  // that did not make it completely.
  auto writeClusters = [&](const uint8_t* data, uint64_t first, uint64_t count) -> bool {
    uint32_t written = 0;
    if (image_.WriteBytes(data, static_cast<uint32_t>(count * clusterBytes), &written)) return true;
    const uint64_t failedCluster = first + written / clusterBytes;
    drive_.close();
    image_.CloseFile();
    if (damageLogBytes() < kDamageLogLimit) {
      char line[128];
      std::snprintf(line, sizeof line, "書込みエラー： %llu クラスタ目書込み中にエラー\r\n",
                    static_cast<unsigned long long>(failedCluster));
      resultText_ += line;
    }
    return false;
  };

  auto stop = [&] {
    drive_.close();
    image_.CloseFile();
    return CopyOutcome::Stopped;
  };

  for (uint64_t first = 0; first < clusterCount;) {
    const uint64_t count = std::min(clustersPerRun, clusterCount - first);
    uint32_t bytesRead = 0;
    if (drive_.readClusters(first, static_cast<uint32_t>(count), sectorSize, sectorsPerCluster,
                            &bytesRead)) {
      // The flag is asked once per run: a run is read whole, so a stop
      // between its clusters would save nothing worth the checks.
      if (!shouldContinue()) return stop();
      if (!writeClusters(drive_.buffer(), first, count)) {
        reporter_.post(JobMessage::CopyNotice, CopyNoticeWriteFailed);
        reporter_.post(JobMessage::CopyEnded, 0);
        return CopyOutcome::Failed;
      }
    } else {
      // The run failed somewhere: fall back to what one read per cluster
      // would have done, so damage is found and logged exactly as then.
      for (uint64_t cluster = first; cluster < first + count; ++cluster) {
        if (!shouldContinue()) return stop();
        const uint8_t* data = nullptr;
        if (drive_.readClusters(cluster, 1, sectorSize, sectorsPerCluster, &bytesRead)) {
          data = drive_.buffer();
        } else {
          // Damage is never fatal: keep every sector that reads, put zero
          // bytes where one does not, log it and carry on.
          for (uint32_t s = 0; s < sectorsPerCluster; ++s) {
            const uint64_t sector = cluster * sectorsPerCluster + s;
            uint8_t* target = salvaged.data() + uint64_t{s} * sectorSize;
            if (drive_.readSectors(sector, 1, sectorSize, &bytesRead)) {
              std::memcpy(target, drive_.buffer(), sectorSize);
            } else {
              std::memset(target, 0, sectorSize);
              logDamage(cluster, sector);
            }
          }
          data = salvaged.data();
        }
        if (!writeClusters(data, cluster, 1)) {
          reporter_.post(JobMessage::CopyNotice, CopyNoticeWriteFailed);
          reporter_.post(JobMessage::CopyEnded, 0);
          return CopyOutcome::Failed;
        }
        reportProgress(cluster, clusterCount);
      }
    }
    first += count;
    reportProgress(first - 1, clusterCount);
  }

  reporter_.setProgress(100);
  drive_.close();
  image_.CloseFile();
  resultText_ += kCopyFinished;
  resultText_ += damagedSectors_ > 0 ? kFinishedWithDamage : kFinishedClean;
  reporter_.setProgress(0);
  reporter_.setImageName(imagePath);
  reporter_.post(JobMessage::CopyEnded, 1);
  return CopyOutcome::Finished;
}

}  // namespace kestrix
