#include "core/find.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/carving_engine.h"

namespace kestrix {
namespace {

std::vector<std::string> pluginExtensions() {
  CarvingEngine engine;
  const std::string list = engine.GetInfo()->extensions;
  std::vector<std::string> keys;
  for (size_t from = 0; from <= list.size();) {
    const size_t semicolon = std::min(list.find(';', from), list.size());
    keys.push_back(list.substr(from, semicolon - from));
    from = semicolon + 1;
  }
  return keys;
}

// Every extension the shipped plug-in registers is a type the program
// knows, each its own, and its canonical text leads back to it: an
// extension added to the plug-in fails here until FileType knows it.
TEST(FileType, EveryExtensionOfThePluginRoundTrips) {
  std::set<FileType> types;
  for (const std::string& key : pluginExtensions()) {
    const FileType type = fileTypeOf(key);
    EXPECT_NE(type, FileType::Unknown) << key;
    // The registry's keys have their dot; engines and row names do without.
    EXPECT_EQ(fileTypeOf(key.substr(1)), type) << key;
    EXPECT_EQ(fileTypeOf(fileTypeText(type)), type) << key;
    Find find;
    setFileType(find, key);
    EXPECT_EQ(find.type, type) << key;
    EXPECT_EQ(typeText(find), fileTypeText(type)) << key;
    EXPECT_TRUE(find.unknownExtension.empty()) << key;
    types.insert(type);
  }
  EXPECT_EQ(types.size(), pluginExtensions().size());
  EXPECT_EQ(typeText(Find{}), "") << "a find nobody typed has no text";
}

TEST(FileType, AnExtensionTheProgramDoesNotKnowKeepsItsText) {
  struct Case {
    const char* extension;
    const char* text;
  };
  for (const Case& c : {Case{".aaa", "aaa"}, Case{"bbb", "bbb"},
                        // Engines match extensions exactly, so does the type.
                        Case{".JPG", "JPG"}, Case{".jpg.", "jpg."}, Case{"..png", ".png"}}) {
    Find find;
    setFileType(find, c.extension);
    EXPECT_EQ(find.type, FileType::Unknown) << c.extension;
    EXPECT_EQ(typeText(find), c.text) << c.extension;
  }
  EXPECT_EQ(fileTypeText(FileType::Unknown), "");
}

TEST(Find, SizeIsTheRangeOrTheSumOfItsFragments) {
  struct Case {
    const char* name;
    Find find;
    uint64_t size;
  };
  Find reassembled(FileType::Jpeg, 1000, 5000);
  // The second piece lies before the first: the range says nothing of size.
  reassembled.fragments = {{1000, 1600}, {200, 600}, {4000, 5000}};
  const Case cases[] = {
      {"range", Find(FileType::Png, 10, 4106), 4096},
      {"end before start", Find(FileType::Mp4, 9, 3), 0},
      {"fragments", reassembled, 600 + 400 + 1000},
  };
  for (const Case& c : cases) EXPECT_EQ(c.find.size(), c.size) << c.name;
}

}  // namespace
}  // namespace kestrix
