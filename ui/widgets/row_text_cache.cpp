#include "ui/widgets/row_text_cache.h"

#include <algorithm>

namespace kestrix {

RowTextCache::RowTextCache(const CandidateList& list, const QAbstractItemModel& model)
    : list_(list) {
  connect(
      &model, &QAbstractItemModel::dataChanged, this,
      [this](const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
        // No roles means every role.
        if (!roles.isEmpty() && !roles.contains(Qt::DisplayRole)) return;
        if (topLeft.column() >= RowTexts::kColumnCount) return;
        forget(topLeft.row(), bottomRight.row());
      });
  connect(&model, &QAbstractItemModel::modelReset, this, [this] { rows_.clear(); });
}

const RowTexts* RowTextCache::texts(int row) const {
  if (row < 0) return nullptr;
  if (static_cast<size_t>(row) < rows_.size() && rows_[row]) return rows_[row].get();
  const Candidate* candidate = list_.candidateAt(row + 1);
  std::string name;
  if (candidate == nullptr || !list_.itemName(row, name)) return nullptr;
  if (static_cast<size_t>(row) >= rows_.size()) {
    // Rows arrive in batches: grow to the list's size at once, not by one.
    rows_.resize(std::max<size_t>(row + 1, static_cast<size_t>(list_.itemCount())));
  }
  rows_[row] = std::make_unique<RowTexts>(rowTexts(*candidate, name));
  return rows_[row].get();
}

void RowTextCache::forget(int firstRow, int lastRow) {
  const int last = std::min(lastRow, static_cast<int>(rows_.size()) - 1);
  for (int row = std::max(firstRow, 0); row <= last; ++row) rows_[row].reset();
}

}  // namespace kestrix
