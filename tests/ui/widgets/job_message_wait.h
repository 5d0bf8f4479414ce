// Waiting in a window test until the window has handled a job's message:
// `spy` watches MainWindow::jobMessageHandled.
#pragma once

#include <QSignalSpy>
#include <QTest>

#include "jobs/job_reporter.h"

namespace kestrix::test {

inline bool waitForJobMessage(QSignalSpy& spy, JobMessage message, int timeoutMs) {
  return QTest::qWaitFor(
      [&] {
        for (const QList<QVariant>& call : spy)
          if (call.at(0).toUInt() == static_cast<quint32>(message)) return true;
        return false;
      },
      timeoutMs);
}

}  // namespace kestrix::test
