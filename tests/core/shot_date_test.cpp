// The EXIF date text as numbers: the accepted forms, and the texts cameras
// and damaged cards write that are no date.
#include <gtest/gtest.h>

#include "core/shot_date.h"

namespace kestrix {
namespace {

TEST(ShotDateTest, ReadsTheExifFormAndItsVariants) {
  const struct {
    const char* text;
    int64_t sortValue;
  } rows[] = {
      {"2003:07:14 09:05:30", 20030714090530},    {"2003-07-14 09:05:30", 20030714090530},
      {"2003/07/14T09:05:30", 20030714090530},    {"2003:07:14", 20030714000000},
      {"2003:07:14 09:05:30   ", 20030714090530}, {"2004:02:29 23:59:59", 20040229235959},
      {"2000:02:29 00:00:00", 20000229000000},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    ShotDate date;
    ASSERT_TRUE(parseShotDate(row.text, &date));
    EXPECT_EQ(date.sortValue(), row.sortValue);
    EXPECT_EQ(date.dayNumber(), row.sortValue / 1000000);
  }
  ShotDate padded;
  ASSERT_TRUE(parseShotDate(std::string_view("2003:07:14 09:05:30\0\0", 21), &padded));
  EXPECT_EQ(padded.second, 30);
}

TEST(ShotDateTest, RefusesWhatIsNoDate) {
  const char* rows[] = {
      "",
      "0000:00:00 00:00:00",  // a camera without a clock
      "    :  :     :  :  ",  // EXIF's blank form
      "2003:13:01 00:00:00",
      "2003:02:29 00:00:00",  // not a leap year
      "1900:02:29 00:00:00",
      "2003:04:31 00:00:00",
      "2003:07:14 24:00:00",
      "2003:07:14 09:60:00",
      "2003:07:14 09:05:60",
      "2003:07-14 09:05:30",  // two kinds of separator
      "2003:07:14_09:05:30",
      "2003:07:14 09-05-30",
      "2003:07:1a 09:05:30",
      "2003:07:14 09:05",
      "2003:07:14 09:05:30 extra",
      " 2003:07:14",
  };
  for (const char* text : rows) {
    ShotDate date;
    date.year = 7;
    EXPECT_FALSE(parseShotDate(text, &date)) << text;
    EXPECT_EQ(date.year, 7) << "untouched on failure: " << text;
  }
}

}  // namespace
}  // namespace kestrix
