#include "jobs/copy_job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "jobs/job_reporter.h"
#include "jobs/media_header_writer.h"
#include "media/boot_sector.h"
#include "media/device_identity.h"
#include "media/drive_error.h"
#include "media/raw_drive.h"

namespace kestrix {

namespace {

constexpr const char* kCopyFinished = "ディスクイメージの作成が完了しました。";
constexpr const char* kFinishedWithDamage =
    "\r\nイメージ作成中にいくつかの障害が発生しましたが、作業は最後まで続行されました。";
constexpr const char* kFinishedClean = "\r\n特にエラーは発生しませんでした。";
// The longest skip after repeated failed runs: far enough to leave a dead
// area quickly, near enough that the good areas behind it are found in the
// first pass.
constexpr uint64_t kMaximumSkipBytes = uint64_t{1} << 30;
constexpr auto kStatusInterval = std::chrono::milliseconds(250);
// A failing card gives errors by the thousand; three fsyncs after each would
// cost more than the reads. An error waits at most this long for its save,
// and an unsaved one only means its area is read again on a resume.
constexpr auto kErrorSaveInterval = std::chrono::seconds(1);

bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// The renames must survive a power cut too.
void syncFolderOf(const std::string& path) {
  const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return;
  ::fsync(folder);
  ::close(folder);
}

}  // namespace

std::string CopyJob::resumeMapPath(const std::string& imagePath) {
  const std::string partMap = partMapPath(imagePath);
  return exists(partMap) ? partMap : mapPath(imagePath);
}

CopyOutcome CopyJob::fail(uint32_t notice) {
  drive_.close();
  writer_.close();
  reporter_.post(report::CopyNotice{static_cast<CopyNoticeCode>(notice)});
  reporter_.post(report::CopyEnded{false});
  return CopyOutcome::Failed;
}

uint64_t CopyJob::sectorEnd(uint64_t offset) const {
  return std::min(deviceBytes_, (offset / sectorBytes_ + 1) * sectorBytes_);
}

void CopyJob::saveMap() {
  // The map may only promise what is on the disk.
  writer_.sync();
  const int error = map_.save(mapPath_);
  if (error != 0) mapSaveError_ = error;
  lastSave_ = Clock::now();
  errorUnsaved_ = false;
}

bool CopyJob::moveIntoPlace() {
  // The finished copy takes the final names only now: an earlier image and
  // its map were never touched before this point. The old map goes first,
  // so a crash in between leaves an image without a map (nothing claimed)
  // rather than the old map beside the new image.
  const std::string finalMap = mapPath(imagePath_);
  if (targetPath_ == imagePath_ && mapPath_ == finalMap) return true;
  if (::unlink(finalMap.c_str()) != 0 && errno != ENOENT) return false;
  if (targetPath_ != imagePath_ && ::rename(targetPath_.c_str(), imagePath_.c_str()) != 0)
    return false;
  targetPath_ = imagePath_;
  if (::rename(mapPath_.c_str(), finalMap.c_str()) != 0) {
    mapSaveError_ = errno;
    return true;  // the image is complete; the map stays beside where the ".part" was
  }
  mapPath_ = finalMap;
  syncFolderOf(imagePath_);
  return true;
}

void CopyJob::maybeSaveMap() {
  const auto since = Clock::now() - lastSave_;
  if (since >= options_.mapInterval || (errorUnsaved_ && since >= kErrorSaveInterval)) saveMap();
}

void CopyJob::reportProgress(bool force) {
  const Clock::time_point now = Clock::now();
  if (!force && now - lastStatus_ < kStatusInterval) return;
  lastStatus_ = now;
  CopyStatus status;
  status.deviceBytes = deviceBytes_;
  status.rescuedBytes = map_.bytesWith(BlockStatus::Finished);
  status.badBytes = map_.bytesWith(BlockStatus::BadSector);
  status.badAreas = map_.blocksWith(BlockStatus::BadSector);
  status.pendingBytes =
      deviceBytes_ - std::min(deviceBytes_, status.rescuedBytes + status.badBytes);
  status.bytesReadThisRun = bytesRead_;
  status.secondsSinceGoodRead = std::chrono::duration<double>(now - lastGoodRead_).count();
  const double seconds = std::chrono::duration<double>(now - started_).count();
  status.bytesPerSecond = seconds > 0 ? static_cast<double>(bytesRead_) / seconds : 0;
  status.phase = static_cast<char>(map_.phase);
  reporter_.copyStatus(status);
  const int percent =
      deviceBytes_ == 0 ? 100
                        : static_cast<int>(static_cast<double>(deviceBytes_ - status.pendingBytes) *
                                           100 / static_cast<double>(deviceBytes_));
  // Only changes reach the reporter: a window update per read would cost
  // more than the read.
  if (percent != lastPercent_) {
    lastPercent_ = percent;
    reporter_.setProgress(percent);
  }
}

bool CopyJob::cardStillAnswers() {
  // A sector that read before reads again on a card that only has a bad
  // area here; a reader that dropped out fails it too.
  const uint64_t offset = lastGoodOffset_ == UINT64_MAX ? 0 : lastGoodOffset_;
  const uint64_t length = sectorEnd(offset) - offset;
  uint32_t got = 0;
  const bool aligned = offset % sectorBytes_ == 0 && length == sectorBytes_;
  const uint32_t unit = aligned ? static_cast<uint32_t>(sectorBytes_) : 1;
  // Not counted in bytesRead_: the sector is finished already.
  return drive_.readSectors(offset / unit, static_cast<uint32_t>(length / unit), unit, &got);
}

CopyJob::Step CopyJob::copyPiece(uint64_t offset, uint64_t length, BlockStatus onFailure) {
  if (!(*shouldContinue_)()) return Step::Stop;
  // Whole sectors of the geometry; only a file whose size is not a multiple
  // of it ends in a piece read byte-wise.
  const bool aligned = offset % sectorBytes_ == 0 && length % sectorBytes_ == 0;
  const uint32_t unit = aligned ? static_cast<uint32_t>(sectorBytes_) : 1;
  uint32_t got = 0;
  const bool ok =
      drive_.readSectors(offset / unit, static_cast<uint32_t>(length / unit), unit, &got);
  if (ok) {
    size_t written = 0;
    if (writer_.writeAt(offset, drive_.buffer(), length, &written) != 0) {
      failedWriteOffset_ = offset + written;
      return Step::WriteFailed;
    }
    map_.set(offset, offset + length, BlockStatus::Finished);
    // Every pass reads only bytes the map does not mark finished, so this
    // is exactly what the run adds to the map's finished bytes.
    bytesRead_ += length;
    lastGoodOffset_ = offset;
    lastGoodRead_ = Clock::now();
    failuresInARow_ = 0;
    maybeSaveMap();
    reportProgress(false);
    return Step::Good;
  }
  if (drive_.lastError() == kDriveNotReady) return Step::Lost;  // ENODEV, ENOMEDIUM, ENXIO
  map_.set(offset, offset + length, onFailure);
  map_.currentPos = offset;
  if (++failuresInARow_ % kFailuresBeforeLivenessCheck == 0 && !cardStillAnswers())
    return Step::Lost;
  errorUnsaved_ = true;
  maybeSaveMap();
  reportProgress(false);
  return Step::Bad;
}

CopyJob::Step CopyJob::copyingPass(bool skipAhead) {
  uint64_t skip = 0;
  uint64_t pos = 0;
  while (auto block = map_.nextBlock(pos, BlockStatus::NonTried)) {
    uint64_t offset = block->pos;
    const uint64_t blockEnd = block->end();
    while (offset < blockEnd) {
      // Runs end on multiples of the run size, so they stay cluster-aligned
      // after a skip or a resume.
      const uint64_t end = std::min(blockEnd, (offset / runBytes_ + 1) * runBytes_);
      map_.currentPos = offset;
      const Step step = copyPiece(offset, end - offset, BlockStatus::NonTrimmed);
      if (step != Step::Good && step != Step::Bad) return step;
      offset = end;
      if (step == Step::Good) {
        skip = 0;
      } else if (skipAhead) {
        const uint64_t largest = std::max(
            runBytes_, std::min(kMaximumSkipBytes, deviceBytes_ / 64 / runBytes_ * runBytes_));
        skip = skip == 0 ? runBytes_ : std::min(skip * 2, largest);
        offset = std::min(blockEnd, offset + skip);  // the skipped bytes stay non-tried for pass 2
      }
    }
    pos = blockEnd;
  }
  return Step::Good;
}

CopyJob::Step CopyJob::trimBlock(const MapBlock& block) {
  uint64_t begin = block.pos, end = block.end();
  // From the start up to the first sector that fails...
  while (begin < end) {
    const uint64_t pieceEnd = std::min(end, sectorEnd(begin));
    const Step step = copyPiece(begin, pieceEnd - begin, BlockStatus::BadSector);
    if (step != Step::Good && step != Step::Bad) return step;
    begin = pieceEnd;
    if (step == Step::Bad) break;
  }
  // ...and from the end back down to the first that fails.
  while (begin < end) {
    const uint64_t pieceBegin = std::max(begin, (end - 1) / sectorBytes_ * sectorBytes_);
    const Step step = copyPiece(pieceBegin, end - pieceBegin, BlockStatus::BadSector);
    if (step != Step::Good && step != Step::Bad) return step;
    end = pieceBegin;
    if (step == Step::Bad) break;
  }
  if (begin < end) map_.set(begin, end, BlockStatus::NonScraped);
  return Step::Good;
}

CopyJob::Step CopyJob::sectorPass(BlockStatus from, bool trim) {
  uint64_t pos = 0;
  while (auto block = map_.nextBlock(pos, from)) {
    const uint64_t blockEnd = block->end();
    if (trim) {
      const Step step = trimBlock(*block);
      if (step != Step::Good) return step;
    } else {
      for (uint64_t offset = block->pos; offset < blockEnd;) {
        const uint64_t end = std::min(blockEnd, sectorEnd(offset));
        const Step step = copyPiece(offset, end - offset, BlockStatus::BadSector);
        if (step != Step::Good && step != Step::Bad) return step;
        offset = end;
      }
    }
    pos = blockEnd;
  }
  return Step::Good;
}

CopyOutcome CopyJob::run(const std::string& imagePath, const std::function<bool()>& shouldContinue,
                         const CopyOptions& options) {
  resultText_.clear();
  damageLogStart_ = 0;
  damagedSectors_ = 0;
  bytesRead_ = 0;
  mapSaveError_ = 0;
  lastPercent_ = -1;
  failuresInARow_ = 0;
  lastGoodOffset_ = UINT64_MAX;
  shouldContinue_ = &shouldContinue;
  options_ = options;
  mapPath_ = partMapPath(imagePath);
  map_ = RescueMap{};

  const BootInfo info = drive_.bootInfo();
  // An image in the card's own free space would overwrite the deleted
  // photos it is meant to save.
  if (isOnSourceDevice(info.devicePath, folderOf(imagePath)))
    return fail(CopyNoticeDestinationOnSource);
  if (!drive_.open(info.devicePath, RawDrive::kGenericRead)) return fail(CopyNoticeDriveNotOpened);
  deviceBytes_ = std::min(drive_.deviceBytes(), RescueMap::kMaximumPosition);
  sectorBytes_ = info.sectorSize;
  clusterBytes_ = info.clusterBytes();
  // The probe never leaves such a geometry behind; a record filled some other
  // way gets refused rather than divided by.
  if (sectorBytes_ == 0 || clusterBytes_ == 0 || clusterBytes_ > kMaximumClusterBytes) {
    return fail(CopyNoticeDriveNotOpened);
  }
  runBytes_ = std::max(clusterBytes_, kRunBytes / clusterBytes_ * clusterBytes_);
  const DeviceIdentity device = identifyDevice(info.devicePath, deviceBytes_);

  // The file written: the ".part" of a copy under way, or a finished image
  // whose bad sectors a resume tries again.
  imagePath_ = imagePath;
  const std::string part = partPath(imagePath);
  const std::string partMap = partMapPath(imagePath);
  targetPath_ = part;
  mapPath_ = partMap;
  if (options.resume) {
    mapPath_ = resumeMapPath(imagePath);
    RescueMapLoad loaded = RescueMap::load(mapPath_);
    if (!loaded.map) return fail(CopyNoticeMapUnusable);
    const RescueMap& old = *loaded.map;
    // A map cut short (copied to a stick that filled up, say) is damaged,
    // not another drive's, though its last block or device line may still
    // parse shorter: a file that ends inside a line, a domain short of the
    // size the map itself records, an identity that is the start of this
    // drive's.
    const bool otherId = !old.device.id.empty() && old.device.id != device.id;
    if (loaded.endsInsideALine || (old.device.size != 0 && old.device.size != old.domainEnd()) ||
        (otherId && device.id.starts_with(old.device.id))) {
      return fail(CopyNoticeMapUnusable);
    }
    if (old.domainEnd() != deviceBytes_ || old.domainBegin() != 0 || otherId) {
      return fail(CopyNoticeMapOfAnotherDrive);
    }
    map_ = std::move(*loaded.map);
    const bool ofThePart = mapPath_ == partMap;
    if (exists(part)) {
      // The finished image's map says nothing about a ".part".
      if (!ofThePart || writer_.openExisting(part) != 0) return fail(CopyNoticeMapUnusable);
    } else if (map_.onlyBadSectorsLeft() && (!ofThePart || map_.phase == RescuePhase::Done)) {
      // A finished copy: its bad sectors are read again into the image in
      // place, which only ever turns zero bytes into the card's own. A
      // finished ".part.map" without its ".part" is one whose image was
      // renamed into place just before the run ended; it follows the image
      // at the end.
      targetPath_ = imagePath;
      if (writer_.openExisting(targetPath_) != 0) return fail(CopyNoticeMapUnusable);
    } else if (map_.bytesWith(BlockStatus::Finished) == 0) {
      // Stopped before its first byte was written: nothing to lose.
      mapPath_ = partMap;
      if (writer_.create(part) != 0) return fail(CopyNoticeImageFileNotOpened);
    } else {
      // The partial image the map describes is gone, and with it the
      // finished areas; an unfinished map never continues into imagePath.
      return fail(CopyNoticeMapUnusable);
    }
  } else {
    map_ = RescueMap::fresh(deviceBytes_);
    map_.device = device;
    // The old ".part" goes, then the fresh map comes, then the new ".part":
    // a crash at any point never leaves a map claiming bytes of a ".part"
    // that does not hold them. The finished image and its map are not
    // touched before the new copy is complete.
    if (::unlink(part.c_str()) != 0 && errno != ENOENT) return fail(CopyNoticeImageFileNotOpened);
    saveMap();
    if (writer_.create(part) != 0) return fail(CopyNoticeImageFileNotOpened);
  }
  map_.device = device;
  struct stat sourceInfo {};
  if (stat(info.devicePath.c_str(), &sourceInfo) == 0 && S_ISREG(sourceInfo.st_mode) &&
      sourceInfo.st_dev == writer_.device() && sourceInfo.st_ino == writer_.inode()) {
    return fail(CopyNoticeImageFileNotOpened);  // never write into the source
  }

  started_ = lastGoodRead_ = lastStatus_ = Clock::now();
  reporter_.setProgress(0);
  lastPercent_ = 0;
  writeMediaHeader(drive_, resultText_);
  damageLogStart_ = resultText_.size();
  // A map exists from the first moment, so even a crash before the first
  // interval leaves something to resume from.
  saveMap();

  return copyAll();
}

void CopyJob::writeDamageLines() {
  damagedSectors_ = 0;
  const uint64_t perCluster = clusterBytes_ / sectorBytes_;
  map_.forEachBlock([&](const MapBlock& block) {
    if (block.status != BlockStatus::BadSector) return;
    const uint64_t last = (block.end() - 1) / sectorBytes_;
    for (uint64_t sector = block.pos / sectorBytes_; sector <= last; ++sector) {
      ++damagedSectors_;
      if (damageLogBytes() >= kDamageLogLimit) continue;
      char line[128];
      std::snprintf(line, sizeof line, "ディスク破損： %llu クラスタ %llu セクタ\r\n",
                    static_cast<unsigned long long>(sector / perCluster),
                    static_cast<unsigned long long>(sector));
      resultText_ += line;
    }
  });
}

CopyOutcome CopyJob::copyAll() {
  Step step = Step::Good;
  auto begin = [&](RescuePhase phase, uint32_t number) {
    map_.phase = phase;
    map_.pass = number;
  };
  begin(RescuePhase::Copying, 1);
  step = copyingPass(true);
  if (step == Step::Good) begin(RescuePhase::Copying, 2), step = copyingPass(false);
  if (step == Step::Good)
    begin(RescuePhase::Trimming, 1), step = sectorPass(BlockStatus::NonTrimmed, true);
  if (step == Step::Good)
    begin(RescuePhase::Scraping, 1), step = sectorPass(BlockStatus::NonScraped, false);
  for (uint32_t retry = 1; step == Step::Good && retry <= options_.retries; ++retry) {
    begin(RescuePhase::Retrying, retry);
    step = sectorPass(BlockStatus::BadSector, false);
  }

  reportProgress(true);
  writeDamageLines();
  switch (step) {
    case Step::Stop:
      saveMap();
      drive_.close();
      writer_.close();
      return CopyOutcome::Stopped;
    case Step::Lost:
      saveMap();
      fail(CopyNoticeDriveLost);
      return CopyOutcome::DriveLost;
    case Step::WriteFailed: {
      saveMap();
      if (damageLogBytes() < kDamageLogLimit) {
        char line[128];
        std::snprintf(line, sizeof line, "書込みエラー： %llu クラスタ目書込み中にエラー\r\n",
                      static_cast<unsigned long long>(failedWriteOffset_ / clusterBytes_));
        resultText_ += line;
      }
      return fail(CopyNoticeWriteFailed);
    }
    case Step::Good:
    case Step::Bad: break;
  }

  drive_.close();
  map_.phase = RescuePhase::Done;
  map_.currentPos = deviceBytes_;
  // Unreadable sectors at the very end still give the image its full size.
  if (writer_.finish(deviceBytes_) != 0) {
    failedWriteOffset_ = deviceBytes_;
    resultText_ += "書込みエラー： ";
    resultText_ += std::to_string(deviceBytes_ / clusterBytes_) + " クラスタ目書込み中にエラー\r\n";
    saveMap();
    return fail(CopyNoticeWriteFailed);
  }
  saveMap();
  if (!moveIntoPlace()) return fail(CopyNoticeWriteFailed);
  reporter_.setProgress(100);
  resultText_ += kCopyFinished;
  resultText_ += damagedSectors_ > 0 ? kFinishedWithDamage : kFinishedClean;
  reporter_.setProgress(0);
  reporter_.setImageName(imagePath_);
  reporter_.post(report::CopyEnded{true});
  return CopyOutcome::Finished;
}

}  // namespace kestrix
