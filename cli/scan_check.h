// `--check` of the scanning commands: every row of a session's list checked
// (core/candidate_check.h) on two threads, one per core of the machines the
// program is made for, each with its own engines.
#pragma once

#include <functional>

namespace kestrix {

class ScanSession;

// Checks every row of the session's last scan. `stopRequested` (may be
// empty) ends the work between rows; rows not reached stay unchecked.
void checkSessionRows(ScanSession& session, const std::function<bool()>& stopRequested = {});

}  // namespace kestrix
