// The copy's image writer never writes through a name planted where the
// image goes, never writes into anything but a regular file, and puts bytes
// at their own offsets.
#include "jobs/image_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "media/test_files.h"

namespace kestrix {
namespace {

TEST(ImageWriter, NeverWritesThroughAPlantedName) {
  struct Case {
    const char* name;
    bool hardLink;
  };
  for (const Case& c :
       {Case{"a symbolic link to the source", false}, Case{"a hard link to the source", true}}) {
    test::TempFolder folder;
    const std::string source = folder.file("card.img"), part = folder.file("card.ksx.part");
    test::writeFile(source, std::vector<uint8_t>(4096, 0x5A));
    if (c.hardLink)
      ASSERT_EQ(link(source.c_str(), part.c_str()), 0);
    else
      ASSERT_EQ(symlink(source.c_str(), part.c_str()), 0);
    ImageWriter writer;
    ASSERT_EQ(writer.create(part), 0) << c.name;
    size_t written = 0;
    ASSERT_EQ(writer.writeAt(0, "new", 3, &written), 0);
    writer.close();
    EXPECT_EQ(test::readFile(source), std::vector<uint8_t>(4096, 0x5A)) << c.name;
    EXPECT_EQ(test::readFile(part).size(), 3u) << c.name;
    EXPECT_FALSE(std::filesystem::is_symlink(part)) << c.name;
  }
}

TEST(ImageWriter, OpenExistingRefusesLinksAndDevices) {
  test::TempFolder folder;
  const std::string target = folder.file("target"), link = folder.file("link");
  test::writeFile(target, {1, 2, 3});
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  ImageWriter writer;
  EXPECT_EQ(writer.openExisting(link), ELOOP);
  EXPECT_EQ(writer.openExisting("/dev/null"), EINVAL) << "a device is never an image";
  EXPECT_EQ(writer.openExisting(folder.file("missing")), ENOENT);
  EXPECT_FALSE(writer.isOpen());
}

TEST(ImageWriter, WritesAtOffsetsKeepsWhatIsThereAndGrowsOnFinish) {
  test::TempFolder folder;
  const std::string path = folder.file("card.ksx.part");
  test::writeFile(path, std::vector<uint8_t>(1024, 0x11));
  ImageWriter writer;
  ASSERT_EQ(writer.openExisting(path), 0);
  size_t written = 0;
  ASSERT_EQ(writer.writeAt(2048, "\x22\x22", 2, &written), 0);
  EXPECT_EQ(written, 2u);
  ASSERT_EQ(writer.finish(4096), 0);
  const auto bytes = test::readFile(path);
  ASSERT_EQ(bytes.size(), 4096u);
  EXPECT_EQ(bytes[0], 0x11) << "a resume keeps what an earlier run wrote";
  EXPECT_EQ(bytes[1500], 0) << "the hole between reads zero bytes";
  EXPECT_EQ(bytes[2049], 0x22);
  EXPECT_EQ(writer.writeAt(0, "x", 1, &written), EBADF) << "closed by finish";
}

}  // namespace
}  // namespace kestrix
