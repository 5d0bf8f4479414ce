// The sort and filter keys of the results list, one per source row and
// column, made from the candidate the first time they are asked for and
// kept until the row changes.
//
// The texts come from the model's row texts (ResultList::rowTexts, made
// once per row), so a key says what the cell shows; sorting 100,000 rows
// asks for about 1.7 million comparisons, so the keys are real values kept
// here:
//   texts (name, model, maker, byte order,  case-folded, compared as such
//   any row text not listed below)
//   shot date                               yyyymmddhhmmss (core/shot_date.h)
//   size                                    bytes
//   GPS                                     0 with, 1 without
//   verdict                                 正常 < 途中まで < 破損 < 未確認
//   unreadable sectors                      the count, once a map was read
// A value the row lacks ("不明", a date that is no date, sectors without a
// map) is absent; the caller decides where absent values go.
//
// ResultFilter owns one and tells it what changed (forget, clear) before
// it sorts or filters again. User-interface thread only.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

#include "ui/widgets/filter_criteria.h"
#include "ui/widgets/result_list.h"

namespace kestrix {

class ResultKeys {
 public:
  explicit ResultKeys(const ResultList& list) : list_(list) {}

  // True when the row has a value in the column.
  bool hasValue(int column, int row);
  // < 0, 0 or > 0 as row a's value in `column` sorts before, with or after
  // row b's; both rows must have one.
  int compare(int column, int rowA, int rowB);
  // The row as FilterCriteria::accepts sees it; the maker and model texts
  // and the shot day are read only when asked for.
  RowFacts facts(int row, bool withTexts, bool withDate);

  // The keys of rows first..last in columns firstColumn..lastColumn are
  // made again when next asked for (a rename, verdicts, sector counts).
  void forget(int firstRow, int lastRow, int firstColumn, int lastColumn);
  // Every key goes (the list was cleared).
  void clear();

 private:
  // Marks of a cell's key.
  enum class State : uint8_t { Unknown, Present, Absent };

  struct Column {
    std::vector<State> states;     // per row
    std::vector<int64_t> numbers;  // the numeric columns
    std::vector<QString> texts;    // the text columns
  };
  // The check's facts, kept with the verdict column's key.
  struct Check {
    Verdict verdict = Verdict::Unknown;
    int width = 0;
    int height = 0;
  };

  static bool isTextColumn(int column);
  // Makes the key of one cell if it is not known yet.
  void fill(int column, int row);

  const ResultList& list_;
  std::array<Column, ResultList::kColumnCount> columns_;
  std::vector<Check> checks_;   // valid where the verdict column's state is known
  std::vector<int8_t> nested_;  // −1 not read yet, else 0 or 1; read again after forget()
};

}  // namespace kestrix
