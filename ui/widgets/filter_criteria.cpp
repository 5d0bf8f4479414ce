#include "ui/widgets/filter_criteria.h"

#include <algorithm>

namespace kestrix {

namespace {

int32_t dayNumber(const QDate& day) {
  return day.isValid() ? day.year() * 10000 + day.month() * 100 + day.day() : 0;
}

}  // namespace

bool FilterCriteria::accepts(const RowFacts& row) const {
  if (hideNested && row.nested) return false;
  if (hideDamaged && row.verdict == Verdict::Damaged) return false;
  if (hideTruncated && row.verdict == Verdict::Truncated) return false;
  if (minimumSizeKB > 0 && row.sizeBytes / 1024 < minimumSizeKB) return false;
  if (row.width < minimumWidth || row.height < minimumHeight) return false;
  if (!makerOrModel.isEmpty() && !row.maker.contains(makerOrModel, Qt::CaseInsensitive) &&
      !row.model.contains(makerOrModel, Qt::CaseInsensitive))
    return false;
  if (dateRangeSet) {
    const int32_t first = dayNumber(firstDay);
    const int32_t last = dayNumber(lastDay);
    if (row.shotDay == 0 || row.shotDay < std::min(first, last) ||
        row.shotDay > std::max(first, last))
      return false;
  }
  return true;
}

}  // namespace kestrix
