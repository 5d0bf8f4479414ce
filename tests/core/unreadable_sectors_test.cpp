#include "core/unreadable_sectors.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kestrix {
namespace {

// A map of a 64 KiB card with bad bytes [8192, 9216) (sectors 16 and 17)
// and never-tried bytes from 32768 on.
RescueMap mapWithDamage() {
  RescueMap map = RescueMap::fresh(65536);
  map.set(0, 32768, BlockStatus::Finished);
  map.set(8192, 9216, BlockStatus::BadSector);
  return map;
}

TEST(UnreadableSectors, EveryFindGetsTheSectorsItOverlaps) {
  struct Row {
    const char* name;
    uint64_t start, end, expected;
  };
  const Row rows[] = {
      {"clean", 0, 8192, 0},
      {"ends inside the first bad sector", 4000, 8193, 1},
      {"holds both bad sectors", 8000, 10000, 2},
      {"starts in the last bad byte", 9215, 12000, 1},
      {"starts right after the damage", 9216, 20000, 0},
      {"runs into the unread end", 32000, 33000, 1},
      {"lies past the map's domain", 70000, 71024, 3},
  };
  const std::vector<uint8_t> image(71024, 0x11);
  CandidateList list;
  for (const Row& row : rows) {
    ASSERT_TRUE(list.addCandidate(row.name, image.data(), {FileType::Unknown, row.start, row.end}));
  }
  EXPECT_EQ(markUnreadableSectors(list, mapWithDamage()), 5);
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(list.candidateAt(static_cast<int32_t>(i) + 1)->unreadableSectors(), rows[i].expected)
        << rows[i].name;
  }
}

TEST(UnreadableSectors, UnreadBytesIncludeWhatAShortImageLacks) {
  const RescueMap map = mapWithDamage();
  EXPECT_EQ(unreadImageBytes(map, 65536), 1024u + 32768u);
  EXPECT_EQ(unreadImageBytes(map, 16384), 1024u + 32768u) << "the map's own end counts";
  EXPECT_EQ(unreadImageBytes(map, 70000), 1024u + 32768u + (70000u - 65536u));
}

TEST(UnreadableSectors, WarningRoundsUpToWholeMebibytes) {
  EXPECT_EQ(mebibytesRoundedUp(512), 1u);
  EXPECT_EQ(mebibytesRoundedUp(3u << 20), 3u);
  EXPECT_EQ(mebibytesRoundedUp((3u << 20) + 1), 4u);
}

class MapBeside : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrix-map-beside-XXXXXX";
    folder_ = mkdtemp(pattern);
  }
  void TearDown() override { std::system(("rm -rf '" + folder_ + "'").c_str()); }
  std::string file(const std::string& name, const std::string& text = "") const {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  std::string folder_;
};

TEST_F(MapBeside, EachImageHasItsOwnMapAndACopyUnderWayLeavesTheOldOneAlone) {
  const std::string image = folder_ + "/card.ksx";
  EXPECT_EQ(mapPathBeside(image), image + ".map");
  EXPECT_TRUE(loadMapBeside(image).path.empty()) << "no map there";
  file("card.ksx.map", mapWithDamage().format());
  ImageMapLoad found = loadMapBeside(image);
  ASSERT_TRUE(found.map) << found.error;
  EXPECT_EQ(found.map->unfinishedBytes(), 1024u + 32768u);

  // A new copy under way keeps its map beside its .part: the finished
  // image keeps its own.
  file("card.ksx.part");
  file("card.ksx.part.map", RescueMap::fresh(1 << 20).format());
  found = loadMapBeside(image);
  ASSERT_TRUE(found.map) << found.error;
  EXPECT_EQ(found.map->unfinishedBytes(), 1024u + 32768u) << "the finished image's own map";
  EXPECT_EQ(mapPathBeside(image + ".part"), image + ".part.map");
  found = loadMapBeside(image + ".part");
  ASSERT_TRUE(found.map) << found.error;
  EXPECT_EQ(found.map->unfinishedBytes(), 1u << 20);

  // A .part without one is a copy that kept its map in card.ksx.map: that
  // map describes the .part, not the image.
  std::filesystem::remove(image + ".part.map");
  EXPECT_EQ(mapPathBeside(image), "");
  EXPECT_FALSE(loadMapBeside(image).map);
  EXPECT_FALSE(loadMapBeside(image + ".part").map) << "nothing known";
}

TEST_F(MapBeside, AMapThatDoesNotParseIsFoundWithItsReason) {
  const std::string image = folder_ + "/card.ksx";
  file("card.ksx.map", "0 +\nnot a block line\n");
  const ImageMapLoad found = loadMapBeside(image);
  EXPECT_EQ(found.path, image + ".map");
  EXPECT_FALSE(found.map);
  EXPECT_FALSE(found.error.empty());
}

}  // namespace
}  // namespace kestrix
