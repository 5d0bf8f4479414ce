#include "imaging/ifd_byte_reader.h"

namespace kestrix {

// Only called after contains(offset, width) succeeded.
uint64_t IfdByteReader::readUnchecked(uint64_t offset, unsigned width) const {
  const uint8_t* p = bytes_ + offset;
  uint64_t value = 0;
  for (unsigned i = 0; i < width; ++i) {
    const unsigned shift = motorola_ ? 8 * (width - 1 - i) : 8 * i;
    value |= static_cast<uint64_t>(p[i]) << shift;
  }
  return value;
}

std::optional<uint8_t> IfdByteReader::u8(uint64_t offset) const {
  if (!contains(offset, 1)) return std::nullopt;
  return bytes_[offset];
}

std::optional<uint16_t> IfdByteReader::u16(uint64_t offset) const {
  if (!contains(offset, 2)) return std::nullopt;
  return static_cast<uint16_t>(readUnchecked(offset, 2));
}

std::optional<uint32_t> IfdByteReader::u32(uint64_t offset) const {
  if (!contains(offset, 4)) return std::nullopt;
  return static_cast<uint32_t>(readUnchecked(offset, 4));
}

std::optional<uint64_t> IfdByteReader::u64(uint64_t offset) const {
  if (!contains(offset, 8)) return std::nullopt;
  return readUnchecked(offset, 8);
}

const uint8_t* IfdByteReader::at(uint64_t offset, uint64_t size) const {
  if (!contains(offset, size)) return nullptr;
  return bytes_ + offset;
}

}  // namespace kestrix
