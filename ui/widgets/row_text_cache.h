// The texts of the results' rows (texts/row_texts.h), made the first time a
// row is asked for and kept until the row changes. The details view asks
// for a cell on every paint, and sorting or filtering by a text column asks
// for every row; each row's EXIF lookups and strings are made once instead.
//
// When to make them again is not a list of its own: the cache follows the
// model's dataChanged and modelReset, which the model must send for every
// change its views are to show anyway (a rename, a join that changes the
// size, a clear). A dataChanged that names only roles other than the
// display's, or only the model's columns after the row texts (the verdict,
// the unreadable sectors), keeps them. Connected before any view or proxy,
// it forgets before they ask again.
//
// User-interface thread only, like the model it follows.
#pragma once

#include <QAbstractItemModel>
#include <QObject>
#include <memory>
#include <vector>

#include "core/candidate_list.h"
#include "texts/row_texts.h"

namespace kestrix {

class RowTextCache : public QObject {
 public:
  // `model` shows `list`'s rows as its rows; both must outlive the cache.
  RowTextCache(const CandidateList& list, const QAbstractItemModel& model);

  // The row's texts; null for a row the list does not have. Valid until the
  // next change of the model.
  const RowTexts* texts(int row) const;

 private:
  void forget(int firstRow, int lastRow);

  const CandidateList& list_;
  // One slot per row asked for; null until made (a cache: const readers fill it).
  mutable std::vector<std::unique_ptr<RowTexts>> rows_;
};

}  // namespace kestrix
