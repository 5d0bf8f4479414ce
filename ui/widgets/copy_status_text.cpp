#include "ui/widgets/copy_status_text.h"

#include <cmath>
#include <cstdio>

namespace kestrix {

namespace {

double mebibytes(double bytes) { return bytes / (1 << 20); }

}  // namespace

std::optional<double> copySecondsLeft(const CopyStatus& status) {
  if (status.pendingBytes == 0) return 0.0;
  if (status.phase != '?' || status.bytesReadThisRun == 0 || !(status.bytesPerSecond > 0) ||
      status.secondsSinceGoodRead >= kErrorsDominateSeconds) {
    return std::nullopt;
  }
  return static_cast<double>(status.pendingBytes) / status.bytesPerSecond;
}

std::string timeLeftText(std::optional<double> seconds) {
  if (!seconds || !std::isfinite(*seconds) || *seconds < 0) return kUnknownTimeLeftText;
  const auto whole = static_cast<unsigned long long>(std::ceil(*seconds));
  if (whole < 60) return "約 " + std::to_string(whole) + " 秒";
  const unsigned long long minutes = (whole + 59) / 60;
  if (minutes < 60) return "約 " + std::to_string(minutes) + " 分";
  return "約 " + std::to_string(minutes / 60) + " 時間 " + std::to_string(minutes % 60) + " 分";
}

std::string copyStatusText(const CopyStatus& status) {
  char line[256];
  std::snprintf(line, sizeof line,
                "救出 %.1f / %.1f MiB  %.1f MiB/s  不良 %llu 箇所 (%.1f KiB)  "
                "最後の正常な読み取りから %.0f 秒  残り時間 ",
                mebibytes(static_cast<double>(status.rescuedBytes)),
                mebibytes(static_cast<double>(status.deviceBytes)),
                mebibytes(status.bytesPerSecond), static_cast<unsigned long long>(status.badAreas),
                static_cast<double>(status.badBytes) / 1024, status.secondsSinceGoodRead);
  return line + timeLeftText(copySecondsLeft(status));
}

}  // namespace kestrix
