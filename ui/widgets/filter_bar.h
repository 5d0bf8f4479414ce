// The row of filter controls above the results list, and how many rows it
// lets through: "N 件中 M 件を表示".
//
//   auto* bar = new FilterBar(this);
//   connect(bar, &FilterBar::criteriaChanged, filter, &ResultFilter::setCriteria);
//   connect(filter, &ResultFilter::countsChanged, bar, &FilterBar::showCounts);
//
// Every control says at once what it changed, except the maker/model field,
// which waits for a pause in the typing (or Enter): each change filters
// every row again, and one keystroke should not cost 100,000 rows.
#pragma once

#include <QTimer>
#include <QWidget>

#include "ui/widgets/filter_criteria.h"

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace kestrix {

class FilterBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* kDateFormat = "yyyy/MM/dd";
  // How long the maker/model field waits after a keystroke.
  static constexpr int kTypingPauseMs = 300;
  // Largest minimum the boxes take: 4 GiB in KB, and a side of the largest
  // picture the decoder accepts.
  static constexpr int kLargestSizeKB = 4 * 1024 * 1024;
  static constexpr int kLargestSide = 65535;

  explicit FilterBar(QWidget* parent = nullptr);

  // What the controls say now (the field's text trimmed).
  FilterCriteria criteria() const;
  // Sets every control, without a criteriaChanged for each.
  void setCriteria(const FilterCriteria& criteria);

  // The controls, for tests and the window's style sheet.
  QCheckBox* nestedBox() const { return nested_; }
  QCheckBox* damagedBox() const { return damaged_; }
  QCheckBox* truncatedBox() const { return truncated_; }
  QSpinBox* minimumSizeBox() const { return minimumSize_; }
  QSpinBox* minimumWidthBox() const { return minimumWidth_; }
  QSpinBox* minimumHeightBox() const { return minimumHeight_; }
  QLineEdit* makerModelField() const { return makerModel_; }
  QCheckBox* dateRangeBox() const { return dateRange_; }
  QDateEdit* firstDayEdit() const { return firstDay_; }
  QDateEdit* lastDayEdit() const { return lastDay_; }
  QLabel* shownCountLabel() const { return shownCount_; }

 public slots:
  // "N 件中 M 件を表示" with N = total, M = shown.
  void showCounts(int total, int shown);

 signals:
  void criteriaChanged(const FilterCriteria& criteria);

 private:
  void announce();

  QCheckBox* nested_ = nullptr;
  QCheckBox* damaged_ = nullptr;
  QCheckBox* truncated_ = nullptr;
  QSpinBox* minimumSize_ = nullptr;
  QSpinBox* minimumWidth_ = nullptr;
  QSpinBox* minimumHeight_ = nullptr;
  QLineEdit* makerModel_ = nullptr;
  QCheckBox* dateRange_ = nullptr;
  QDateEdit* firstDay_ = nullptr;
  QDateEdit* lastDay_ = nullptr;
  QLabel* shownCount_ = nullptr;
  QTimer typingPause_;        // single shot: the field's text is applied when it fires
  bool settingUp_ = false;    // setCriteria is filling the controls
  FilterCriteria announced_;  // what criteriaChanged said last
};

}  // namespace kestrix
