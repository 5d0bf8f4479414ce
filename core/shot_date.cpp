#include "core/shot_date.h"

namespace kestrix {

namespace {

// Lengths of the two accepted forms.
constexpr size_t kDateLength = 10;      // "YYYY:MM:DD"
constexpr size_t kDateTimeLength = 19;  // "YYYY:MM:DD hh:mm:ss"

// The digits text[at .. at + count) as a number; false for any non-digit.
bool digits(std::string_view text, size_t at, size_t count, int* value) {
  int result = 0;
  for (size_t i = at; i < at + count; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  *value = result;
  return true;
}

bool dateSeparator(char c) { return c == ':' || c == '-' || c == '/'; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

bool parseShotDate(std::string_view text, ShotDate* out) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
  if (text.size() != kDateLength && text.size() != kDateTimeLength) return false;
  ShotDate date;
  // The two date separators must agree: "2003:07-14" is no form anyone writes.
  if (!dateSeparator(text[4]) || text[7] != text[4]) return false;
  if (!digits(text, 0, 4, &date.year) || !digits(text, 5, 2, &date.month) ||
      !digits(text, 8, 2, &date.day))
    return false;
  if (text.size() == kDateTimeLength) {
    if ((text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':') return false;
    if (!digits(text, 11, 2, &date.hour) || !digits(text, 14, 2, &date.minute) ||
        !digits(text, 17, 2, &date.second))
      return false;
  }
  if (date.year < 1 || date.month < 1 || date.month > 12 || date.day < 1 ||
      date.day > daysInMonth(date.year, date.month) || date.hour > 23 || date.minute > 59 ||
      date.second > 59)
    return false;
  *out = date;
  return true;
}

}  // namespace kestrix
