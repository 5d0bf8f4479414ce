#include "imaging/exif_info.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "imaging/ifd_byte_reader.h"
#include "imaging/ifd_walker.h"

namespace kestrix {

namespace {

// "Exif" and two zero bytes: the EXIF APP1 identifier (EXIF 2.3, 4.5.4).
constexpr std::string_view kSignature{"Exif\0\0", 6};
// The signature must leave 2 bytes before it (a JPEG's SOI marker) and the
// TIFF header's byte order and magic after it, so it starts at 2 .. length − 8.
constexpr uint64_t kFirstSignaturePosition = 2;
constexpr uint64_t kBytesAfterSignatureStart = 8;
// Room for any "%f" of a double (DBL_MAX prints 309 digits before the point).
constexpr size_t kNumberTextBuffer = 400;

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

// Keeps the first entry of each asked-for tag and the GPS directory's
// presence; everything else the walk meets is forgotten at once.
class KeptEntriesVisitor final : public IfdVisitor {
 public:
  explicit KeptEntriesVisitor(ExifInfo& exif) : exif_(exif) {}

  void beginDirectory(IfdList, const Ifd&) override { validEntries_ = 0; }

  void entry(IfdList list, const IfdEntry& entry) override {
    ++validEntries_;
    const std::optional<ExifInfo::Slot> slot = slotFor(list, entry.tag);
    if (!slot || exif_.keptEntry(slot) != nullptr) return;  // only the first of a tag
    exif_.kept_[static_cast<size_t>(*slot)] = entry;
    exif_.keptMask_ |= ExifInfo::bitOf(*slot);
  }

  void endDirectory(IfdList list) override {
    if (list == IfdList::Gps && validEntries_ > 0) exif_.hasGps_ = true;
  }

  static std::optional<ExifInfo::Slot> slotFor(IfdList list, uint16_t tag) {
    using Slot = ExifInfo::Slot;
    if (list == IfdList::Exif)
      return tag == kTagDateTimeOriginal ? std::optional(Slot::DateTimeOriginal) : std::nullopt;
    if (list != IfdList::Main) return std::nullopt;
    switch (tag) {
      case kTagMake: return Slot::Make;
      case kTagModel: return Slot::Model;
      case kTagDateTime: return Slot::DateTime;
      case kTagExifIfdPointer: return Slot::ExifPointer;
      case kTagGpsIfdPointer: return Slot::GpsPointer;
      default: return std::nullopt;
    }
  }

 private:
  ExifInfo& exif_;
  uint32_t validEntries_ = 0;
};

namespace {

// Collects every directory with its valid entries; empty ones are dropped.
class AllEntriesVisitor final : public IfdVisitor {
 public:
  explicit AllEntriesVisitor(ExifDirectories& out) : out_(out) {}

  void beginDirectory(IfdList, const Ifd& header) override { current_ = header; }
  void entry(IfdList, const IfdEntry& entry) override { current_.entries.push_back(entry); }
  void endDirectory(IfdList list) override {
    if (current_.entries.empty()) return;
    std::vector<Ifd>& target = list == IfdList::Main   ? out_.mainChain
                               : list == IfdList::Exif ? out_.exifIfd
                                                       : out_.gpsIfd;
    target.push_back(std::move(current_));
    current_ = Ifd{};
  }

 private:
  ExifDirectories& out_;
  Ifd current_;
};

}  // namespace

ExifInfo::~ExifInfo() = default;

void ExifInfo::clear() {
  bytes_ = nullptr;
  length_ = 0;
  found_ = false;
  tiffOffset_ = 0;
  byteOrder_ = 0;
  hasGps_ = false;
  limitsHit_ = kExifWithinLimits;
  keptMask_ = 0;
}

bool ExifInfo::parse(const uint8_t* bytes, uint64_t length) noexcept {
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

  KeptEntriesVisitor visitor(*this);
  limitsHit_ = IfdWalker(bytes_, length_, tiffOffset_, isMotorola()).walk(visitor);
  return true;
}

ExifDirectories ExifInfo::readDirectories() const {
  ExifDirectories out;
  if (!found_) return out;
  AllEntriesVisitor visitor(out);
  out.limitsHit = IfdWalker(bytes_, length_, tiffOffset_, isMotorola()).walk(visitor);
  return out;
}

const IfdEntry* ExifInfo::findInMainChain(uint16_t tag) const {
  return keptEntry(KeptEntriesVisitor::slotFor(IfdList::Main, tag));
}

const IfdEntry* ExifInfo::findInExifIfd(uint16_t tag) const {
  return keptEntry(KeptEntriesVisitor::slotFor(IfdList::Exif, tag));
}

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
    case TiffType::Undefined: assignBytes(); return true;
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
    case TiffType::Long: assignNumber(out, maxBytes, "%" PRIu32, *reader.u32(at)); return true;
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

}  // namespace kestrix
