// The scan and the rescue map: a demo card copied by GNU ddrescue with
// simulated bad sectors inside one photo (its test mode reads only what a
// given map marks good), then scanned by kestrix-cli with that map.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "cli_test_support.h"

namespace {

using kestrix::test::cli;
using kestrix::test::CommandRun;
using kestrix::test::readFile;
using kestrix::test::run;

constexpr uint64_t kCardBytes = 40u << 20;  // what make-demo-card.sh writes

// The value after "key": in the JSON line of the row `name`; "" when the
// row or the key is missing.
std::string jsonValue(const std::string& listing, const std::string& name, const std::string& key) {
  const size_t row = listing.find("{\"name\": \"" + name + "\"");
  if (row == std::string::npos) return "";
  const std::string line = listing.substr(row, listing.find('\n', row) - row);
  const size_t at = line.find("\"" + key + "\": ");
  if (at == std::string::npos) return "";
  const size_t begin = at + key.size() + 4;
  return line.substr(begin, line.find_first_of(",}", begin) - begin);
}

class CliRescueMap : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/kestrix-cli-map-XXXXXX";
    folder_ = mkdtemp(pattern);
    toolsPresent_ = run("command -v convert && command -v exiftool && command -v mkfs.vfat && "
                        "command -v mcopy && command -v ddrescue")
                        .exitCode == 0;
    if (!toolsPresent_) return;
    ready_ = run(std::string(KESTRIX_SOURCE_DIR) + "/scripts/make-demo-card.sh " + card() + " " +
                 folder_ + "/originals >/dev/null 2>&1")
                 .exitCode == 0;
    if (!ready_) return;
    const CommandRun scan = run(cli() + " scan --signature-rules --json " + card());
    photoStart_ = std::stoull("0" + jsonValue(scan.out, "00000001.jpg", "start"));
    // Two bad sectors 4 KiB into the second photo, one more in free space
    // near the card's end; ddrescue's test mode fails exactly those reads.
    const uint64_t bad = photoStart_ + 4096, spare = kCardBytes - 8192;
    std::ofstream(folder_ + "/test.map")
        << "0 +\n0 " << bad << " +\n"
        << bad << " 1024 -\n"
        << bad + 1024 << " " << spare - bad - 1024 << " +\n"
        << spare << " 512 -\n"
        << spare + 512 << " " << kCardBytes - spare - 512 << " +\n";
    ready_ = photoStart_ != 0 && run("ddrescue -q -b 512 -H " + folder_ + "/test.map " + card() +
                                     " " + copy() + " " + folder_ + "/ddrescue.map >/dev/null 2>&1")
                                         .exitCode == 0;
  }
  static void TearDownTestSuite() { std::system(("rm -rf '" + folder_ + "'").c_str()); }
  void SetUp() override {
    if (!toolsPresent_) GTEST_SKIP() << "needs convert, exiftool, mkfs.vfat, mtools and ddrescue";
    ASSERT_TRUE(ready_) << "the demo card or ddrescue's copy of it could not be made";
    std::system(
        ("rm -f '" + copy() + ".map' '" + copy() + ".part' '" + copy() + ".part.map'").c_str());
  }
  static std::string card() { return folder_ + "/card.img"; }
  static std::string copy() { return folder_ + "/copy.img"; }
  // stdout and stderr of a command, apart.
  static CommandRun runWithErrors(const std::string& command, std::string& errors) {
    const std::string errorFile = folder_ + "/stderr.txt";
    CommandRun result = run(command + " 2>'" + errorFile + "'");
    errors = readFile(errorFile);
    return result;
  }

  static inline std::string folder_;
  static inline bool ready_ = false;
  static inline bool toolsPresent_ = false;
  static inline uint64_t photoStart_ = 0;
};

TEST_F(CliRescueMap, AMapWrittenByDdrescueGivesEachFindItsUnreadableSectors) {
  std::string errors;
  const CommandRun scan = runWithErrors(
      cli() + " scan --signature-rules --json --map " + folder_ + "/ddrescue.map " + copy(),
      errors);
  ASSERT_EQ(scan.exitCode, 0) << errors;
  EXPECT_EQ(jsonValue(scan.out, "00000001.jpg", "start"), std::to_string(photoStart_));
  EXPECT_EQ(jsonValue(scan.out, "00000001.jpg", "unreadableSectors"), "2");
  for (const char* clean : {"00000000.jpg", "00000002.jpg", "00000003.jpg", "00000000.png"}) {
    EXPECT_EQ(jsonValue(scan.out, clean, "unreadableSectors"), "0") << clean;
  }
  // Three bad sectors are 1.5 KiB the copy never read: rounded up, 1 MiB.
  EXPECT_NE(errors.find("警告: イメージは不完全です。まだ 1 MiB"), std::string::npos) << errors;
}

TEST_F(CliRescueMap, WithoutAMapTheKeyAndTheColumnAreLeftOut) {
  std::string errors;
  const CommandRun json = runWithErrors(cli() + " scan --signature-rules --json " + copy(), errors);
  ASSERT_EQ(json.exitCode, 0) << errors;
  EXPECT_EQ(json.out.find("unreadableSectors"), std::string::npos);
  EXPECT_EQ(errors.find("不完全"), std::string::npos) << errors;
  const CommandRun text = run(cli() + " scan --signature-rules " + copy());
  const CommandRun withMap = run(cli() + " scan --signature-rules --map " + folder_ +
                                 "/ddrescue.map " + copy() + " 2>/dev/null");
  const std::string plainLine = text.out.substr(text.out.find("00000001.jpg"));
  const std::string mapLine = withMap.out.substr(withMap.out.find("00000001.jpg"));
  EXPECT_EQ(mapLine.substr(0, mapLine.find('\n')),
            plainLine.substr(0, plainLine.find('\n')) + "\t2");
}

TEST_F(CliRescueMap, TheMapBesideTheImageIsReadWhileANewCopyRunsBesideIt) {
  std::system(("cp '" + folder_ + "/ddrescue.map' '" + copy() + ".map'").c_str());
  const CommandRun found = run(cli() + " scan --signature-rules --json " + copy() + " 2>/dev/null");
  ASSERT_EQ(found.exitCode, 0);
  EXPECT_EQ(jsonValue(found.out, "00000001.jpg", "unreadableSectors"), "2");
  for (const char* command : {" restore ", " report "}) {
    std::string errors;
    const std::string arguments =
        std::string(command) == " restore " ? copy() + " " + folder_ + " NO-SUCH-ROW" : copy();
    runWithErrors(cli() + command + "--signature-rules " + arguments, errors);
    EXPECT_NE(errors.find("イメージは不完全です"), std::string::npos) << command << errors;
  }

  // A new copy under way beside it, with its own map: this image keeps its map.
  std::ofstream(copy() + ".part") << "";
  std::ofstream(copy() + ".part.map") << "0 ?\n0 " << kCardBytes << " ?\n";
  const CommandRun kept = run(cli() + " scan --signature-rules --json " + copy() + " 2>/dev/null");
  ASSERT_EQ(kept.exitCode, 0);
  EXPECT_EQ(jsonValue(kept.out, "00000001.jpg", "unreadableSectors"), "2");

  // A .part without a map of its own: the map beside the image is that
  // copy's (as copies kept it before), not this image's.
  std::system(("rm -f '" + copy() + ".part.map'").c_str());
  const CommandRun ignored =
      run(cli() + " scan --signature-rules --json " + copy() + " 2>/dev/null");
  ASSERT_EQ(ignored.exitCode, 0);
  EXPECT_EQ(ignored.out.find("unreadableSectors"), std::string::npos);
}

TEST_F(CliRescueMap, AStoppedCopyIsCalledIncompleteWithWhatIsLeft) {
  // A copy stopped 3 MiB before the end: those bytes were never tried.
  std::ofstream(copy() + ".map") << "0 ?\n0 " << kCardBytes - (3u << 20) << " +\n"
                                 << kCardBytes - (3u << 20) << " " << (3u << 20) << " ?\n";
  std::string errors;
  const CommandRun scan = runWithErrors(cli() + " scan --signature-rules " + copy(), errors);
  EXPECT_EQ(scan.exitCode, 0);
  EXPECT_NE(errors.find("警告: イメージは不完全です。まだ 3 MiB が読み取られていません"),
            std::string::npos)
      << errors;
}

TEST_F(CliRescueMap, AMapThatCannotBeParsed) {
  const std::string garbage = folder_ + "/garbage.map";
  std::ofstream(garbage) << "0 +\n0 100 X\n";
  struct Case {
    const char* name;
    std::string arguments;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {"named by --map: an error", "--map " + garbage + " " + copy(), 2,
       "レスキューマップを読み取れません: "},
      {"missing --map file: an error", "--map " + folder_ + "/none.map " + copy(), 2,
       "レスキューマップを読み取れません: "},
      {"beside the image: a warning, scanned without it", copy(), 0, "マップなしで検査します"},
  };
  std::system(("cp '" + garbage + "' '" + copy() + ".map'").c_str());
  for (const Case& c : cases) {
    std::string errors;
    const CommandRun scan =
        runWithErrors(cli() + " scan --signature-rules --json " + c.arguments, errors);
    EXPECT_EQ(scan.exitCode, c.exitCode) << c.name;
    EXPECT_NE(errors.find(c.message), std::string::npos) << c.name << ": " << errors;
    if (c.exitCode == 0) {
      EXPECT_EQ(scan.out.find("unreadableSectors"), std::string::npos) << c.name;
    }
  }
}

}  // namespace
