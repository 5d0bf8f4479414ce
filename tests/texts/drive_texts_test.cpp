// The words for drives: the create-image command's message table and the
// drive box's line, kind names included.
#include "texts/drive_texts.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace kestrix {
namespace {

// The create-image command's table: three named codes, and the boot
// sector's sentence for every other one (end of medium, a passed-on errno).
TEST(JobTexts, DriveErrorsReadAsTheMessageTable) {
  struct Case {
    const char* name;
    uint32_t code;
    const char* expected;
  };
  const Case cases[] = {
      {"none", kDriveOk, ""},
      {"access denied", kDriveAccessDenied, "ドライブへのアクセスが拒否されました。"},
      {"wrong drive", kDriveInvalid, "ドライブが間違っています。"},
      {"not ready", kDriveNotReady, "ドライブの準備ができていません。"},
      {"end of medium", kDriveEndOfMedium, "ディスクのブートセクタを読み取ることができません。"},
      {"other errno", driveErrorFromErrno(EIO),
       "ディスクのブートセクタを読み取ることができません。"},
  };
  for (const Case& c : cases) EXPECT_STREQ(driveErrorText(c.code), c.expected) << c.name;
}

TEST(DriveTexts, EntryLineFromPathKindSizeAndModel) {
  struct Case {
    const char* name;
    DriveEntry entry;
    const char* expected;
  };
  const Case cases[] = {
      {"card reader",
       {"sdb1", "/dev/sdb1", DriveType::Removable, 7948206080, "SD Card"},
       "/dev/sdb1(リムーバブル) 7.4 GB SD Card"},
      {"empty optical drive: no size",
       {"sr0", "/dev/sr0", DriveType::Cdrom, 0, ""},
       "/dev/sr0(CD-ROM)"},
      {"no model",
       {"loop1", "/dev/loop1", DriveType::Fixed, 1048576, ""},
       "/dev/loop1(固定Disk) 1.0 MB"},
      {"unknown kind", {"x", "/dev/x", DriveType::Unknown, 0, ""}, "/dev/x(不明)"},
      {"no root folder", {"x", "/dev/x", DriveType::NoRootDir, 0, ""}, "/dev/x(無効)"},
      {"code outside the table",
       {"x", "/dev/x", static_cast<DriveType>(99), 0, ""},
       "/dev/x(無効)"},
  };
  for (const Case& c : cases) EXPECT_EQ(driveEntryText(c.entry), c.expected) << c.name;
}

}  // namespace
}  // namespace kestrix
