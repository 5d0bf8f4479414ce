// Byte-level read access to something that holds a drive's sectors: a block
// device, a file standing in for one, or a test double that fails on purpose.
//
// Codes returned by open and readAt: 0 success; an errno value for a failure
// the system reported; kShortRead when fewer bytes than asked came back (the
// end of the device lies inside the request).
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

class SectorDevice {
 public:
  // Not an errno value: errno values are small positive numbers.
  static constexpr int kShortRead = 0x10000;

  virtual ~SectorDevice() = default;
  // Always read-only, whatever the caller meant to do with the drive.
  virtual int open(const std::string& path) = 0;
  virtual void close() = 0;
  virtual bool isOpen() const = 0;
  // Reads length bytes at offset into destination; *bytesRead is what came
  // back (0 after a failure the system reported).
  virtual int readAt(uint64_t offset, void* destination, uint32_t length, uint32_t* bytesRead) = 0;
  // Logical block size of a device; 512 for a regular file.
  virtual uint32_t logicalSectorSize() const = 0;
  virtual uint64_t sizeBytes() const = 0;
  // Alignment the destination of readAt must have (direct device reads).
  virtual uint32_t bufferAlignment() const = 0;
};

}  // namespace kestrix
