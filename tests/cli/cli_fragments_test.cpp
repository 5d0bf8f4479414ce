// A split photo on a raw card, as the user meets it: scan --check lists it
// once, reassembled (the pieces in the JSON, 再構成 beside the verdict),
// restore writes it byte for byte, and the signature rules list what they
// always listed.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "cli_test_support.h"

namespace {

using kestrix::test::cli;
using kestrix::test::readFile;
using kestrix::test::run;
using kestrix::test::ScratchFolder;

const std::string kData = KESTRIX_SOURCE_DIR "/tests/data/jpeg/";

// `restore --check` of the folder's card.img into a new folder "out" in it;
// empty when it fails.
std::string restoreChecked(const ScratchFolder& folder) {
  const std::string out = folder.file("out");
  if (run("mkdir '" + out + "'").exitCode != 0) return {};
  const auto restore =
      run(cli() + " restore '" + folder.file("card.img") + "' '" + out + "' --check");
  EXPECT_EQ(restore.exitCode, 0) << restore.out;
  return restore.exitCode == 0 ? out : std::string();
}

class CliFragments : public ::testing::Test {
 protected:
  void SetUp() override {
    whole_ = readFile(kData + "cjpeg_600x400.jpg");
    split_ = readFile(kData + "cjpeg_640x480.jpg");
    ASSERT_FALSE(whole_.empty() || split_.empty());
    // The whole photo, padded to 4 KiB; the split one's first 20 sectors,
    // 4 KiB of a text file, the rest of it, padded; old data.
    std::string card = whole_;
    card.resize(4096 * ((card.size() + 4095) / 4096), '\x5a');
    splitStart_ = card.size();
    card += split_.substr(0, kCut);
    while (card.size() < splitStart_ + kCut + 4096) card += "Shopping list: eggs, milk, bread.\n";
    card.resize(splitStart_ + kCut + 4096);
    restStart_ = card.size();
    card += split_.substr(kCut);
    std::mt19937 random(3);
    while (card.size() % 512 != 0 || card.size() < restStart_ + split_.size() - kCut + 2048) {
      card += static_cast<char>(random());
    }
    std::ofstream(folder_.file("card.img"), std::ios::binary) << card;
  }

  static constexpr size_t kCut = 20 * 512;
  ScratchFolder folder_;
  std::string whole_;
  std::string split_;
  size_t splitStart_ = 0;
  size_t restStart_ = 0;
};

TEST_F(CliFragments, ScanListsTheSplitPhotoOnceWithItsPieces) {
  const auto json = run(cli() + " scan '" + folder_.file("card.img") + "' --check --json");
  ASSERT_EQ(json.exitCode, 0);
  const std::string pieces = "\"fragments\": [[" + std::to_string(splitStart_) + ", " +
                             std::to_string(splitStart_ + kCut) + "], [" +
                             std::to_string(restStart_) + ", " +
                             std::to_string(restStart_ + split_.size() - kCut) + "]]";
  EXPECT_NE(json.out.find(pieces), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"size\": " + std::to_string(split_.size())), std::string::npos)
      << json.out;
  // Two rows: the whole photo (no pieces) and the joined one.
  EXPECT_EQ(json.out.find("\"fragments\""), json.out.rfind("\"fragments\""));
  EXPECT_EQ(json.out.find("\"verdict\": \"damaged\""), std::string::npos) << json.out;

  const auto text = run(cli() + " scan '" + folder_.file("card.img") + "' --check");
  ASSERT_EQ(text.exitCode, 0);
  EXPECT_NE(text.out.find("\tintact 再構成\t640\t480\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\tintact\t600\t400\n"), std::string::npos) << text.out;
}

TEST_F(CliFragments, RestoreWritesThePiecesJoined) {
  const std::string out = restoreChecked(folder_);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(readFile(out + "/00000000.jpg"), whole_);
  EXPECT_EQ(readFile(out + "/00000001.jpg"), split_);
}

TEST_F(CliFragments, SignatureRulesListWhatTheyAlwaysListed) {
  const auto text =
      run(cli() + " scan '" + folder_.file("card.img") + "' --signature-rules --check --json");
  ASSERT_EQ(text.exitCode, 0);
  EXPECT_EQ(text.out.find("fragments"), std::string::npos) << text.out;
}

// A camera photo carries a small JPEG in its EXIF block. While the photo is
// broken the thumbnail is a find of its own (the picture the user may
// otherwise lose); once the photo is joined it is held by a verified file,
// as in any whole photo: not listed in the normal mode, listed with the
// joined photo as its parent in the split mode.
class CliFragmentsThumbnail : public ::testing::Test {
 protected:
  void SetUp() override {
    if (run("command -v convert && command -v exiftool").exitCode != 0)
      GTEST_SKIP() << "needs convert and exiftool";
    const std::string photo = folder_.file("photo.jpg");
    const std::string thumb = folder_.file("thumb.jpg");
    const std::string other = folder_.file("other.jpg");
    ASSERT_EQ(run("convert -seed 4 -size 640x480 plasma:fractal -quality 85 '" + photo +
                  "' && "
                  "convert -seed 5 -size 160x120 plasma:fractal -quality 80 '" +
                  thumb +
                  "' && "
                  "convert -seed 9 -size 320x240 plasma:fractal -quality 85 '" +
                  other +
                  "' && "
                  "exiftool -q -overwrite_original -JFIF:all= '" +
                  thumb +
                  "' && "
                  "exiftool -q -overwrite_original -Make=Kestrix '-ThumbnailImage<=" +
                  thumb + "' '" + photo + "'")
                  .exitCode,
              0);
    split_ = readFile(photo);
    other_ = readFile(other);
    ASSERT_GT(split_.size(), kCut + 4096);
    // The photo's first 40 sectors, another photo (whose markers end the
    // scan's walk of the first: it holds nothing), then the rest.
    std::string card = split_.substr(0, kCut) + other_;
    card.resize((card.size() + 511) / 512 * 512, '\x5a');
    card += split_.substr(kCut);
    std::mt19937 random(5);
    while (card.size() % 512 != 0 || card.size() < split_.size() + other_.size() + 2048) {
      card += static_cast<char>(random());
    }
    std::ofstream(folder_.file("card.img"), std::ios::binary) << card;
  }

  static constexpr size_t kCut = 40 * 512;  // past the EXIF block and its thumbnail
  ScratchFolder folder_;
  std::string split_;
  std::string other_;
};

TEST_F(CliFragmentsThumbnail, IsHeldByTheJoinedPhoto) {
  const auto normal = run(cli() + " scan '" + folder_.file("card.img") + "' --check --json");
  ASSERT_EQ(normal.exitCode, 0);
  EXPECT_NE(normal.out.find("\"fragments\""), std::string::npos) << normal.out;
  EXPECT_EQ(normal.out.find("\"name\": \"00000001.jpg\""), std::string::npos) << normal.out;

  const auto split = run(cli() + " scan '" + folder_.file("card.img") + "' --check --split --json");
  ASSERT_EQ(split.exitCode, 0);
  EXPECT_NE(split.out.find("\"name\": \"00000001.jpg\""), std::string::npos) << split.out;
  EXPECT_NE(split.out.find("\"parent\": \"00000000.jpg\""), std::string::npos) << split.out;

  const std::string out = restoreChecked(folder_);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(readFile(out + "/00000000.jpg"), split_);
  EXPECT_EQ(readFile(out + "/00000002.jpg"), other_);
  EXPECT_EQ(run("ls '" + out + "' | wc -l").out, "2\n");
}

}  // namespace
