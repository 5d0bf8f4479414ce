#include "media/legacy_disk_reader.h"

namespace kestrix {

uint32_t LegacyDiskReader::attempt(uint32_t code, DiocRegisters& registers, DiskIo& block) {
  if (!device_.deviceIoControl(code, registers, block)) {
    registers.flags = 0;
    return device_.lastError();
  }
  // Carry clear: the service ran and succeeded. The flags were preset with
  // carry, so a call that was never carried out still reads as failed.
  return (registers.flags & kCarryFlag) == 0 ? 0 : registers.eax;
}

uint32_t LegacyDiskReader::readSectors(int32_t driveIndex, uint64_t firstSector, uint16_t count,
                                       uint32_t sectorSize, void* buffer, uint32_t* bytesRead) {
  DiskIo block;
  block.startSector = static_cast<uint32_t>(firstSector);  // the high half cannot be expressed
  block.sectorCount = count;
  // A 32-bit address on the only platform that runs this path.
  block.bufferAddress = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer));
  const uint32_t blockAddress = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&block));

  DiocRegisters registers;
  registers.eax = kExtendedAbsoluteDiskReadWrite;
  registers.ebx = blockAddress;
  registers.ecx = kAllSectorsMarker;
  registers.edx = static_cast<uint32_t>(driveIndex + 1);  // 1 = A:
  registers.esi = 0;                                      // read, not write
  registers.flags = kCarryFlag;
  uint32_t result = attempt(LegacyDiskDevice::kDiocDosDriveInfo, registers, block);
  if (result != 0) {
    // Drives without FAT32 support refuse 7305h; INT 25h reads them. EDX and
    // ESI keep whatever the first attempt left in them.
    registers.eax = static_cast<uint32_t>(driveIndex);  // 0 = A:
    registers.ebx = blockAddress;
    registers.ecx = kAllSectorsMarker;
    registers.flags = kCarryFlag;
    result = attempt(LegacyDiskDevice::kDiocDosInt25, registers, block);
  }
  if (result == 0) *bytesRead = uint32_t{count} * sectorSize;
  return result;
}

}  // namespace kestrix
