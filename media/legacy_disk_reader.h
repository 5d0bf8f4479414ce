// The Windows 9x way of reading sectors: MS-DOS absolute disk reads called
// through the VWIN32 device. Only the decisions live here (which service,
// which registers, how the carry flag and the error code are read); the
// Windows 9x layer supplies DeviceIoControl and GetLastError through
// LegacyDiskDevice, and tests supply a fake. Never used on Linux.
//
// Codes: 0 success; otherwise the last attempt's platform error (the
// DeviceIoControl call failed) or its MS-DOS error code (the service ran and
// set carry).
#pragma once

#include <cstdint>

namespace kestrix {

// DIOC_REGISTERS of VWIN32: seven 32-bit registers in this order.
struct DiocRegisters {
  uint32_t ebx = 0;
  uint32_t edx = 0;
  uint32_t ecx = 0;
  uint32_t eax = 0;
  uint32_t edi = 0;
  uint32_t esi = 0;
  uint32_t flags = 0;  // bit 0: carry, set by the service on failure
};
static_assert(sizeof(DiocRegisters) == 28, "DIOC_REGISTERS is 28 bytes");

// DISKIO block of the absolute disk services (packed on the platform).
struct DiskIo {
  uint32_t startSector = 0;  // 32-bit: higher sector numbers cannot be named
  uint16_t sectorCount = 0;
  uint32_t bufferAddress = 0;
};

class LegacyDiskDevice {
 public:
  static constexpr uint32_t kDiocDosInt25 = 2;      // VWIN32_DIOC_DOS_INT25
  static constexpr uint32_t kDiocDosDriveInfo = 6;  // VWIN32_DIOC_DOS_DRIVEINFO

  virtual ~LegacyDiskDevice() = default;
  // DeviceIoControl(device, code, &registers, 28, &registers, 28, ...) with
  // EBX pointing at block. False when the call itself fails.
  virtual bool deviceIoControl(uint32_t code, DiocRegisters& registers, DiskIo& block) = 0;
  virtual uint32_t lastError() = 0;
};

class LegacyDiskReader {
 public:
  static constexpr uint32_t kCarryFlag = 1;
  static constexpr uint32_t kExtendedAbsoluteDiskReadWrite = 0x7305;  // INT 21h AX=7305h
  static constexpr uint32_t kAllSectorsMarker = 0xFFFF;               // CX = FFFFh: DISKIO form

  explicit LegacyDiskReader(LegacyDiskDevice& device) : device_(device) {}

  // Reads count sectors of drive driveIndex (0 = A:) at the low 32 bits of
  // firstSector into buffer. The FAT32-capable extended read goes first; a
  // drive that refuses it gets the classic INT 25h read. *bytesRead is set to
  // count × sectorSize on success and left untouched on failure.
  uint32_t readSectors(int32_t driveIndex, uint64_t firstSector, uint16_t count,
                       uint32_t sectorSize, void* buffer, uint32_t* bytesRead);

 private:
  uint32_t attempt(uint32_t code, DiocRegisters& registers, DiskIo& block);

  LegacyDiskDevice& device_;
};

}  // namespace kestrix
