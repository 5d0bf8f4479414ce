// Tidy renaming: every row of the candidate list becomes prefix + a
// zero-padded serial number + the row's own extension.
//
//   TidySettings settings;
//   if (validateTidySettings(prefix, digits, settings, &problem))
//     tidyNames(list, settings, rowCountWhenAsked);
//   else
//     show(tidyProblemText(problem));   // texts/job_texts.h
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

// Why the boxes cannot be used; the programs hold the words.
enum class TidyProblem {
  None,            // the settings are usable
  DigitsInvalid,   // the digits box does not hold 1–2 half-width digits of 3 to 30
  PrefixTooLong,   // the prefix is over 19 characters, or no UTF-8 at all
  PrefixUnusable,  // the prefix holds a character a file name cannot, or is "." or ".."
};

struct TidySettings {
  int32_t digits = 8;      // the digits box's value whenever it is not empty
  std::string digitsText;  // the digits box text; empty unless valid
  std::string prefix;      // the prefix; empty unless valid
};

// Checks the two boxes. On success fills digitsText and prefix and returns
// true; otherwise both stay empty, *problem (when given) says why, and the
// result is false. The digits text must be 1–2
// half-width digits of value 3..30; the prefix at most 19 characters (UTF-8)
// and usable in a file name: no '/', '\\', NUL, control characters or the
// characters FAT card file systems refuse (: * ? " < > |), and not "." or "..".
bool validateTidySettings(std::string_view prefix, std::string_view digitsText,
                          TidySettings& settings, TidyProblem* problem = nullptr);

// The name the first row would get ("IMG0001.jpg" for a JPEG), for the
// dialog's example line; empty unless the settings are valid.
std::string tidyExampleName(const TidySettings& settings);

// Renames rows 0 .. rowCount − 1 (the count taken when the user asked):
// serial 0 for the first row of each run of rows whose extensions match
// ignoring case, + 1 for each further row of the run; the run keeps its
// first row's spelling of the extension. Rows without a dot, and rows whose
// extension is longer than kTidyExtensionMaxBytes, keep their names and
// leave the serial alone. Does nothing without valid settings. Returns the
// number of rows renamed.
int32_t tidyNames(CandidateList& list, const TidySettings& settings, int32_t rowCount);

}  // namespace kestrix
