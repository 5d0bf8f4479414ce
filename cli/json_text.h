// JSON string literals for texts read from the medium, which may hold any
// bytes: the result is always valid UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace kestrix {

// The text as a quoted JSON string. Control characters, '"' and '\\' are
// escaped; every byte that is not part of valid UTF-8 becomes U+FFFD.
std::string jsonString(std::string_view text);

}  // namespace kestrix
