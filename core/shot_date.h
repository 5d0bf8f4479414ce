// The shot date of a find as numbers: the EXIF date text
// "YYYY:MM:DD hh:mm:ss" (EXIF 2.3, 4.6.5, DateTimeOriginal) read into
// fields that sort chronologically and compare by day.
//
//   ShotDate date;
//   if (parseShotDate(text, &date)) keys.push_back(date.sortValue());
//
// The text comes from the card and is hostile: anything that is not a real
// date of that form (a blank or "0000:00:00 00:00:00" from a camera without
// a clock, a 31 February, letters) is no date at all rather than a guess.
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrix {

struct ShotDate {
  int year = 0;    // 1 .. 9999
  int month = 0;   // 1 .. 12
  int day = 0;     // 1 .. the month's length
  int hour = 0;    // 0 .. 23
  int minute = 0;  // 0 .. 59
  int second = 0;  // 0 .. 59

  // yyyymmdd: days in calendar order, for whole-day ranges.
  int32_t dayNumber() const { return year * 10000 + month * 100 + day; }
  // yyyymmddhhmmss: instants in chronological order.
  int64_t sortValue() const {
    return int64_t{dayNumber()} * 1000000 + hour * 10000 + minute * 100 + second;
  }
};

// Reads "YYYY:MM:DD hh:mm:ss". The date alone ("YYYY:MM:DD") is taken as
// midnight, and '-' or '/' between the date's fields are taken like ':', as
// some cameras and editors write them; trailing spaces and NULs are ignored.
// False (out untouched) for anything else, or for a date or time that does
// not exist.
bool parseShotDate(std::string_view text, ShotDate* out);

}  // namespace kestrix
