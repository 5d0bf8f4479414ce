// FilterCriteria::accepts at its edges: each rule alone, at the boundary.
#include <gtest/gtest.h>

#include <functional>

#include "ui/widgets/filter_criteria.h"

namespace kestrix {
namespace {

// A plain photo every rule lets through unless the row changes it.
RowFacts photo() {
  RowFacts row;
  row.verdict = Verdict::Intact;
  row.sizeBytes = 2 * 1024 * 1024;
  row.width = 1600;
  row.height = 1200;
  row.maker = "Kestrix";
  row.model = "KX-100";
  row.shotDay = 20030714;
  return row;
}

FilterCriteria noRules() {
  FilterCriteria criteria;
  criteria.hideNested = false;
  return criteria;
}

TEST(FilterCriteriaTest, EachRuleAtItsEdges) {
  using Change = std::function<void(FilterCriteria&, RowFacts&)>;
  const struct {
    const char* name;
    Change change;
    bool accepted;
  } rows[] = {
      {"nothing set", [](FilterCriteria&, RowFacts&) {}, true},
      {"nested, hidden by default",
       [](FilterCriteria& c, RowFacts& r) {
         c = FilterCriteria{};
         r.nested = true;
       },
       false},
      {"a find of its own, default criteria",
       [](FilterCriteria& c, RowFacts&) { c = FilterCriteria{}; }, true},
      {"nested, shown when asked", [](FilterCriteria&, RowFacts& r) { r.nested = true; }, true},

      {"damaged hidden",
       [](FilterCriteria& c, RowFacts& r) {
         c.hideDamaged = true;
         r.verdict = Verdict::Damaged;
       },
       false},
      {"truncated under the damaged rule",
       [](FilterCriteria& c, RowFacts& r) {
         c.hideDamaged = true;
         r.verdict = Verdict::Truncated;
       },
       true},
      {"truncated hidden",
       [](FilterCriteria& c, RowFacts& r) {
         c.hideTruncated = true;
         r.verdict = Verdict::Truncated;
       },
       false},
      {"unchecked never hidden by verdict",
       [](FilterCriteria& c, RowFacts& r) {
         c.hideDamaged = c.hideTruncated = true;
         r.verdict = Verdict::Unknown;
       },
       true},

      {"size exactly the minimum",
       [](FilterCriteria& c, RowFacts& r) {
         c.minimumSizeKB = 100;
         r.sizeBytes = 100 * 1024;
       },
       true},
      {"one byte short of the minimum",
       [](FilterCriteria& c, RowFacts& r) {
         c.minimumSizeKB = 100;
         r.sizeBytes = 100 * 1024 - 1;
       },
       false},
      {"a KB started counts as the column shows it",
       [](FilterCriteria& c, RowFacts& r) {
         c.minimumSizeKB = 100;
         r.sizeBytes = 101 * 1024 - 1;
       },
       true},
      {"minimum 0 takes an empty file", [](FilterCriteria&, RowFacts& r) { r.sizeBytes = 0; },
       true},

      {"resolution exactly the minimum",
       [](FilterCriteria& c, RowFacts&) {
         c.minimumWidth = 1600;
         c.minimumHeight = 1200;
       },
       true},
      {"one pixel too narrow",
       [](FilterCriteria& c, RowFacts& r) {
         c.minimumWidth = 1600;
         r.width = 1599;
       },
       false},
      {"one pixel too low",
       [](FilterCriteria& c, RowFacts& r) {
         c.minimumHeight = 1200;
         r.height = 1199;
       },
       false},
      {"portrait against a landscape minimum",
       [](FilterCriteria& c, RowFacts& r) {
         c.minimumWidth = 1600;
         c.minimumHeight = 1200;
         r.width = 1200;
         r.height = 1600;
       },
       false},
      {"size in pixels not known",
       [](FilterCriteria& c, RowFacts& r) {
         c.minimumWidth = 1;
         r.width = r.height = 0;
       },
       false},
      {"no minimum, size in pixels not known",
       [](FilterCriteria&, RowFacts& r) { r.width = r.height = 0; }, true},

      {"maker in another case", [](FilterCriteria& c, RowFacts&) { c.makerOrModel = "kESTRIX"; },
       true},
      {"part of the model", [](FilterCriteria& c, RowFacts&) { c.makerOrModel = "x-1"; }, true},
      {"in neither", [](FilterCriteria& c, RowFacts&) { c.makerOrModel = "Canon"; }, false},
      {"a row without EXIF texts",
       [](FilterCriteria& c, RowFacts& r) {
         c.makerOrModel = "k";
         r.maker.clear();
         r.model.clear();
       },
       false},

      {"first day of the range",
       [](FilterCriteria& c, RowFacts&) {
         c.dateRangeSet = true;
         c.firstDay = QDate(2003, 7, 14);
         c.lastDay = QDate(2003, 7, 20);
       },
       true},
      {"last day of the range",
       [](FilterCriteria& c, RowFacts&) {
         c.dateRangeSet = true;
         c.firstDay = QDate(2003, 7, 1);
         c.lastDay = QDate(2003, 7, 14);
       },
       true},
      {"the day before",
       [](FilterCriteria& c, RowFacts&) {
         c.dateRangeSet = true;
         c.firstDay = QDate(2003, 7, 15);
         c.lastDay = QDate(2003, 8, 1);
       },
       false},
      {"the day after",
       [](FilterCriteria& c, RowFacts&) {
         c.dateRangeSet = true;
         c.firstDay = QDate(2003, 7, 1);
         c.lastDay = QDate(2003, 7, 13);
       },
       false},
      {"a range given backwards",
       [](FilterCriteria& c, RowFacts&) {
         c.dateRangeSet = true;
         c.firstDay = QDate(2003, 7, 20);
         c.lastDay = QDate(2003, 7, 1);
       },
       true},
      {"no date while a range is set",
       [](FilterCriteria& c, RowFacts& r) {
         c.dateRangeSet = true;
         c.firstDay = QDate(1900, 1, 1);
         c.lastDay = QDate(2999, 1, 1);
         r.shotDay = 0;
       },
       false},
      {"no date, no range", [](FilterCriteria&, RowFacts& r) { r.shotDay = 0; }, true},
  };
  for (const auto& row : rows) {
    FilterCriteria criteria = noRules();
    RowFacts facts = photo();
    row.change(criteria, facts);
    EXPECT_EQ(criteria.accepts(facts), row.accepted) << row.name;
  }
}

TEST(FilterCriteriaTest, RulesCombine) {
  FilterCriteria criteria;
  criteria.minimumSizeKB = 1;
  criteria.makerOrModel = "kx";
  RowFacts row = photo();
  EXPECT_TRUE(criteria.accepts(row));
  row.nested = true;
  EXPECT_FALSE(criteria.accepts(row)) << "every rule must hold";
  EXPECT_TRUE(criteria.needsTexts());
  EXPECT_FALSE(criteria.needsDate());
}

}  // namespace
}  // namespace kestrix
