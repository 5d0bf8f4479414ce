// Reads arbitrary bytes as an EXIF date text; whatever is accepted must be a
// date that exists, and its two numbers must agree with its fields.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/shot_date.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrix::ShotDate date;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!kestrix::parseShotDate(text, &date)) return 0;
  if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31 || date.hour > 23 ||
      date.minute > 59 || date.second > 59)
    __builtin_trap();
  if (date.sortValue() / 1000000 != date.dayNumber()) __builtin_trap();
  return 0;
}
