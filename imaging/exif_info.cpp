#include "imaging/exif_info.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "imaging/ifd_byte_reader.h"

namespace kestrix {

namespace {

// "Exif" and two zero bytes: the EXIF APP1 identifier (EXIF 2.3, 4.5.4).
constexpr std::string_view kSignature{"Exif\0\0", 6};
// The signature must leave 2 bytes before it (a JPEG's SOI marker) and the
// TIFF header's byte order and magic after it, so it starts at 2 .. length − 8.
constexpr uint64_t kFirstSignaturePosition = 2;
constexpr uint64_t kBytesAfterSignatureStart = 8;
constexpr uint64_t kEntrySize = 12;  // TIFF 6.0: tag, type, count, value/offset
// A real main chain holds IFD0 and IFD1. Crafted chains can visit many
// distinct overlapping directories without looping; this bounds the work and
// the memory one candidate can cost.
constexpr size_t kMaxChainDirectories = 64;
// Room for any "%f" of a double (DBL_MAX prints 309 digits before the point).
constexpr size_t kNumberTextBuffer = 400;

const IfdEntry* findIn(const std::vector<Ifd>& list, uint16_t tag) {
  for (const Ifd& ifd : list) {
    for (const IfdEntry& entry : ifd.entries) {
      if (entry.tag == tag) return &entry;
    }
  }
  return nullptr;
}

void assignCut(std::string& out, const char* text, size_t length, size_t maxBytes) {
  out.assign(text, std::min(length, maxBytes));
}

void assignNumber(std::string& out, size_t maxBytes, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

void assignNumber(std::string& out, size_t maxBytes, const char* format, ...) {
  char buffer[kNumberTextBuffer];
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  const size_t length = written < 0 ? 0 : std::min<size_t>(written, sizeof buffer - 1);
  assignCut(out, buffer, length, maxBytes);
}

// A rational's text. TIFF leaves x/0 undefined and EXIF uses 0/0 for
// "unknown"; printing inf or nan helps nobody, so both read "0.00".
void assignRatio(std::string& out, size_t maxBytes, double numerator, double denominator) {
  const double ratio = denominator == 0.0 ? 0.0 : numerator / denominator;
  assignNumber(out, maxBytes, "%.2f", ratio);
}

}  // namespace

ExifInfo::~ExifInfo() = default;

void ExifInfo::clear() {
  bytes_ = nullptr;
  length_ = 0;
  found_ = false;
  tiffOffset_ = 0;
  byteOrder_ = 0;
  mainChain_.clear();
  exifIfd_.clear();
  gpsIfd_.clear();
}

bool ExifInfo::parse(const uint8_t* bytes, uint64_t length) {
  clear();
  if (bytes == nullptr) return false;
  bytes_ = bytes;
  length_ = length;

  if (length_ < kFirstSignaturePosition + kBytesAfterSignatureStart) return false;
  // Searching the first length − 2 bytes for 6 bytes finds starts up to length − 8.
  const std::string_view window(reinterpret_cast<const char*>(bytes_),
                                static_cast<size_t>(length_ - 2));
  const size_t position = window.find(kSignature);
  // Only the first occurrence counts; at 0 or 1 it cannot follow a JPEG SOI.
  if (position == std::string_view::npos || position < kFirstSignaturePosition) return false;

  found_ = true;
  tiffOffset_ = position + kSignature.size();
  // Both bytes lie inside: tiffOffset_ + 2 <= length by the search window.
  byteOrder_ = static_cast<uint16_t>(bytes_[tiffOffset_] | (bytes_[tiffOffset_ + 1] << 8));

  const IfdByteReader reader(bytes_, length_, isMotorola());
  const std::optional<uint32_t> ifd0 = reader.u32(tiffOffset_ + 4);
  uint32_t offset = ifd0.value_or(0);  // a header cut short has no directories

  std::vector<uint64_t> visited;
  while (offset != 0 && offset <= length_) {
    const uint64_t location = tiffOffset_ + offset;
    // A next offset leading back to a directory already read is a loop.
    if (std::find(visited.begin(), visited.end(), location) != visited.end()) break;
    if (visited.size() == kMaxChainDirectories) break;
    visited.push_back(location);

    Ifd ifd;
    if (!readDirectory(location, ifd)) break;
    offset = ifd.nextOffset;
    // A directory without valid entries is dropped, but its next offset is
    // still followed: a damaged IFD0 must not hide IFD1.
    if (!ifd.entries.empty()) mainChain_.push_back(std::move(ifd));
  }

  readSubDirectory(kTagExifIfdPointer, exifIfd_);
  readSubDirectory(kTagGpsIfdPointer, gpsIfd_);
  return true;
}

void ExifInfo::readSubDirectory(uint16_t pointerTag, std::vector<Ifd>& list) {
  const IfdEntry* pointer = findInMainChain(pointerTag);
  if (pointer == nullptr) return;
  Ifd ifd;
  if (readDirectory(tiffOffset_ + pointer->value, ifd) && !ifd.entries.empty()) {
    list.push_back(std::move(ifd));
  }
}

// True when a directory was read at `location`; its entries may still all
// have been dropped. False for a count of 0, a count the candidate cannot
// hold, or entry bytes outside the candidate.
bool ExifInfo::readDirectory(uint64_t location, Ifd& out) const {
  const IfdByteReader reader(bytes_, length_, isMotorola());
  const std::optional<uint16_t> count = reader.u16(location);
  if (!count || *count == 0) return false;
  const uint64_t entryBytes = uint64_t{*count} * kEntrySize;
  if (entryBytes > length_) return false;            // more entries than the candidate holds
  if (!reader.contains(location + 2, entryBytes)) return false;  // entries run off the end

  out.entryCount = *count;
  out.location = location;
  out.firstEntry = location + 2;
  // The next offset is outside when the directory ends the candidate: end of chain.
  out.nextOffset = reader.u32(out.firstEntry + entryBytes).value_or(0);
  out.entries.clear();
  out.entries.reserve(*count);

  for (uint64_t raw = out.firstEntry; raw < out.firstEntry + entryBytes; raw += kEntrySize) {
    IfdEntry entry;
    entry.rawOffset = raw;
    entry.tag = *reader.u16(raw);  // inside: checked with the whole directory
    entry.type = *reader.u16(raw + 2);
    entry.count = *reader.u32(raw + 4);
    entry.value = *reader.u32(raw + 8);
    if (entry.type == 0 || entry.type > kLastTiffType) continue;  // not a TIFF type: skip, keep the rest
    entry.dataSize = uint64_t{tiffTypeSize(entry.type)} * entry.count;
    entry.dataOffset = entry.isInline() ? raw + 8 : tiffOffset_ + entry.value;
    entry.dataInside = reader.contains(entry.dataOffset, entry.dataSize);
    out.entries.push_back(entry);
  }
  return true;
}

const IfdEntry* ExifInfo::findInMainChain(uint16_t tag) const { return findIn(mainChain_, tag); }

const IfdEntry* ExifInfo::findInExifIfd(uint16_t tag) const { return findIn(exifIfd_, tag); }

bool ExifInfo::valueText(const IfdEntry& entry, bool swap, std::string& out,
                         size_t maxBytes) const {
  if (entry.type == 0 || entry.type > kLastTiffType) return false;
  if (!entry.dataInside) return false;  // value lies outside the candidate: absent
  if (entry.dataSize == 0) {
    out.clear();
    return true;
  }
  const IfdByteReader reader(bytes_, length_, swap);
  const uint64_t at = entry.dataOffset;
  const uint8_t* data = reader.at(at, entry.dataSize);
  if (data == nullptr) return false;  // entry not from this object's bytes

  // Byte strings show up to their first NUL: ASCII stores its terminator,
  // and the cell shows a C string.
  const auto assignBytes = [&] {
    const size_t size = static_cast<size_t>(entry.dataSize);
    const void* nul = std::memchr(data, 0, size);
    const size_t length = nul ? static_cast<const uint8_t*>(nul) - data : size;
    assignCut(out, reinterpret_cast<const char*>(data), length, maxBytes);
  };

  switch (static_cast<TiffType>(entry.type)) {
    case TiffType::Byte:
    case TiffType::Ascii:
    case TiffType::Undefined:
      assignBytes();
      return true;
    case TiffType::SignedByte:
      // No tag the program asks for has this type; inline it reads like BYTE.
      if (entry.isInline()) {
        assignBytes();
      } else {
        assignNumber(out, maxBytes, "%u", static_cast<unsigned>(data[0]));
      }
      return true;
    case TiffType::Short:
      assignNumber(out, maxBytes, "%u", static_cast<unsigned>(*reader.u16(at)));
      return true;
    case TiffType::Long:
      assignNumber(out, maxBytes, "%" PRIu32, *reader.u32(at));
      return true;
    case TiffType::Rational:
      assignRatio(out, maxBytes, *reader.u32(at), *reader.u32(at + 4));
      return true;
    case TiffType::SignedShort:
      assignNumber(out, maxBytes, "%d", static_cast<int>(static_cast<int16_t>(*reader.u16(at))));
      return true;
    case TiffType::SignedLong:
      // Signed, so −1 reads −1 rather than 4294967295.
      assignNumber(out, maxBytes, "%" PRId32, static_cast<int32_t>(*reader.u32(at)));
      return true;
    case TiffType::SignedRational:
      assignRatio(out, maxBytes, static_cast<int32_t>(*reader.u32(at)),
                  static_cast<int32_t>(*reader.u32(at + 4)));
      return true;
    case TiffType::Float:
      assignNumber(out, maxBytes, "%f", static_cast<double>(std::bit_cast<float>(*reader.u32(at))));
      return true;
    case TiffType::Double:
      assignNumber(out, maxBytes, "%f", std::bit_cast<double>(*reader.u64(at)));
      return true;
  }
  return false;
}

bool ExifInfo::mainChainText(uint16_t tag, std::string& out, size_t maxBytes) const {
  const IfdEntry* entry = findInMainChain(tag);
  return entry != nullptr && valueText(*entry, isMotorola(), out, maxBytes);
}

bool ExifInfo::exifIfdText(uint16_t tag, std::string& out, size_t maxBytes) const {
  const IfdEntry* entry = findInExifIfd(tag);
  return entry != nullptr && valueText(*entry, isMotorola(), out, maxBytes);
}

bool ExifInfo::shotDateText(std::string& out, size_t maxBytes) const {
  return exifIfdText(kTagDateTimeOriginal, out, maxBytes) ||
         mainChainText(kTagDateTime, out, maxBytes);
}

bool ExifInfo::endianText(std::string& out) const {
  if (byteOrder_ == kByteOrderMotorola) {
    out = "ﾓﾄﾛｰﾗ形式";
    return true;
  }
  if (byteOrder_ == kByteOrderIntel) {
    out = "ｲﾝﾃﾙ形式";
    return true;
  }
  return false;
}

}  // namespace kestrix
