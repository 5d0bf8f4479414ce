#include "jobs/job_reporter.h"

namespace kestrix {

namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

}  // namespace

JobMessage messageOf(const JobReport& report) {
  return std::visit(Overloaded{
                        [](const report::ScanEnded&) { return JobMessage::ScanEnded; },
                        [](const report::CopyNotice&) { return JobMessage::CopyNotice; },
                        [](const report::CopyEnded&) { return JobMessage::CopyEnded; },
                        [](const report::RestoreEnded&) { return JobMessage::RestoreEnded; },
                        [](const report::PreviewEnded&) { return JobMessage::PreviewEnded; },
                    },
                    report);
}

uint64_t protocolValueOf(const JobReport& report) {
  return std::visit(
      Overloaded{
          [](const report::ScanEnded& ended) { return ended.rowsAdded; },
          [](const report::CopyNotice& notice) { return uint64_t{notice.code}; },
          [](const report::CopyEnded& ended) { return uint64_t{ended.finished ? 1u : 0u}; },
          [](const report::RestoreEnded& ended) { return uint64_t{ended.filesWritten}; },
          [](const report::PreviewEnded& ended) {
            return ended.row < 0 ? uint64_t{0} : static_cast<uint64_t>(ended.row) + 1;
          },
      },
      report);
}

bool isCopyNotice(uint64_t value) {
  for (const CopyNoticeCode code : kCopyNoticeCodes) {
    if (value == code) return true;
  }
  return false;
}

}  // namespace kestrix
