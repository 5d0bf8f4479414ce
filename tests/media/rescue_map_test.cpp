// The rescue map: parsing (ours and GNU ddrescue's), refusing malformed
// text, keeping its invariants under any sequence of updates, the scan's
// questions, and the round trip through ddrescue's own tools when installed.
#include "media/rescue_map.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "media/test_files.h"

namespace kestrix {
namespace {

std::string blocksText(const RescueMap& map) {
  std::string out;
  map.forEachBlock([&](const MapBlock& b) {
    out += std::to_string(b.pos) + "+" + std::to_string(b.size) + static_cast<char>(b.status) + " ";
  });
  return out;
}

TEST(RescueMap, ParsesOursAndDdrescuesMaps) {
  struct Case {
    const char* name;
    const char* text;
    const char* blocks;
    char phase;
    uint32_t pass;
  };
  const Case cases[] = {
      {"ddrescue 1.27, finished",
       "# Mapfile. Created by GNU ddrescue version 1.27\n# Command line: ddrescue a b c\n"
       "# current_pos  current_status  current_pass\n0x000F0000     +               1\n"
       "#      pos        size  status\n0x00000000  0x00100000  +\n",
       "0+1048576+ ", '+', 1},
      {"old status line without the pass, CR LF, blank lines",
       "# Rescue Logfile\r\n\r\n0x00000400 /\r\n0x0 0x200 +\r\n0x200 0x400 -\r\n0x600 0x200 ?\r\n",
       "0+512+ 512+1024- 1536+512? ", '/', 1},
      {"decimal and octal numbers", "0 ? 3\n0 1024 +\n02000 512 *\n", "0+1024+ 1024+512* ", '?', 3},
      {"ddrescue's fill mode status", "0 F 1\n0 512 +\n", "0+512+ ", '?', 1},
      {"every block status", "0 - 2\n0 1 ?\n1 1 *\n2 1 /\n3 1 -\n4 1 +\n",
       "0+1? 1+1* 2+1/ 3+1- 4+1+ ", '-', 2},
      {"neighbours of one status merge", "0 ? 1\n0 512 +\n512 512 +\n", "0+1024+ ", '?', 1},
      {"an empty domain", "0 + 1\n0 0 ?\n", "", '+', 1},
      {"a domain that starts later", "0 ? 1\n4096 512 +\n", "4096+512+ ", '?', 1},
      {"an area ending at the largest position", "0 + 1\n1 0x7FFFFFFFFFFFFFFE +\n",
       "1+9223372036854775806+ ", '+', 1},
  };
  for (const Case& c : cases) {
    std::string error;
    auto map = RescueMap::parse(c.text, &error);
    ASSERT_TRUE(map) << c.name << ": " << error;
    EXPECT_EQ(blocksText(*map), c.blocks) << c.name;
    EXPECT_EQ(static_cast<char>(map->phase), c.phase) << c.name;
    EXPECT_EQ(map->pass, c.pass) << c.name;
  }
}

TEST(RescueMap, RefusesMalformedText) {
  struct Case {
    const char* name;
    std::string text;
    const char* reason;
  };
  const Case cases[] = {
      {"no status line", "# only comments\n", "no status line"},
      {"empty text", "", "no status line"},
      {"bad status character", "0 ? 1\n0 512 x\n", "line 2: bad block line"},
      {"overlapping blocks", "0 ? 1\n0 1024 +\n512 512 -\n", "line 3: block does not start"},
      {"a gap between blocks", "0 ? 1\n0 512 +\n1024 512 -\n", "line 3: block does not start"},
      {"blocks out of order", "0 ? 1\n1024 512 +\n0 512 -\n", "line 3: block does not start"},
      {"position past 2^63", "0 ? 1\n0x8000000000000000 1 +\n", "line 2: bad block line"},
      {"pos + size past 2^63", "0 ? 1\n0x7FFFFFFFFFFFFFFF 2 +\n", "line 2: block reaches past"},
      {"pos + size one past the largest position", "0 ? 1\n1 0x7FFFFFFFFFFFFFFF +\n",
       "line 2: block reaches past"},
      {"pos and size each the largest", "0 ? 1\n0x7FFFFFFFFFFFFFFF 0x7FFFFFFFFFFFFFFF +\n",
       "line 2: block reaches past"},
      {"size one past 2^64 in octal", "0 ? 1\n0 02000000000000000000000 +\n",
       "line 2: bad block line"},
      {"size 2^63 in octal", "0 ? 1\n0 01000000000000000000000 +\n", "line 2: bad block line"},
      {"an octal area ending one past the largest position", "0 +\n1 0777777777777777777777 +\n",
       "line 2: block reaches past"},
      {"position 2^63 in decimal", "0 ? 1\n9223372036854775808 1 +\n", "line 2: bad block line"},
      {"status position past 2^63", "0x8000000000000000 ? 1\n", "line 1: bad status line"},
      {"device size past 2^63", "# kestrix-device-size: 01000000000000000000000\n0 ? 1\n",
       "line 1: bad device size"},
      {"negative size", "0 ? 1\n0 -512 +\n", "line 2: bad block line"},
      {"extra word", "0 ? 1\n0 512 + x\n", "line 2: bad block line"},
      {"hex digits without 0x", "0 ? 1\n0 1F +\n", "line 2: bad block line"},
      {"a 9 in an octal number", "0 ? 1\n0 09 +\n", "line 2: bad block line"},
      {"bare 0x", "0 ? 1\n0x 512 +\n", "line 2: bad block line"},
      {"bad status line", "0 Q 1\n", "line 1: bad status line"},
      {"bad device size comment", "# kestrix-device-size: lots\n0 ? 1\n",
       "line 1: bad device size"},
      {"a line too long", "0 ? 1\n" + std::string(5000, ' ') + "0 1 +\n", "line 2: line too long"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(RescueMap::parse(c.text, &error)) << c.name;
    EXPECT_EQ(error.rfind(c.reason, 0), 0u) << c.name << ": " << error;
  }
}

TEST(RescueMap, UpdatesKeepTheInvariantsOfAByteModel) {
  // Random updates against one status per byte: the map must describe the
  // same bytes, without gaps, empty blocks or equal neighbours.
  std::mt19937 random(13);
  const BlockStatus statuses[] = {BlockStatus::NonTried, BlockStatus::NonTrimmed,
                                  BlockStatus::NonScraped, BlockStatus::BadSector,
                                  BlockStatus::Finished};
  for (int round = 0; round < 50; ++round) {
    const uint64_t size = 1 + random() % 3000;
    RescueMap map = RescueMap::fresh(size);
    std::vector<BlockStatus> model(size, BlockStatus::NonTried);
    for (int step = 0; step < 60; ++step) {
      uint64_t a = random() % size, b = random() % (size + 1);
      if (a > b) std::swap(a, b);
      const BlockStatus status = statuses[random() % 5];
      map.set(a, b, status);
      for (uint64_t i = a; i < b; ++i) model[i] = status;
    }
    uint64_t expected = 0;
    BlockStatus previous = BlockStatus::NonTried;
    bool first = true;
    map.forEachBlock([&](const MapBlock& block) {
      ASSERT_EQ(block.pos, expected) << "no gaps";
      ASSERT_GT(block.size, 0u) << "no empty blocks";
      if (!first) {
        ASSERT_NE(block.status, previous) << "neighbours merged";
      }
      for (uint64_t i = block.pos; i < block.end(); ++i)
        ASSERT_EQ(model[i], block.status) << "byte " << i;
      expected = block.end();
      previous = block.status;
      first = false;
    });
    ASSERT_EQ(expected, size);
    const uint64_t a = random() % size, b = a + random() % (size - a + 1);
    uint64_t bytes = 0;
    std::vector<bool> sector((size + 511) / 512 + 1, false);
    for (uint64_t i = a; i < b; ++i) {
      if (model[i] != BlockStatus::Finished) ++bytes, sector[i / 512] = true;
    }
    EXPECT_EQ(map.unfinishedBytes(a, b), bytes);
    EXPECT_EQ(map.unfinishedSectors(a, b),
              static_cast<uint64_t>(std::count(sector.begin(), sector.end(), true)));
    auto again = RescueMap::parse(map.format());
    ASSERT_TRUE(again);
    EXPECT_EQ(blocksText(*again), blocksText(map)) << "format and parse round trip";
  }
}

TEST(RescueMap, ARangeMarkedFinishedHasNothingUnfinished) {
  // set() keeps the domain below the largest position; the questions must
  // end there too, or a range reaching past it stays "unfinished" for ever.
  struct Case {
    const char* name;
    const char* text;
    uint64_t begin, end;
  };
  const uint64_t top = RescueMap::kMaximumPosition;
  const Case cases[] = {
      {"inside the domain", "0 ? 1\n0 8192 ?\n", 1000, 5000},
      {"past the domain's end", "0 ? 1\n0 8192 -\n", 4096, 20000},
      {"up to the largest position", "0 ? 1\n0 8192 ?\n", 0, top},
      {"past the largest position", "0 ? 1\n0 8192 ?\n", 4096, UINT64_MAX},
      // Found by fuzz/rescuemap: an area ending 2055 bytes below 2^63, then
      // the fuzzer's half-to-end-plus-4096 range.
      {"the fuzzer's map near 2^63", "0 +\n1 0777777777777777773770 +\n", 4611686018427386877u,
       9223372036854773753u + 4096},
  };
  for (const Case& c : cases) {
    auto map = RescueMap::parse(c.text);
    ASSERT_TRUE(map) << c.name;
    map->set(c.begin, c.end, BlockStatus::Finished);
    EXPECT_EQ(map->unfinishedBytes(c.begin, c.end), 0u) << c.name;
    EXPECT_EQ(map->unfinishedSectors((c.begin + 511) / 512 * 512, c.end / 512 * 512), 0u) << c.name;
    EXPECT_LE(map->domainEnd(), top) << c.name;
  }
}

TEST(RescueMap, AnswersTheScansQuestions) {
  // 0-4095 finished, 4096-4351 bad (half a sector), 4352-8191 finished,
  // 8192-9215 non-tried, then the domain ends at 9216.
  auto map = RescueMap::parse("0 ? 1\n0 4096 +\n4096 256 -\n4352 3840 +\n8192 1024 ?\n");
  ASSERT_TRUE(map);
  struct Case {
    const char* name;
    uint64_t begin, end, sectors, bytes;
  };
  const Case cases[] = {
      {"all finished", 0, 4096, 0, 0},
      {"a half-bad sector counts whole", 4000, 4600, 1, 256},
      {"the bad part alone", 4096, 4352, 1, 256},
      {"finished half of the same sector", 4352, 4608, 0, 0},
      {"non-tried sectors", 8192, 9216, 2, 1024},
      {"past the domain counts as unread", 9216, 10240, 2, 1024},
      {"a range ending inside a sector", 8192, 8193, 1, 1},
      {"everything", 0, 10240, 5, 256 + 1024 + 1024},
      {"an empty range", 5000, 5000, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(map->unfinishedSectors(c.begin, c.end), c.sectors) << c.name;
    EXPECT_EQ(map->unfinishedBytes(c.begin, c.end), c.bytes) << c.name;
  }
  EXPECT_EQ(map->unfinishedBytes(), 256u + 1024);
  EXPECT_EQ(map->blocksWith(BlockStatus::BadSector), 1u);
  EXPECT_FALSE(map->onlyBadSectorsLeft());
}

TEST(RescueMap, SavesAtomicallyWithTheDeviceInComments) {
  test::TempFolder folder;
  const std::string path = folder.file("card.ksx.map");
  RescueMap map = RescueMap::fresh(1 << 20);
  map.set(0, 4096, BlockStatus::Finished);
  map.device = {"/dev/sdb\nevil", 1 << 20, "block:serial=1234"};
  ASSERT_EQ(map.save(path), 0);
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  auto loaded = RescueMap::load(path);
  ASSERT_TRUE(loaded.map) << loaded.error;
  EXPECT_EQ(loaded.map->device.path, "/dev/sdb?evil")
      << "a control character never splits the comment";
  EXPECT_EQ(loaded.map->device.size, uint64_t{1} << 20);
  EXPECT_EQ(loaded.map->device.id, "block:serial=1234");
  EXPECT_EQ(blocksText(*loaded.map), blocksText(map));
  EXPECT_FALSE(RescueMap::load(folder.file("none")).map);
  EXPECT_EQ(map.save(folder.file("no/such/folder/x.map")), ENOENT);
}

bool haveDdrescue() { return std::system("command -v ddrescuelog >/dev/null 2>&1") == 0; }

std::string commandOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    pclose(pipe);
  }
  return out;
}

TEST(RescueMap, DdrescuelogReadsOurMaps) {
  if (!haveDdrescue()) GTEST_SKIP() << "ddrescuelog not installed (Debian package gddrescue)";
  test::TempFolder folder;
  const std::string path = folder.file("card.ksx.map");
  RescueMap map = RescueMap::fresh(64 * 512);
  map.set(0, 10 * 512, BlockStatus::Finished);
  map.set(10 * 512, 12 * 512, BlockStatus::BadSector);
  map.set(12 * 512, 20 * 512, BlockStatus::NonScraped);
  map.set(20 * 512, 40 * 512, BlockStatus::Finished);
  map.set(40 * 512, 41 * 512, BlockStatus::BadSector);
  map.device = {"/dev/sdb", 64 * 512, "block:serial=1"};
  ASSERT_EQ(map.save(path), 0);
  EXPECT_EQ(commandOutput("ddrescuelog -l- '" + path + "'"), "10\n11\n40\n");
  EXPECT_EQ(commandOutput("ddrescuelog -l/ '" + path + "' | wc -l"), "8\n");
  EXPECT_EQ(commandOutput("ddrescuelog -l? '" + path + "' | head -1"), "41\n");
  EXPECT_NE(std::system(("ddrescuelog -D '" + path + "' >/dev/null 2>&1").c_str()), 0)
      << "not done";
}

TEST(RescueMap, TakesMapsWrittenByDdrescue) {
  if (!haveDdrescue()) GTEST_SKIP() << "ddrescue not installed (Debian package gddrescue)";
  test::TempFolder folder;
  const std::string source = folder.file("card.img"), copy = folder.file("copy.img"),
                    path = folder.file("copy.map");
  test::writeFile(source, std::vector<uint8_t>(300000, 0x5A));
  ASSERT_EQ(std::system(("ddrescue -q '" + source + "' '" + copy + "' '" + path + "'").c_str()), 0);
  auto loaded = RescueMap::load(path);
  ASSERT_TRUE(loaded.map) << loaded.error;
  EXPECT_EQ(loaded.map->domainEnd(), 300000u);
  EXPECT_EQ(loaded.map->unfinishedBytes(), 0u);
  EXPECT_EQ(loaded.map->phase, RescuePhase::Done);

  // ddrescue cannot be made to fail reads here: a map in its format with bad
  // and unread areas, made by ddrescuelog itself from a list of bad sectors.
  const std::string list = folder.file("bad.txt"), crafted = folder.file("crafted.map");
  test::writeFile(list, {'3', '\n', '4', '\n', '9', '\n'});
  ASSERT_EQ(std::system(("ddrescuelog -q -s 6144 -c-+ '" + crafted + "' < '" + list + "'").c_str()),
            0);
  loaded = RescueMap::load(crafted);
  ASSERT_TRUE(loaded.map) << loaded.error;
  EXPECT_EQ(blocksText(*loaded.map), "0+1536+ 1536+1024- 2560+2048+ 4608+512- 5120+1024+ ");
  EXPECT_EQ(loaded.map->unfinishedSectors(0, 6144), 3u);
}

}  // namespace
}  // namespace kestrix
