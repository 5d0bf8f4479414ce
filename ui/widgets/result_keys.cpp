#include "ui/widgets/result_keys.h"

#include <algorithm>
#include <iterator>

#include "core/shot_date.h"

namespace kestrix {

namespace {

// Verdicts in the order a sorted column shows them: sound files first, the
// ones cut short before the broken ones, the unjudged last.
int64_t verdictRank(Verdict verdict) {
  switch (verdict) {
    case Verdict::Intact: return 0;
    case Verdict::Truncated: return 1;
    case Verdict::Damaged: return 2;
    case Verdict::Unknown: break;
  }
  return 3;
}

template <typename T>
int threeWay(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

bool ResultKeys::isTextColumn(int column) {
  // The columns with a key of their own, made in fill(); every other column
  // of the row texts sorts by what its cells show, so a new one needs no
  // line here.
  using TextColumn = RowTexts::Column;
  constexpr int kNumericColumns[] = {
      static_cast<int>(TextColumn::ShotDate), static_cast<int>(TextColumn::Size),
      static_cast<int>(TextColumn::Gps),      ResultList::kColumnVerdict,
      ResultList::kUnreadableSectorsColumn,
  };
  if (column < 0 || column >= RowTexts::kColumnCount) return false;
  return std::find(std::begin(kNumericColumns), std::end(kNumericColumns), column) ==
         std::end(kNumericColumns);
}

bool ResultKeys::hasValue(int column, int row) {
  if (column < 0 || column >= ResultList::kColumnCount || row < 0) return false;
  fill(column, row);
  return columns_[column].states[row] == State::Present;
}

int ResultKeys::compare(int column, int rowA, int rowB) {
  fill(column, rowA);
  fill(column, rowB);
  const Column& keys = columns_[column];
  if (isTextColumn(column)) return keys.texts[rowA].compare(keys.texts[rowB]);
  return threeWay(keys.numbers[rowA], keys.numbers[rowB]);
}

RowFacts ResultKeys::facts(int row, bool withTexts, bool withDate) {
  RowFacts facts;
  if (row < 0) return facts;
  if (static_cast<size_t>(row) >= nested_.size()) nested_.resize(row + 1, -1);
  if (nested_[row] < 0) {
    const Candidate* candidate = list_.candidates().candidateAt(row + 1);
    nested_[row] = candidate != nullptr && !candidate->find().parent.empty() ? 1 : 0;
  }
  facts.nested = nested_[row] == 1;
  fill(ResultList::kColumnVerdict, row);
  const Check& check = checks_[row];
  facts.verdict = check.verdict;
  facts.width = check.width;
  facts.height = check.height;
  constexpr int kSize = static_cast<int>(RowTexts::Column::Size);
  constexpr int kMaker = static_cast<int>(RowTexts::Column::Maker);
  constexpr int kModel = static_cast<int>(RowTexts::Column::Model);
  constexpr int kShotDate = static_cast<int>(RowTexts::Column::ShotDate);
  fill(kSize, row);
  facts.sizeBytes = static_cast<uint64_t>(columns_[kSize].numbers[row]);
  if (withTexts) {
    // The folded texts serve: a case-insensitive search finds the same.
    fill(kMaker, row);
    fill(kModel, row);
    facts.maker = columns_[kMaker].texts[row];
    facts.model = columns_[kModel].texts[row];
  }
  if (withDate && hasValue(kShotDate, row)) {
    facts.shotDay = static_cast<int32_t>(columns_[kShotDate].numbers[row] / 1000000);
  }
  return facts;
}

void ResultKeys::forget(int firstRow, int lastRow, int firstColumn, int lastColumn) {
  // A row may become nested after it was listed: the EXIF thumbnail of a
  // photo joined from its pieces gets that photo as its parent.
  for (int row = std::max(firstRow, 0); row <= lastRow && static_cast<size_t>(row) < nested_.size();
       ++row) {
    nested_[row] = -1;
  }
  firstColumn = std::max(firstColumn, 0);
  lastColumn = std::min(lastColumn, ResultList::kColumnCount - 1);
  for (int column = firstColumn; column <= lastColumn; ++column) {
    std::vector<State>& states = columns_[column].states;
    const int last = std::min<int>(lastRow, static_cast<int>(states.size()) - 1);
    for (int row = std::max(firstRow, 0); row <= last; ++row) {
      states[row] = State::Unknown;
      if (isTextColumn(column)) columns_[column].texts[row] = QString();
    }
  }
}

void ResultKeys::clear() {
  for (Column& column : columns_) column = Column{};
  checks_.clear();
  nested_.clear();
}

void ResultKeys::fill(int column, int row) {
  Column& keys = columns_[column];
  if (static_cast<size_t>(row) >= keys.states.size()) {
    // Rows arrive in batches: grow to the list's size at once, not by one.
    const size_t size = std::max<size_t>(row + 1, list_.rowCount());
    keys.states.resize(size, State::Unknown);
    if (isTextColumn(column))
      keys.texts.resize(size);
    else
      keys.numbers.resize(size, 0);
    if (column == ResultList::kColumnVerdict) checks_.resize(size);
  }
  if (keys.states[row] != State::Unknown) return;
  if (column == ResultList::kColumnVerdict) checks_[row] = Check{};
  const Candidate* candidate = list_.candidates().candidateAt(row + 1);
  bool present = candidate != nullptr;
  using TextColumn = RowTexts::Column;
  if (present && isTextColumn(column)) {
    // The cell's own text, so the order is the order of what the rows show.
    const RowTexts* texts = list_.rowTexts(row);
    const auto text = static_cast<TextColumn>(column);
    present = texts != nullptr && texts->known(text);
    if (present) keys.texts[row] = QString::fromStdString((*texts)[text]).toCaseFolded();
  } else if (present) {
    int64_t& number = keys.numbers[row];
    switch (column) {
      case static_cast<int>(TextColumn::ShotDate): {
        const RowTexts* texts = list_.rowTexts(row);
        ShotDate date;
        present = texts != nullptr && texts->known(TextColumn::ShotDate) &&
                  parseShotDate((*texts)[TextColumn::ShotDate], &date);
        if (present) number = date.sortValue();
        break;
      }
      case static_cast<int>(TextColumn::Size):
        number = static_cast<int64_t>(std::min<uint64_t>(candidate->find().size(), INT64_MAX));
        break;
      case static_cast<int>(TextColumn::Gps): number = candidate->hasGps() ? 0 : 1; break;
      case ResultList::kColumnVerdict: {
        Check& check = checks_[row];
        if (candidate->checked()) {
          const CheckResult& result = candidate->check();
          check = Check{result.verdict, result.width, result.height};
        }
        number = verdictRank(check.verdict);
        break;
      }
      case ResultList::kUnreadableSectorsColumn:
        present = list_.unreadableSectorsShown();
        number =
            static_cast<int64_t>(std::min<uint64_t>(candidate->unreadableSectors(), INT64_MAX));
        break;
      default: present = false; break;
    }
  }
  keys.states[row] = present ? State::Present : State::Absent;
}

}  // namespace kestrix
