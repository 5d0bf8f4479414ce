// `--check` of the scanning commands: every row of a session's list checked
// (core/candidate_check.h) on two threads, one per core of the machines the
// program is made for, each with its own engines.
#pragma once

#include <functional>

namespace kestrix {

class ScanSession;

// Checks every row of the session's last scan. `stopRequested` (may be
// empty) ends the work between rows; rows not reached stay unchecked. After
// a precise scan the split photos are then reassembled (core/fragment_joiner.h),
// with a warning on stderr for each work limit a search hit.
void checkSessionRows(ScanSession& session, const std::function<bool()>& stopRequested = {});

}  // namespace kestrix
