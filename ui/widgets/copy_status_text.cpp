#include "ui/widgets/copy_status_text.h"

#include <QString>

#include <cmath>
#include <cstdio>

#include "ui/widgets/window_texts.h"

namespace kestrix {

namespace {

double mebibytes(double bytes) { return bytes / (1 << 20); }

// printf's fixed notation, which the line has always used: its rounding of
// a half (round half to even) is not QString::number's.
QString fixed(double value, int decimals) {
  char text[400];  // %.1f of DBL_MAX is 310 characters
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return QString::fromLatin1(text);
}

QString text(WindowText id) { return QString::fromUtf8(windowText(id)); }

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
  if (!seconds || !std::isfinite(*seconds) || *seconds < 0)
    return windowText(WindowText::TimeLeftUnknown);
  const auto whole = static_cast<unsigned long long>(std::ceil(*seconds));
  if (whole < 60) return text(WindowText::TimeLeftSeconds).arg(whole).toStdString();
  const unsigned long long minutes = (whole + 59) / 60;
  if (minutes < 60) return text(WindowText::TimeLeftMinutes).arg(minutes).toStdString();
  return text(WindowText::TimeLeftHours).arg(minutes / 60).arg(minutes % 60).toStdString();
}

std::string copyStatusText(const CopyStatus& status) {
  return text(WindowText::CopyStatusLine)
      .arg(fixed(mebibytes(static_cast<double>(status.rescuedBytes)), 1),
           fixed(mebibytes(static_cast<double>(status.deviceBytes)), 1),
           fixed(mebibytes(status.bytesPerSecond), 1),
           QString::number(static_cast<unsigned long long>(status.badAreas)),
           fixed(static_cast<double>(status.badBytes) / 1024, 1),
           fixed(status.secondsSinceGoodRead, 0),
           QString::fromStdString(timeLeftText(copySecondsLeft(status))))
      .toStdString();
}

}  // namespace kestrix
