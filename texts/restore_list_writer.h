// The restore list: the loaded image's size and one line per candidate, as
// shown by the results list's report command and printed by the command
// line's report. Lines end with CR LF. Its rows are the list's own texts
// (texts/row_texts.h), so it lives with them above the jobs.
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

class CandidateList;
class ImageBlock;

// Appends the restore list to `out`. False when `image` is null (nothing
// appended) or when the list has no rows (the two headings are appended).
// The text grows as needed: unlike a fixed report buffer, no row is ever cut
// off, however long the list.
bool writeRestoreList(const ImageBlock* image, const CandidateList& list, std::string& out);

}  // namespace kestrix
