// How an offset in the image is shown to the user (properties, the restore
// list): "0x" and at least 8 upper-case hex digits. Offsets below 4 GiB print
// as they always did; larger ones grow to as many digits as they need. Cutting
// them to 32 bits would point at another place on the card.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrix {

inline std::string offsetText(uint64_t offset) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(offset));
  return text;
}

}  // namespace kestrix
