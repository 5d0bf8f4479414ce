// The texts of one row of the results, made once from its candidate: what
// the window's details view shows in its first columns, what the command
// line lists, and what the restore list writes. Both programs call
// rowTexts; nothing below the programs holds these words.
//
//   const RowTexts texts = rowTexts(*list.candidateAt(row + 1), name);
//   print(texts[RowTexts::Column::Size]);   // "12KB"
//
// The texts are a copy: a rename or a join of the row makes them stale, and
// whoever keeps them (ui/widgets/row_text_cache.h) makes them again.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/candidate_list.h"

namespace kestrix {

// Shown where a row lacks a value: no EXIF, no such tag, an unknown byte order.
inline constexpr const char* kUnknownText = "不明";
// The GPS column: a GPS directory with a valid entry was read, or not.
inline constexpr const char* kGpsPresentText = "あり";
inline constexpr const char* kGpsNoneText = "なし";

struct RowTexts {
  // The columns in the order the details view shows them; the window adds
  // its own after these (ui/widgets/result_list.h).
  enum class Column : int32_t {
    Name,      // the row's name
    Model,     // Model from the main chain
    ShotDate,  // DateTimeOriginal only (the restore's file time falls back to DateTime)
    Size,      // "%uKB" of the find's size / 1024, rounded down
    Gps,       // "あり" / "なし"
    Maker,     // Make from the main chain
    Endian,    // the EXIF byte order (byteOrderText)
    // A new column goes before this line; Count is no column, only how many.
    Count,
  };
  static constexpr int32_t kColumnCount = static_cast<int32_t>(Column::Count);
  static_assert(kColumnCount <= 32, "knownColumns holds a bit per column");

  std::array<std::string, kColumnCount> cells;
  // Bit per column whose cell shows a value of the find rather than "不明";
  // sorting puts the others last, whatever a card's tag happens to say.
  uint32_t knownColumns = 0;

  const std::string& operator[](Column column) const { return cells[static_cast<size_t>(column)]; }
  bool known(Column column) const { return (knownColumns >> static_cast<int>(column)) & 1; }
};

// Every column's text for `candidate` under the row name `name`.
RowTexts rowTexts(const Candidate& candidate, std::string_view name);

// "ﾓﾄﾛｰﾗ形式" for MM, "ｲﾝﾃﾙ形式" for II (ExifInfo::byteOrder()); null for any
// other value, which the row shows as "不明".
const char* byteOrderText(uint16_t byteOrder);

}  // namespace kestrix
