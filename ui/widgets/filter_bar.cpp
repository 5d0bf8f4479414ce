#include "ui/widgets/filter_bar.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <algorithm>

#include "ui/widgets/flow_layout.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {

namespace {

QString fromUtf8(const char* text) { return QString::fromUtf8(text); }

QCheckBox* makeBox(const char* text, const char* name, QWidget* parent) {
  auto* box = new QCheckBox(fromUtf8(text), parent);
  box->setObjectName(name);
  return box;
}

QSpinBox* makeSpin(int maximum, const char* name, QWidget* parent) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(name);
  spin->setRange(0, maximum);
  // Only a finished number filters: typing "1024" must not filter by 1, 10
  // and 102 on the way.
  spin->setKeyboardTracking(false);
  spin->setAccelerated(true);
  return spin;
}

QDateEdit* makeDateEdit(const QDate& date, const char* name, QWidget* parent) {
  auto* edit = new QDateEdit(date, parent);
  edit->setObjectName(name);
  edit->setDisplayFormat(fromUtf8(FilterBar::kDateFormat));
  edit->setCalendarPopup(true);
  edit->setKeyboardTracking(false);
  return edit;
}

QLabel* makeLabel(const char* text, QWidget* parent) { return new QLabel(fromUtf8(text), parent); }

}  // namespace

FilterBar::FilterBar(QWidget* parent) : QWidget(parent) {
  setObjectName("filterBar");
  nested_ = makeBox(windowText(WindowText::NestedBoxText), "checkHideNested", this);
  nested_->setToolTip(fromUtf8(windowText(WindowText::NestedBoxTip)));
  damaged_ = makeBox(windowText(WindowText::VerdictDamaged), "checkHideDamaged", this);
  truncated_ = makeBox(windowText(WindowText::VerdictTruncated), "checkHideTruncated", this);
  minimumSize_ = makeSpin(kLargestSizeKB, "spinMinimumSize", this);
  minimumSize_->setSuffix(fromUtf8(windowText(WindowText::SizeSuffix)));
  minimumWidth_ = makeSpin(kLargestSide, "spinMinimumWidth", this);
  minimumHeight_ = makeSpin(kLargestSide, "spinMinimumHeight", this);
  makerModel_ = new QLineEdit(this);
  makerModel_->setObjectName("editMakerModel");
  makerModel_->setClearButtonEnabled(true);
  // The clear button appears with the first letter and would widen the
  // field's size hint: the bar's flow would then move the field onto the
  // next line under the cursor. The width is fixed with the button's room.
  makerModel_->setText(QStringLiteral("x"));
  makerModel_->setFixedWidth(makerModel_->sizeHint().width());
  makerModel_->clear();
  dateRange_ = makeBox(windowText(WindowText::DateRangeBoxText), "checkDateRange", this);
  // From the first cameras that wrote EXIF dates to today: checking the
  // box alone hides only the rows without a date.
  firstDay_ = makeDateEdit(QDate(1995, 1, 1), "dateFirstDay", this);
  lastDay_ = makeDateEdit(QDate::currentDate(), "dateLastDay", this);
  shownCount_ = new QLabel(this);
  shownCount_->setObjectName("staticShownCount");
  // Room for six-digit counts, so a growing count does not rewrap the bar.
  shownCount_->setMinimumWidth(shownCount_->fontMetrics().horizontalAdvance(
      fromUtf8(windowText(WindowText::ShownCountFormat)).arg(999999).arg(999999)));

  // Groups that stay together when the bar wraps onto a second line.
  auto* flow = new FlowLayout(this, 16, 4);
  flow->setContentsMargins(0, 0, 0, 0);
  const auto group = [this, flow](std::initializer_list<QWidget*> widgets) {
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    for (QWidget* widget : widgets) row->addWidget(widget);
    flow->addWidget(box);
  };
  group({makeLabel(windowText(WindowText::HideLabel), this), nested_, damaged_, truncated_});
  group({makeLabel(windowText(WindowText::MinimumSizeLabel), this), minimumSize_});
  group({makeLabel(windowText(WindowText::MinimumResolutionLabel), this), minimumWidth_,
         makeLabel(windowText(WindowText::ResolutionTimes), this), minimumHeight_});
  group({makeLabel(windowText(WindowText::MakerModelLabel), this), makerModel_});
  group({dateRange_, firstDay_, makeLabel(windowText(WindowText::DateRangeDash), this), lastDay_});
  flow->addWidget(shownCount_);
  flow->setAlignment(shownCount_, Qt::AlignRight);

  setCriteria(FilterCriteria{});
  showCounts(0, 0);

  typingPause_.setSingleShot(true);
  typingPause_.setInterval(kTypingPauseMs);
  connect(&typingPause_, &QTimer::timeout, this, &FilterBar::announce);
  connect(makerModel_, &QLineEdit::textChanged, this, [this] {
    if (!settingUp_) typingPause_.start();
  });
  connect(makerModel_, &QLineEdit::editingFinished, this, &FilterBar::announce);
  for (QCheckBox* box : {nested_, damaged_, truncated_, dateRange_})
    connect(box, &QCheckBox::toggled, this, &FilterBar::announce);
  for (QSpinBox* spin : {minimumSize_, minimumWidth_, minimumHeight_})
    connect(spin, &QSpinBox::valueChanged, this, &FilterBar::announce);
  for (QDateEdit* edit : {firstDay_, lastDay_})
    connect(edit, &QDateEdit::dateChanged, this, &FilterBar::announce);
  connect(dateRange_, &QCheckBox::toggled, this, [this](bool on) {
    firstDay_->setEnabled(on);
    lastDay_->setEnabled(on);
  });
}

FilterCriteria FilterBar::criteria() const {
  FilterCriteria criteria;
  criteria.hideNested = nested_->isChecked();
  criteria.hideDamaged = damaged_->isChecked();
  criteria.hideTruncated = truncated_->isChecked();
  criteria.minimumSizeKB = static_cast<uint64_t>(minimumSize_->value());
  criteria.minimumWidth = minimumWidth_->value();
  criteria.minimumHeight = minimumHeight_->value();
  criteria.makerOrModel = makerModel_->text().trimmed();
  criteria.dateRangeSet = dateRange_->isChecked();
  criteria.firstDay = firstDay_->date();
  criteria.lastDay = lastDay_->date();
  return criteria;
}

void FilterBar::setCriteria(const FilterCriteria& criteria) {
  settingUp_ = true;
  nested_->setChecked(criteria.hideNested);
  damaged_->setChecked(criteria.hideDamaged);
  truncated_->setChecked(criteria.hideTruncated);
  minimumSize_->setValue(static_cast<int>(
      std::min<uint64_t>(criteria.minimumSizeKB, static_cast<uint64_t>(kLargestSizeKB))));
  minimumWidth_->setValue(criteria.minimumWidth);
  minimumHeight_->setValue(criteria.minimumHeight);
  makerModel_->setText(criteria.makerOrModel);
  dateRange_->setChecked(criteria.dateRangeSet);
  if (criteria.firstDay.isValid()) firstDay_->setDate(criteria.firstDay);
  if (criteria.lastDay.isValid()) lastDay_->setDate(criteria.lastDay);
  firstDay_->setEnabled(criteria.dateRangeSet);
  lastDay_->setEnabled(criteria.dateRangeSet);
  settingUp_ = false;
  typingPause_.stop();
  announce();
}

void FilterBar::showCounts(int total, int shown) {
  shownCount_->setText(fromUtf8(windowText(WindowText::ShownCountFormat)).arg(total).arg(shown));
}

void FilterBar::announce() {
  if (settingUp_) return;
  typingPause_.stop();
  const FilterCriteria now = criteria();
  // Focus leaving the field, or Enter after the pause, changes nothing.
  if (now == announced_) return;
  announced_ = now;
  emit criteriaChanged(now);
}

}  // namespace kestrix
