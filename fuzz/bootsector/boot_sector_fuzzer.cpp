// Hostile volume starts: detection, the boot-sector parse under every kind,
// the cluster layout, the geometry checks, and the media header of a drive
// holding these bytes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "jobs/media_header_writer.h"
#include "media/boot_sector.h"
#include "media/raw_drive.h"
#include "platform/sector_device.h"

namespace {

// The fuzz input as a drive: reads past its end come up short.
class InputDevice : public kestrix::SectorDevice {
 public:
  InputDevice(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int open(const std::string&) override {
    open_ = true;
    return 0;
  }
  void close() override { open_ = false; }
  bool isOpen() const override { return open_; }
  int readAt(uint64_t offset, void* destination, uint32_t length, uint32_t* bytesRead) override {
    *bytesRead = 0;
    if (offset >= size_) return kShortRead;
    const uint64_t available = std::min<uint64_t>(length, size_ - offset);
    std::memcpy(destination, data_ + offset, available);
    *bytesRead = static_cast<uint32_t>(available);
    return available == length ? 0 : kShortRead;
  }
  uint32_t logicalSectorSize() const override { return 512; }
  uint64_t sizeBytes() const override { return size_; }
  uint32_t bufferAlignment() const override { return 4096; }

 private:
  const uint8_t* data_;
  size_t size_;
  bool open_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  std::span<const uint8_t> bytes(data, size);
  detectVolumeKind(bytes);
  for (VolumeKind kind : {VolumeKind::Fat, VolumeKind::Fat32, VolumeKind::Ntfs, VolumeKind::Cdfs}) {
    BootInfo info;
    info.volumeKind = kind;
    parseBootSector(bytes, info);
    isUsableGeometry(info, size);
    info.clusterCount();
  }

  // A layout it states is a power-of-two cluster of at most 32 MiB.
  if (const auto layout = clusterLayout(bytes)) {
    if (layout->clusterBytes == 0 || (layout->clusterBytes & (layout->clusterBytes - 1)) != 0 ||
        layout->clusterBytes > (uint64_t{32} << 20)) {
      __builtin_trap();
    }
  }

  RawDrive drive(std::make_unique<InputDevice>(data, size));
  if (drive.probe("fuzz") == 0) {
    const BootInfo& info = drive.bootInfo();
    // A successful probe promises a geometry the copy can use.
    if (info.sectorsPerCluster == 0 || info.clusterCount() == 0 ||
        info.totalSectors * info.sectorSize > size) {
      __builtin_trap();
    }
    drive.open("fuzz");
    std::string header;
    writeMediaHeader(drive, header);
  }
  return 0;
}
