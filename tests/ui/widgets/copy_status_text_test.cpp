#include "ui/widgets/copy_status_text.h"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

CopyStatus copying() {
  CopyStatus status;
  status.deviceBytes = 1000u << 20;
  status.rescuedBytes = 400u << 20;
  status.pendingBytes = 600u << 20;
  status.bytesReadThisRun = 400u << 20;
  status.bytesPerSecond = 10u << 20;
  status.secondsSinceGoodRead = 0.1;
  return status;
}

TEST(CopyStatusText, TheEstimateIsUnknownWhileErrorsDominate) {
  struct Case {
    const char* name;
    void (*change)(CopyStatus&);
    const char* expected;
  };
  const Case cases[] = {
      {"good reads at 10 MiB/s, 600 MiB left", [](CopyStatus&) {}, "約 1 分"},
      {"no good read for 3 s", [](CopyStatus& s) { s.secondsSinceGoodRead = 3; }, "不明"},
      {"nothing read yet", [](CopyStatus& s) { s.bytesReadThisRun = 0, s.bytesPerSecond = 0; },
       "不明"},
      {"trimming the failed runs", [](CopyStatus& s) { s.phase = '*'; }, "不明"},
      {"scraping sector by sector", [](CopyStatus& s) { s.phase = '/'; }, "不明"},
      {"retrying bad sectors", [](CopyStatus& s) { s.phase = '-'; }, "不明"},
      {"a few seconds left", [](CopyStatus& s) { s.pendingBytes = 25u << 20; }, "約 3 秒"},
      {"hours left", [](CopyStatus& s) { s.bytesPerSecond = 1u << 16; }, "約 2 時間 40 分"},
      {"nothing left", [](CopyStatus& s) { s.pendingBytes = 0, s.phase = '/'; }, "約 0 秒"},
  };
  for (const Case& c : cases) {
    CopyStatus status = copying();
    c.change(status);
    EXPECT_EQ(timeLeftText(copySecondsLeft(status)), c.expected) << c.name;
  }
}

TEST(CopyStatusText, TheLineCarriesRateRescuedBadAreasAndTheLastGoodRead) {
  CopyStatus status = copying();
  status.badAreas = 3;
  status.badBytes = 1536;
  status.secondsSinceGoodRead = 12.4;
  EXPECT_EQ(copyStatusText(status),
            "救出 400.0 / 1000.0 MiB  10.0 MiB/s  不良 3 箇所 (1.5 KiB)  "
            "最後の正常な読み取りから 12 秒  残り時間 不明");
}

}  // namespace
}  // namespace kestrix
