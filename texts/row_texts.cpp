#include "texts/row_texts.h"

#include <cinttypes>
#include <cstdio>

#include "imaging/exif_info.h"

namespace kestrix {

const char* byteOrderText(uint16_t byteOrder) {
  switch (byteOrder) {
    case kByteOrderMotorola: return "ﾓﾄﾛｰﾗ形式";
    case kByteOrderIntel: return "ｲﾝﾃﾙ形式";
    default: return nullptr;
  }
}

RowTexts rowTexts(const Candidate& candidate, std::string_view name) {
  using Column = RowTexts::Column;
  RowTexts texts;
  const auto set = [&texts](Column column, bool known, std::string text) {
    texts.cells[static_cast<size_t>(column)] = std::move(text);
    if (known) texts.knownColumns |= 1u << static_cast<int>(column);
  };
  // An EXIF lookup writes only when the tag is there: the "不明" stays otherwise.
  const auto exifText = [&](Column column, auto lookup) {
    std::string text = kUnknownText;
    const bool known = lookup(text);
    set(column, known, std::move(text));
  };

  set(Column::Name, true, std::string(name));
  exifText(Column::Model,
           [&](std::string& out) { return candidate.mainChainText(kTagModel, out); });
  exifText(Column::ShotDate,
           [&](std::string& out) { return candidate.exifIfdText(kTagDateTimeOriginal, out); });
  char size[32];
  std::snprintf(size, sizeof size, "%" PRIu64 "KB", candidate.find().size() / 1024);
  set(Column::Size, true, size);
  set(Column::Gps, true, candidate.hasGps() ? kGpsPresentText : kGpsNoneText);
  exifText(Column::Maker, [&](std::string& out) { return candidate.mainChainText(kTagMake, out); });
  const char* order = byteOrderText(candidate.byteOrder());
  set(Column::Endian, order != nullptr, order != nullptr ? order : kUnknownText);
  return texts;
}

}  // namespace kestrix
