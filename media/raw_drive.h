// Sector-level, read-only access to a whole drive underneath its file
// system, with the drive's geometry record.
//
// Linux has no drive letters: a drive is named by its device path (a whole
// disk or a partition, /dev/sdb, /dev/sdb1, /dev/mmcblk0p1, /dev/loop0,
// /dev/sr0) or by a regular file standing in for one. BootInfo keeps the
// path beside an optional drive number.
//
// Buffer ownership: the drive owns one read buffer, aligned for direct device
// reads; every read replaces its contents, so callers consume the data before
// the next read, close() or destruction. A failed read leaves the buffer
// zero-filled at the failed read's size.
//
// Codes returned by probe and lastError: 0 success, otherwise a DriveError
// (media/drive_error.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "media/boot_info.h"
#include "platform/aligned_buffer.h"
#include "platform/sector_device.h"

namespace kestrix {

class BlockDevice;

class RawDrive {
 public:
  // Access values callers pass to open(); both open the drive read-only.
  static constexpr uint32_t kGenericRead = 0x80000000u;
  static constexpr uint32_t kGenericWrite = 0x40000000u;

  // A drive read through the Linux block-device layer.
  RawDrive();
  // A drive read through the given device (tests pass a double).
  explicit RawDrive(std::unique_ptr<SectorDevice> device);
  virtual ~RawDrive();
  RawDrive(const RawDrive&) = delete;
  RawDrive& operator=(const RawDrive&) = delete;

  // A second way to a drive the program may not open itself (see
  // BlockDevice::setDeniedOpener); only for the default, block-device drive.
  void setDeniedOpener(std::function<int(const std::string& path)> opener);

  // Opens the drive for reading only. access is accepted for the callers'
  // sake and ignored: a source drive is never opened for writing.
  bool open(const std::string& devicePath, uint32_t access = kGenericRead);
  void close();
  bool isOpen() const;

  // Reads count × sectorSize bytes at sector firstSector into the buffer.
  // *bytesRead is the byte count on success and 0 on failure; a run that
  // reaches past the device's end fails as a whole.
  bool readSectors(uint64_t firstSector, uint32_t count, uint32_t sectorSize, uint32_t* bytesRead);
  // readSectors of clusterCount × sectorsPerCluster sectors from sector
  // firstCluster × sectorsPerCluster.
  bool readClusters(uint64_t firstCluster, uint32_t clusterCount, uint32_t sectorSize,
                    uint32_t sectorsPerCluster, uint32_t* bytesRead);
  // Reads sector 0 (one sector of the record's size, 512 when unset) and
  // parses it into the record.
  bool readBootSector(BootInfo& info);
  // Copies the first 512 bytes of sector 0 into destination for kinds Fat,
  // Fat32 and Ntfs, re-parsing it into info; false for other kinds or when
  // the drive is closed or the read fails. The drive stays open either way.
  bool copyBootSector(uint8_t* destination, BootInfo& info);

  // Opens the drive, finds its kind and geometry, reads its boot sector and
  // closes it again. 0 means bootInfo() describes a drive that can be copied.
  uint32_t probe(const std::string& devicePath, int32_t driveIndex = -1);

  const uint8_t* buffer() const { return buffer_.data(); }
  uint32_t bufferSize() const { return static_cast<uint32_t>(buffer_.size()); }
  const BootInfo& bootInfo() const { return info_; }
  BootInfo& bootInfo() { return info_; }
  // Size of the open device in bytes.
  uint64_t deviceBytes() const;
  // Code of the last failed operation.
  uint32_t lastError() const { return lastError_; }

 private:
  bool fail(uint32_t code);
  uint32_t findKindAndGeometry();

  std::unique_ptr<SectorDevice> device_;
  BlockDevice* blockDevice_ = nullptr;  // device_ when it is the default one
  AlignedBuffer buffer_;
  BootInfo info_;
  uint32_t lastError_ = 0;
};

}  // namespace kestrix
