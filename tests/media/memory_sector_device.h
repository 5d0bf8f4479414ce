// A drive double: bytes in memory, with chosen byte ranges that fail to read
// (EIO), as a card with bad sectors does. Reads overlapping a bad range fail
// as a whole, like a device read that hits one bad sector.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/sector_device.h"

namespace kestrix::test {

struct MemoryDriveState {
  std::vector<uint8_t> bytes;
  std::vector<std::pair<uint64_t, uint64_t>> badRanges;  // [begin, end) in bytes
  int openError = 0;                                     // what open() answers
  uint32_t sectorSize = 512;                             // the device's logical sector size
  // Sectors (of 512 bytes) that fail this many more reads, then read.
  std::vector<std::pair<uint64_t, int>> flakySectors;
  // Once this many bytes have been read, every read fails with failAllWith.
  uint64_t failAfterBytes = UINT64_MAX;
  int failAllWith = EIO;
  uint64_t bytesRead = 0;
  int opens = 0;
  int reads = 0;
  std::vector<std::pair<uint64_t, uint32_t>> readLog;  // offset, length

  void failSector(uint64_t sector, uint32_t sectorSize = 512) {
    badRanges.emplace_back(sector * sectorSize, (sector + 1) * sectorSize);
  }
};

class MemorySectorDevice : public SectorDevice {
 public:
  explicit MemorySectorDevice(std::shared_ptr<MemoryDriveState> state) : state_(std::move(state)) {}

  int open(const std::string&) override {
    ++state_->opens;
    if (state_->openError != 0) return state_->openError;
    open_ = true;
    return 0;
  }
  void close() override { open_ = false; }
  bool isOpen() const override { return open_; }
  int readAt(uint64_t offset, void* destination, uint32_t length, uint32_t* bytesRead) override {
    ++state_->reads;
    state_->readLog.emplace_back(offset, length);
    *bytesRead = 0;
    if (!open_) return EBADF;
    if (state_->bytesRead >= state_->failAfterBytes) return state_->failAllWith;
    for (const auto& [begin, end] : state_->badRanges) {
      if (offset < end && begin < offset + length) return EIO;
    }
    bool flaky = false;
    for (auto& [sector, left] : state_->flakySectors) {
      if (left > 0 && offset < (sector + 1) * 512 && sector * 512 < offset + length) {
        --left;
        flaky = true;
      }
    }
    if (flaky) return EIO;
    const uint64_t size = state_->bytes.size();
    const uint64_t available = offset >= size ? 0 : std::min<uint64_t>(length, size - offset);
    if (available > 0) std::memcpy(destination, state_->bytes.data() + offset, available);
    *bytesRead = static_cast<uint32_t>(available);
    state_->bytesRead += available;
    return available == length ? 0 : kShortRead;
  }
  uint32_t logicalSectorSize() const override { return state_->sectorSize; }
  uint64_t sizeBytes() const override { return state_->bytes.size(); }
  uint32_t bufferAlignment() const override { return 4096; }

 private:
  std::shared_ptr<MemoryDriveState> state_;
  bool open_ = false;
};

// A FAT16 boot sector for a volume of totalSectors 512-byte sectors with
// the given cluster size; label and serial are fixed.
inline std::vector<uint8_t> fat16BootSector(uint32_t totalSectors, uint8_t sectorsPerCluster) {
  std::vector<uint8_t> sector(512, 0);
  const uint8_t head[] = {0xEB, 0x3C, 0x90, 'm', 'k', 'f', 's', '.', 'f', 'a', 't'};
  std::memcpy(sector.data(), head, sizeof head);
  sector[0x0B] = 0x00;
  sector[0x0C] = 0x02;  // 512 bytes per sector
  sector[0x0D] = sectorsPerCluster;
  sector[0x0E] = 4;  // reserved sectors
  sector[0x10] = 2;  // FATs
  sector[0x11] = 0x00;
  sector[0x12] = 0x02;  // 512 root entries
  if (totalSectors < 0x10000) {
    sector[0x13] = totalSectors & 0xFF;
    sector[0x14] = (totalSectors >> 8) & 0xFF;
  } else {
    for (int i = 0; i < 4; ++i) sector[0x20 + i] = (totalSectors >> (8 * i)) & 0xFF;
  }
  sector[0x15] = 0xF8;
  sector[0x16] = 20;  // sectors per FAT
  sector[0x18] = 32;
  sector[0x1A] = 64;  // sectors per track, heads
  sector[0x24] = 0x80;
  sector[0x26] = 0x29;
  const uint8_t serial[] = {0xEF, 0xBE, 0xAD, 0xDE};
  std::memcpy(sector.data() + 0x27, serial, 4);
  std::memcpy(sector.data() + 0x2B, "NO NAME    FAT16   ", 19);
  sector[510] = 0x55;
  sector[511] = 0xAA;
  return sector;
}

}  // namespace kestrix::test
