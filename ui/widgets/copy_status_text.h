// The copy's state as one line for the window's status line: rate, bytes
// rescued, bad areas, the time since the last good read and an estimate of
// the time left that only promises what the reads so far can back. The
// words are the window's (WindowText::CopyStatusLine and the TimeLeft rows).
#pragma once

#include <optional>
#include <string>

#include "jobs/job_reporter.h"

namespace kestrix {

// After this long without a good read the errors dominate: the rate of the
// good reads before says nothing about what is left.
inline constexpr double kErrorsDominateSeconds = 3.0;

// Seconds left, or none while errors dominate: no good read for
// kErrorsDominateSeconds, nothing read yet, or a pass past the copying one
// (trimming, scraping and retries read bad areas sector by sector, at a
// pace the copying rate does not predict).
std::optional<double> copySecondsLeft(const CopyStatus& status);

// "約 N 秒", "約 N 分", "約 N 時間 M 分", or "不明" without an estimate.
std::string timeLeftText(std::optional<double> seconds);

// "救出 R / D MiB  V MiB/s  不良 N 箇所 (B KiB)  最後の正常な読み取りから S 秒  残り時間 T"
std::string copyStatusText(const CopyStatus& status);

}  // namespace kestrix
