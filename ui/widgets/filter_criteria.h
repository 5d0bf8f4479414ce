// What the filter bar asks of a row, and what a row offers it.
//
//   FilterCriteria criteria;           // nested finds hidden, nothing else
//   criteria.minimumSizeKB = 100;
//   if (criteria.accepts(facts)) …     // facts: RowFacts of one row
//
// accepts() is pure: it reads the two structs only, so the rules below can
// be tested without a model. ResultFilter builds the RowFacts of a row from
// its candidate (and its cache of keys) and asks.
#pragma once

#include <QDate>
#include <QString>
#include <cstdint>

#include "imaging/check/verdict.h"

namespace kestrix {

// One row as the filter sees it.
struct RowFacts {
  bool nested = false;                 // found inside another find (Candidate::parent)
  Verdict verdict = Verdict::Unknown;  // the check's verdict; Unknown until checked
  uint64_t sizeBytes = 0;
  int width = 0;  // pixels, from the check; 0 when not known
  int height = 0;
  QString maker;  // EXIF Make and Model; empty without them
  QString model;
  int32_t shotDay = 0;  // yyyymmdd of DateTimeOriginal; 0 without a date
};

struct FilterCriteria {
  // Thumbnails inside photos and frames inside movies: hidden by default, so
  // a card's list shows its files rather than every picture inside them.
  bool hideNested = true;
  // Verdicts from the column "状態"; a row not checked yet (or of a kind no
  // checker knows) is neither damaged nor truncated, so never hidden here.
  bool hideDamaged = false;
  bool hideTruncated = false;
  // At least this many KB as the column "予定サイズ" counts them (bytes /
  // 1024, rounded down); 0: any size.
  uint64_t minimumSizeKB = 0;
  // At least this many pixels each way; 0: any. A row whose size in pixels
  // is not known (a movie, a row not checked yet) fails a minimum.
  int minimumWidth = 0;
  int minimumHeight = 0;
  // Part of the maker or the model name, in any letter case; empty: any.
  QString makerOrModel;
  // Whole days, both included; a range given backwards is read forwards.
  // While a range is set, rows without a shot date are hidden.
  bool dateRangeSet = false;
  QDate firstDay;
  QDate lastDay;

  bool accepts(const RowFacts& row) const;
  // True when accepts() needs the maker and model texts, or the shot day:
  // the filter leaves them unread otherwise.
  bool needsTexts() const { return !makerOrModel.isEmpty(); }
  bool needsDate() const { return dateRangeSet; }

  bool operator==(const FilterCriteria& other) const = default;
};

}  // namespace kestrix
