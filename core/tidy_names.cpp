#include "core/tidy_names.h"

#include <cstdio>
#include <vector>

#include "core/candidate_list.h"

namespace kestrix {

namespace {

// Code points in valid UTF-8, or −1 when the text is not valid UTF-8.
int64_t utf8Characters(std::string_view text) {
  int64_t count = 0;
  for (size_t i = 0; i < text.size(); ++count) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
    if (length == 0 || i + length > text.size()) return -1;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return -1;
    }
    i += length;
  }
  return count;
}

bool prefixUsable(std::string_view prefix) {
  if (prefix == "." || prefix == "..") return false;
  for (const char c : prefix) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
    // '/' and NUL cannot be in a Linux name; the rest are refused by the FAT
    // and exFAT cards and sticks restored files are often copied to.
    if (std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) return false;
  }
  return true;
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

// printf with a format assembled at run time from validated digits only.
std::string formatName(const std::string& digitsText, const std::string& prefix, int serial,
                       const std::string& extension) {
  const std::string format = "%s%0" + digitsText + "d%s";
  const int length =
      std::snprintf(nullptr, 0, format.c_str(), prefix.c_str(), serial, extension.c_str());
  if (length < 0) return {};
  std::vector<char> text(static_cast<size_t>(length) + 1);
  std::snprintf(text.data(), text.size(), format.c_str(), prefix.c_str(), serial,
                extension.c_str());
  return std::string(text.data(), static_cast<size_t>(length));
}

}  // namespace

bool validateTidySettings(std::string_view prefix, std::string_view digitsText,
                          TidySettings& settings, TidyProblem* problem) {
  settings.digitsText.clear();
  settings.prefix.clear();
  bool digitsOnly = !digitsText.empty() && digitsText.size() <= 2;
  int32_t value = 0;
  for (const char c : digitsText) {
    if (c < '0' || c > '9') digitsOnly = false;
    if (c >= '0' && c <= '9' && value < 1000) value = value * 10 + (c - '0');
  }
  if (!digitsText.empty() && digitsOnly) settings.digits = value;
  if (!digitsOnly || value < kTidyDigitsMin || value > kTidyDigitsMax) {
    if (problem != nullptr) *problem = TidyProblem::DigitsInvalid;
    return false;
  }
  const int64_t characters = utf8Characters(prefix);
  if (characters < 0 || characters > static_cast<int64_t>(kTidyPrefixMaxCharacters)) {
    if (problem != nullptr) *problem = TidyProblem::PrefixTooLong;
    return false;
  }
  if (!prefixUsable(prefix)) {
    if (problem != nullptr) *problem = TidyProblem::PrefixUnusable;
    return false;
  }
  settings.digitsText.assign(digitsText);
  settings.prefix.assign(prefix);
  if (problem != nullptr) *problem = TidyProblem::None;
  return true;
}

std::string tidyExampleName(const TidySettings& settings) {
  if (settings.digitsText.empty()) return {};
  return formatName(settings.digitsText, settings.prefix, 1, ".jpg");
}

int32_t tidyNames(CandidateList& list, const TidySettings& settings, int32_t rowCount) {
  if (settings.digitsText.empty()) return 0;
  std::string previousExtension;
  int serial = 0;
  int32_t renamed = 0;
  for (int32_t row = 0; row < rowCount; ++row) {
    std::string name;
    if (!list.itemName(row, name)) continue;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) continue;
    const std::string extension = name.substr(dot);
    // Such an extension is no camera's; keeping the name is safer than
    // cutting it into a different one.
    if (extension.size() > kTidyExtensionMaxBytes) continue;
    if (!equalIgnoringCase(extension, previousExtension)) {
      previousExtension = extension;
      serial = 0;
    } else {
      ++serial;
    }
    if (list.setItemName(
            row, formatName(settings.digitsText, settings.prefix, serial, previousExtension))) {
      ++renamed;
    }
  }
  return renamed;
}

}  // namespace kestrix
