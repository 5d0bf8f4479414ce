// Tidy renaming: every row of the candidate list becomes prefix + a
// zero-padded serial number + the row's own extension.
//
//   TidySettings settings;
//   if (validateTidySettings(prefix, digits, settings, &problem))
//     tidyNames(list, settings, rowCountWhenAsked);
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrix {

class CandidateList;

// Limits of the tidy dialog's boxes.
inline constexpr size_t kTidyPrefixMaxCharacters = 19;
inline constexpr int32_t kTidyDigitsMin = 3;
inline constexpr int32_t kTidyDigitsMax = 30;
// Longest extension (dot included) the renaming carries; a row with a
// longer one keeps its name (see tidyNames).
inline constexpr size_t kTidyExtensionMaxBytes = 15;

// Shown when the digits box does not hold 3 to 30.
inline constexpr const char* kTidyDigitsMessage =
    "[連番字数] には半角数字2文字で3-30までの長さを指定して下さい。";

struct TidySettings {
  int32_t digits = 8;       // the digits box's value whenever it is not empty
  std::string digitsText;   // the digits box text; empty unless valid
  std::string prefix;       // the prefix; empty unless valid
};

// Checks the two boxes. On success fills digitsText and prefix and returns
// true; otherwise both stay empty, *problem (when given) holds the message
// for the user, and the result is false. The digits text must be 1–2
// half-width digits of value 3..30; the prefix at most 19 characters (UTF-8)
// and usable in a file name: no '/', '\\', NUL, control characters or the
// characters FAT card file systems refuse (: * ? " < > |), and not "." or "..".
bool validateTidySettings(std::string_view prefix, std::string_view digitsText,
                          TidySettings& settings, std::string* problem = nullptr);

// The example line: "例: IMG0001.jpg" for valid settings, "例: 未設定" otherwise.
std::string tidyExample(const TidySettings& settings);

// Renames rows 0 .. rowCount − 1 (the count taken when the user asked):
// serial 0 for the first row of each run of rows whose extensions match
// ignoring case, + 1 for each further row of the run; the run keeps its
// first row's spelling of the extension. Rows without a dot, and rows whose
// extension is longer than kTidyExtensionMaxBytes, keep their names and
// leave the serial alone. Does nothing without valid settings. Returns the
// number of rows renamed.
int32_t tidyNames(CandidateList& list, const TidySettings& settings, int32_t rowCount);

}  // namespace kestrix
