#include "jobs/recovery_job.h"

#include <gtest/gtest.h>

#include "job_test_support.h"

namespace kestrix::test {
namespace {

// Runs the body on the test's own thread.
class DirectRecoveryJob : public RecoveryJob {
 public:
  using RecoveryJob::run;
};

TEST(RecoveryJob, UnknownKindReturnsOneWithoutAMessage) {
  RecordingReporter reporter;
  DirectRecoveryJob job;
  job.setReporter(&reporter);
  job.setJobKind(0x1FF);
  EXPECT_EQ(job.run(), 1);
  EXPECT_TRUE(reporter.messages.empty());
}

// The window disables its buttons until the end message; a job with no list
// must still send it.
struct NoListCase {
  const char* name;
  int32_t kind;
  JobMessage end;
};

class RecoveryJobWithoutList : public ::testing::TestWithParam<NoListCase> {};

TEST_P(RecoveryJobWithoutList, StillPostsItsEndMessageWithZero) {
  RecordingReporter reporter;
  DirectRecoveryJob job;
  job.setReporter(&reporter);
  job.setJobKind(GetParam().kind);
  EXPECT_EQ(job.run(), 0);
  EXPECT_EQ(reporter.messages,
            (std::vector<std::pair<JobMessage, uint64_t>>{{GetParam().end, 0}}));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RecoveryJobWithoutList,
    ::testing::Values(
        NoListCase{"Restore", RecoveryJob::KindRestore, JobMessage::RestoreEnded},
        NoListCase{"Preview", RecoveryJob::KindPreview, JobMessage::PreviewEnded}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrix::test
