// The media header byte for byte, per volume kind.
#include "jobs/media_header_writer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "media/drive_error.h"
#include "media/memory_sector_device.h"
#include "media/raw_drive.h"
#include "media/test_files.h"

namespace kestrix {
namespace {

const std::string kSeparator = "/* ********************************************* */\r\n";

std::string headerOf(std::shared_ptr<test::MemoryDriveState> state, bool openForHeader = true) {
  RawDrive drive(std::make_unique<test::MemorySectorDevice>(state));
  EXPECT_EQ(drive.probe("/dev/sdb1"), kDriveOk);
  if (openForHeader) drive.open("/dev/sdb1");
  std::string text;
  const size_t end = writeMediaHeader(drive, text);
  EXPECT_EQ(end, text.size());
  return text;
}

TEST(MediaHeader, Fat16BlockFromTheBootSector) {
  auto state = std::make_shared<test::MemoryDriveState>();
  state->bytes.assign(4002 * 512, 0);
  auto boot = test::fat16BootSector(4002, 4);
  std::memcpy(state->bytes.data(), boot.data(), 512);
  EXPECT_EQ(headerOf(state), kSeparator +
                                 "タイプ:\t\t\t(/dev/sdb1)FAT16 \r\n"
                                 "クラスタ総数:\t\t1000 クラスタ\r\n"
                                 "セクタ数/クラスタ:\t\t4 セクタ\r\n"
                                 "バイト/セクタ:\t\t512 バイト\r\n"
                                 "メディアタイプ:\t\t0xF8\r\n"
                                 "FATの数:\t\t2 個\r\n"
                                 "ルートエントリー数:\t512 個\r\n"
                                 "FATサイズ:\t\t20 セクタ\r\n"
                                 "トラックサイズ:\t\t32 セクタ\r\n"
                                 "隠しセクタ数:\t\t0 セクタ\r\n"
                                 "予約セクタ数:\t\t4 セクタ\r\n\r\n"
                                 "シリアル番号:\t\tDEAD - BEEF\r\n"
                                 "ドライブ番号:\t\t80\r\n"
                                 "ラベル名:\t\t\tNO NAME    \r\n"
                                 "FATタイプ:\t\tFAT16   \r\n" +
                                 kSeparator);
}

TEST(MediaHeader, UnreadableBootSectorPrintsTheBlockFromZeroes) {
  auto state = std::make_shared<test::MemoryDriveState>();
  state->bytes.assign(2048 * 512, 0);
  auto boot = test::fat16BootSector(2048, 4);
  std::memcpy(state->bytes.data(), boot.data(), 512);
  // Closed drive: the boot sector cannot be read again.
  const std::string text = headerOf(state, false);
  EXPECT_NE(text.find("メディアタイプ:\t\t0x0\r\nFATの数:\t\t0 個\r\n"), std::string::npos);
  EXPECT_NE(text.find("シリアル番号:\t\t0000 - 0000\r\n"), std::string::npos);
  EXPECT_NE(text.find("ラベル名:\t\t\t           \r\n"), std::string::npos)
      << "zero bytes print as spaces";
  EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST(MediaHeader, NtfsCdfsAndOther) {
  auto ntfs = std::make_shared<test::MemoryDriveState>();
  ntfs->bytes.assign(1 << 20, 0);
  const uint8_t head[] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
  std::memcpy(ntfs->bytes.data(), head, sizeof head);
  ntfs->bytes[0x0C] = 2;
  ntfs->bytes[0x0D] = 8;
  ntfs->bytes[0x15] = 0xF8;
  ntfs->bytes[0x18] = 63;
  ntfs->bytes[0x28] = 0xFF;
  ntfs->bytes[0x29] = 0x07;  // 2047 sectors
  EXPECT_EQ(headerOf(ntfs), kSeparator +
                                "タイプ:\t\t\t(/dev/sdb1)NTFS \r\n"
                                "クラスタ総数:\t\t255 クラスタ\r\n"
                                "セクタ数/クラスタ:\t\t8 セクタ\r\n"
                                "バイト/セクタ:\t\t512 バイト\r\n"
                                "メディアタイプ:\t\t0xF8\r\n"
                                "トラックサイズ:\t\t63 セクタ\r\n" +
                                kSeparator);

  auto iso = std::make_shared<test::MemoryDriveState>();
  iso->bytes.assign(40 * 2048, 0);
  const uint8_t descriptor[] = {1, 'C', 'D', '0', '0', '1'};
  std::memcpy(iso->bytes.data() + 16 * 2048, descriptor, sizeof descriptor);
  EXPECT_EQ(headerOf(iso), kSeparator +
                               "タイプ:\t\t\t(/dev/sdb1)CDFS \r\n"
                               "クラスタ総数:\t\t40 クラスタ\r\n"
                               "セクタ数/クラスタ:\t\t1 セクタ\r\n"
                               "バイト/セクタ:\t\t2048 バイト\r\n" +
                               kSeparator);

  auto wiped = std::make_shared<test::MemoryDriveState>();
  wiped->bytes.assign(1 << 20, 0);
  EXPECT_EQ(headerOf(wiped), kSeparator +
                                 "タイプ:\t\t\t(/dev/sdb1)OTHER \r\n"
                                 "クラスタ総数:\t\t32 クラスタ\r\n"
                                 "セクタ数/クラスタ:\t\t64 セクタ\r\n"
                                 "バイト/セクタ:\t\t512 バイト\r\n" +
                                 kSeparator);
}

TEST(MediaHeader, Fat32BlockOfAMkfsVolume) {
  if (!test::haveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat not installed";
  test::TempFolder folder;
  const std::string path = folder.file("fat32");
  ASSERT_TRUE(test::makeFat(path, 32, 70000, 1));
  RawDrive drive;
  ASSERT_EQ(drive.probe(path), kDriveOk);
  ASSERT_TRUE(drive.open(path));
  std::string text;
  writeMediaHeader(drive, text);
  EXPECT_NE(text.find("(" + path + ")FAT32 \r\nクラスタ総数:\t\t140000 クラスタ\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("ルートエントリー数:\t0 個\r\nFATサイズ:\t\t0 セクタ\r\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("シリアル番号:\t\t1234 - ABCD\r\nドライブ番号:\t\t80\r\n"
                      "ラベル名:\t\t\tKXCARD     \r\nシステムID:\t\tFAT32   \r\n" +
                      kSeparator),
            std::string::npos)
      << text;
}

}  // namespace
}  // namespace kestrix
