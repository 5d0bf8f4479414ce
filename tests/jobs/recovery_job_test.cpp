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
  job.setJobKind(static_cast<RecoveryJob::Kind>(0x1FF));
  EXPECT_EQ(job.run(), 1);
  EXPECT_TRUE(reporter.messages.empty());
}

// The window disables its buttons until the end message; a job with no list
// must still send it.
struct NoListCase {
  const char* name;
  RecoveryJob::Kind kind;
  JobMessage end;
};

class RecoveryJobWithoutList : public ::testing::TestWithParam<NoListCase> {};

TEST_P(RecoveryJobWithoutList, StillPostsItsEndMessageWithZero) {
  RecordingReporter reporter;
  DirectRecoveryJob job;
  job.setReporter(&reporter);
  job.setJobKind(GetParam().kind);
  EXPECT_EQ(job.run(), 0);
  EXPECT_EQ(reporter.messages, (std::vector<std::pair<JobMessage, uint64_t>>{{GetParam().end, 0}}));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RecoveryJobWithoutList,
    ::testing::Values(NoListCase{"Restore", RecoveryJob::Kind::Restore, JobMessage::RestoreEnded},
                      NoListCase{"Preview", RecoveryJob::Kind::Preview, JobMessage::PreviewEnded}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecoveryJob, OpeningTheSameFileAgainKeepsItsMappingAndAnotherFileReplacesIt) {
  ScratchFolder scratch;
  writeFile(scratch.file("card.img"), "first card");
  ASSERT_EQ(link(scratch.file("card.img").c_str(), scratch.file("CARD.IMG").c_str()), 0);
  writeFile(scratch.file("other.img"), "second card");
  RecoveryJob job;
  ASSERT_EQ(job.openImage(scratch.file("card.img")), LoadStatus::Loaded);
  const ImageFile* first = job.image();
  // Another spelling of the same file: the rows viewing it stay valid.
  ASSERT_EQ(job.openImage(scratch.file("CARD.IMG")), LoadStatus::Loaded);
  EXPECT_EQ(job.image(), first);
  ASSERT_EQ(job.openImage(scratch.file("other.img")), LoadStatus::Loaded);
  EXPECT_EQ(job.image()->size(), 11u);
  EXPECT_EQ(job.openImage(scratch.file("missing.img")), LoadStatus::NotFound);
  job.releaseImage();
  EXPECT_EQ(job.image(), nullptr);
}

TEST(RecoveryJob, ScanRestoreAndThumbnailsEachHaveTheirOwnEngines) {
  FakeHost fake;
  ScratchFolder scratch;
  std::unique_ptr<ImageFile> image = openContent(scratch.file("card.img"), "..[[a]]..");
  ASSERT_TRUE(image);
  EngineSet restore = fake.host.createEngineSet();
  EngineSet thumbnails = fake.host.createEngineSet();
  ASSERT_NE(restore.engineFor(".aaa"), nullptr);
  ASSERT_NE(thumbnails.engineFor(".aaa"), nullptr);
  EXPECT_NE(restore.engineFor(".aaa"), thumbnails.engineFor(".aaa"));
  EXPECT_NE(restore.engineFor(".aaa"), fake.host.EngineFor(".aaa"));
  // Binding one leaves the other as it was.
  restore.engineFor(".aaa")->Attach(image->data(), 9, 0, ".aaa", 256);
  uint64_t size = 0;
  EXPECT_EQ(restore.engineFor(".aaa")->FindNext(0, 0, &size, ".aaa"), 7u);
  EXPECT_EQ(size, 5u);
  thumbnails.engineFor(".aaa")->FindNext(0, 0, &size, ".aaa");
  EXPECT_EQ(size, 0u);  // nothing bound there
}

}  // namespace
}  // namespace kestrix::test
