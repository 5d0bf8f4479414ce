#include "media/raw_drive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <span>

#include "media/boot_sector.h"
#include "media/drive_error.h"
#include "platform/block_device.h"

namespace kestrix {

RawDrive::RawDrive() {
  auto device = std::make_unique<BlockDevice>();
  blockDevice_ = device.get();
  device_ = std::move(device);
}

RawDrive::RawDrive(std::unique_ptr<SectorDevice> device) : device_(std::move(device)) {}

RawDrive::~RawDrive() { close(); }

bool RawDrive::fail(uint32_t code) {
  lastError_ = code;
  return false;
}

void RawDrive::setDeniedOpener(std::function<int(const std::string& path)> opener) {
  if (blockDevice_ != nullptr) blockDevice_->setDeniedOpener(std::move(opener));
}

bool RawDrive::open(const std::string& devicePath, uint32_t /*access*/) {
  int error = device_->open(devicePath);
  if (error != 0) return fail(driveErrorFromErrno(error));
  return true;
}

void RawDrive::close() {
  buffer_.release();
  device_->close();
}

bool RawDrive::isOpen() const { return device_->isOpen(); }

uint64_t RawDrive::deviceBytes() const { return device_->sizeBytes(); }

bool RawDrive::readSectors(uint64_t firstSector, uint32_t count, uint32_t sectorSize,
                           uint32_t* bytesRead) {
  *bytesRead = 0;
  const uint64_t length = uint64_t{count} * sectorSize;
  // Every failure leaves no earlier read's bytes behind in buffer().
  if (length == 0 || length > std::numeric_limits<uint32_t>::max() ||
      firstSector > std::numeric_limits<uint64_t>::max() / sectorSize) {
    buffer_.release();
    return fail(kDriveInvalid);
  }
  if (!buffer_.reset(static_cast<size_t>(length), device_->bufferAlignment())) {
    return fail(driveErrorFromErrno(ENOMEM));
  }
  if (!device_->isOpen()) {
    buffer_.clear();
    return fail(driveErrorFromErrno(EBADF));
  }
  uint32_t got = 0;
  int error = device_->readAt(firstSector * sectorSize, buffer_.data(),
                              static_cast<uint32_t>(length), &got);
  if (error != 0) {
    // Nothing of a failed run is handed out: callers salvage by re-reading
    // smaller pieces, and a zero-filled buffer cannot pass for data.
    buffer_.clear();
    return fail(driveErrorFromErrno(error));
  }
  *bytesRead = got;
  return true;
}

bool RawDrive::readClusters(uint64_t firstCluster, uint32_t clusterCount, uint32_t sectorSize,
                            uint32_t sectorsPerCluster, uint32_t* bytesRead) {
  *bytesRead = 0;
  const uint64_t sectors = uint64_t{clusterCount} * sectorsPerCluster;
  if (sectors > std::numeric_limits<uint32_t>::max() || sectorsPerCluster == 0 ||
      firstCluster > std::numeric_limits<uint64_t>::max() / sectorsPerCluster) {
    buffer_.release();
    return fail(kDriveInvalid);
  }
  return readSectors(firstCluster * sectorsPerCluster, static_cast<uint32_t>(sectors), sectorSize,
                     bytesRead);
}

bool RawDrive::readBootSector(BootInfo& info) {
  const uint32_t sectorSize = info.sectorSize != 0 ? info.sectorSize : 512;
  uint32_t got = 0;
  if (!readSectors(0, 1, sectorSize, &got)) {
    buffer_.release();
    return false;
  }
  parseBootSector(std::span<const uint8_t>(buffer_.data(), got), info);
  return true;
}

bool RawDrive::copyBootSector(uint8_t* destination, BootInfo& info) {
  if (!isOpen()) return fail(driveErrorFromErrno(EBADF));
  // A failed re-read leaves the drive open: the copy job reads on from it,
  // and closing it here would turn every following cluster into damage.
  if (!readBootSector(info)) return false;
  switch (info.volumeKind) {
    case VolumeKind::Fat:
    case VolumeKind::Fat32:
    case VolumeKind::Ntfs:
      std::memcpy(destination, buffer_.data(), std::min<size_t>(kBootSectorBytes, buffer_.size()));
      return true;
    default: return false;
  }
}

uint32_t RawDrive::findKindAndGeometry() {
  const uint64_t deviceSize = device_->sizeBytes();
  const uint32_t deviceSectorSize = device_->logicalSectorSize();
  if (deviceSectorSize == 0) return kDriveInvalid;
  // Enough of the volume's start to see every signature detection looks
  // at, rounded up to whole device sectors (a 4 KiB-sector device must still
  // reach the ISO 9660 descriptor at 32 KiB + 1); a smaller device is read
  // whole.
  const uint64_t probeBytes =
      (kVolumeProbeBytes + deviceSectorSize - 1) / deviceSectorSize * deviceSectorSize;
  uint64_t headBytes = std::min(probeBytes, deviceSize / deviceSectorSize * deviceSectorSize);
  if (headBytes == 0) return kDriveEndOfMedium;  // not even one sector
  uint32_t got = 0;
  if (!readSectors(0, static_cast<uint32_t>(headBytes / deviceSectorSize), deviceSectorSize,
                   &got)) {
    // A bad sector past the first one must not hide the boot sector: fall
    // back to sector 0 alone, whose failure is the probe's failure.
    if (!readSectors(0, 1, deviceSectorSize, &got)) return lastError_;
  }
  std::span<const uint8_t> head(buffer_.data(), got);
  info_.volumeKind = detectVolumeKind(head);
  switch (info_.volumeKind) {
    case VolumeKind::Fat:
    case VolumeKind::Fat32:
    case VolumeKind::Ntfs:
      // The platform's cluster view is the boot sector's own.
      parseBootSector(head, info_);
      break;
    case VolumeKind::Cdfs:
      // ISO 9660 logical sectors are 2048 bytes; one per cluster.
      info_.sectorSize = static_cast<uint16_t>(kIsoSectorSize);
      info_.sectorsPerCluster = 1;
      info_.totalSectors = deviceSize / kIsoSectorSize;
      break;
    default: setWholeDeviceGeometry(info_, deviceSectorSize, deviceSize); break;
  }
  if (!isUsableGeometry(info_, deviceSize))
    setWholeDeviceGeometry(info_, deviceSectorSize, deviceSize);
  return kDriveOk;
}

uint32_t RawDrive::probe(const std::string& devicePath, int32_t driveIndex) {
  // A fresh record per probe: values left from another card (a FAT variant,
  // a cluster size) must never describe this one.
  info_ = BootInfo{};
  info_.driveIndex = driveIndex;
  info_.devicePath = devicePath;
  if (!open(devicePath)) return lastError_;
  uint32_t code = findKindAndGeometry();
  if (code == kDriveOk && !readBootSector(info_)) code = lastError_;
  if (code == kDriveOk && !isUsableGeometry(info_, device_->sizeBytes())) {
    // The boot sector states a geometry the device cannot hold (zero or
    // odd sizes, more sectors than the device has): a damaged card is
    // exactly what this program is for, so copy the whole device instead
    // of refusing it.
    setWholeDeviceGeometry(info_, device_->logicalSectorSize(), device_->sizeBytes());
  }
  close();
  lastError_ = code;
  return code;
}

}  // namespace kestrix
