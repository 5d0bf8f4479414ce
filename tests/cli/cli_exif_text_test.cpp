// EXIF texts from the card as the listings show them: a backslash stays
// (escaped once in JSON, as it is in the tab-separated listing), and an
// ASCII value ends at its first NUL, whatever follows it. One card holds a
// photo per row, its Make and Model the row's bytes, both byte orders.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli/json_text.h"
#include "cli_test_support.h"

namespace kestrix::test {
namespace {

struct TextRow {
  const char* name;
  std::string stored;  // the ASCII value's bytes, as counted in its entry
  std::string shown;   // what the listing shows
  std::string json;    // the JSON string literal
};

const std::vector<TextRow>& rows() {
  using namespace std::string_literals;
  static const std::vector<TextRow> table = {
      {"backslash_out_of_line", "C:\\DCIM\\100\0"s, "C:\\DCIM\\100", "\"C:\\\\DCIM\\\\100\""},
      {"backslash_inline", "a\\b\0"s, "a\\b", "\"a\\\\b\""},
      {"backslash_last", "Make\\\0"s, "Make\\", "\"Make\\\\\""},
      {"embedded_nul", "Cam\0era 2\0"s, "Cam", "\"Cam\""},
      {"embedded_nul_after_backslash", "Both\\\0x\\y"s, "Both\\", "\"Both\\\\\""},
      {"trailing_nuls", "Trail\0\0\0\0\0"s, "Trail", "\"Trail\""},
      {"no_nul", "NoTerminator"s, "NoTerminator", "\"NoTerminator\""},
      {"quote_and_backslash", "say \"hi\"\\\0"s, "say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
  };
  return table;
}

void put16(std::string& out, uint16_t value, bool motorola) {
  const char high = static_cast<char>(value >> 8), low = static_cast<char>(value & 0xFF);
  out += motorola ? std::string{high, low} : std::string{low, high};
}

void put32(std::string& out, uint32_t value, bool motorola) {
  put16(out, static_cast<uint16_t>(motorola ? value >> 16 : value & 0xFFFF), motorola);
  put16(out, static_cast<uint16_t>(motorola ? value & 0xFFFF : value >> 16), motorola);
}

// An APP1 segment with IFD0 holding Make and Model, both `value`.
std::string exifSegment(const std::string& value, bool motorola) {
  std::string tiff = motorola ? "MM" : "II";
  put16(tiff, 42, motorola);
  put32(tiff, 8, motorola);
  const uint32_t dataAt = 8 + 2 + 2 * 12 + 4;
  std::string data;
  put16(tiff, 2, motorola);
  for (const uint16_t tag : {uint16_t{0x010F}, uint16_t{0x0110}}) {
    put16(tiff, tag, motorola);
    put16(tiff, 2, motorola);  // ASCII
    put32(tiff, static_cast<uint32_t>(value.size()), motorola);
    if (value.size() <= 4) {
      tiff += value + std::string(4 - value.size(), '\0');
    } else {
      put32(tiff, dataAt + static_cast<uint32_t>(data.size()), motorola);
      data += value;
      if (data.size() % 2 != 0) data += '\0';
    }
  }
  put32(tiff, 0, motorola);
  const std::string payload = std::string("Exif\0\0", 6) + tiff + data;
  std::string segment = "\xFF\xE1";
  put16(segment, static_cast<uint16_t>(payload.size() + 2), true);
  return segment + payload;
}

class ExifTexts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new ScratchFolder;
    const std::string photo = folder_->file("photo.jpg");
    ready_ = run("convert -size 64x48 -seed 2 plasma:fractal ppm:- 2>/dev/null | cjpeg > '" +
                 photo + "'")
                 .exitCode == 0;
    const std::string jpeg = readFile(photo);
    ready_ = ready_ && jpeg.size() > 100;
    std::string card(4096, '\0');
    for (const bool motorola : {false, true}) {
      for (const TextRow& row : rows()) {
        std::string find = jpeg.substr(0, 2) + exifSegment(row.stored, motorola) + jpeg.substr(2);
        find.resize((find.size() + 4095) / 4096 * 4096, '\0');
        card += find;
      }
    }
    std::ofstream(folder_->file("card.img"), std::ios::binary) << card;
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "convert or cjpeg missing";
  }
  static inline ScratchFolder* folder_ = nullptr;
  static inline bool ready_ = false;
};

// Rows of the listing, in card order: each row's Make (column 8) and Model
// (column 4), tab-separated.
TEST_F(ExifTexts, TabListingShowsThemAsTheyAre) {
  const CommandRun scan = run(cli() + " scan '" + folder_->file("card.img") + "' 2>/dev/null");
  ASSERT_EQ(scan.exitCode, 0);
  std::vector<std::vector<std::string>> lines;
  size_t start = 0;
  while (start < scan.out.size()) {
    const size_t end = scan.out.find('\n', start);
    std::vector<std::string> fields;
    const std::string line = scan.out.substr(start, end - start);
    for (size_t at = 0;;) {
      const size_t tab = line.find('\t', at);
      fields.push_back(line.substr(at, tab - at));
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
    lines.push_back(fields);
    start = end == std::string::npos ? scan.out.size() : end + 1;
  }
  ASSERT_EQ(lines.size(), 2 * rows().size());
  for (size_t i = 0; i < lines.size(); ++i) {
    const TextRow& row = rows()[i % rows().size()];
    ASSERT_GE(lines[i].size(), 8u);
    EXPECT_EQ(lines[i][4], row.shown) << row.name << " model";
    EXPECT_EQ(lines[i][7], row.shown) << row.name << " maker";
  }
}

TEST_F(ExifTexts, JsonListingEscapesThemOnce) {
  const CommandRun scan =
      run(cli() + " scan --json '" + folder_->file("card.img") + "' 2>/dev/null");
  ASSERT_EQ(scan.exitCode, 0);
  size_t at = 0;
  for (size_t i = 0; i < 2 * rows().size(); ++i) {
    const TextRow& row = rows()[i % rows().size()];
    at = scan.out.find("{\"name\"", at);
    ASSERT_NE(at, std::string::npos) << row.name;
    const std::string object = scan.out.substr(at, scan.out.find('}', at) - at);
    EXPECT_NE(object.find("\"model\": " + row.json + ","), std::string::npos)
        << row.name << ": " << object;
    EXPECT_NE(object.find("\"maker\": " + row.json + ","), std::string::npos)
        << row.name << ": " << object;
    ++at;
  }
}

// The escaping itself, for the bytes a card may hold.
TEST(JsonString, EscapesWhatJsonAsks) {
  using namespace std::string_literals;
  struct Row {
    const char* name;
    std::string text;
    std::string json;
  };
  for (const Row& row :
       {Row{"backslash", "a\\b", "\"a\\\\b\""}, Row{"two_backslashes", "\\\\", "\"\\\\\\\\\""},
        Row{"quote", "\"", "\"\\\"\""}, Row{"nul", "a\0b"s, "\"a\\u0000b\""},
        Row{"tab_and_line_break", "\t\n", "\"\\u0009\\u000a\""},
        Row{"invalid_utf8", "\xC3", "\"\xEF\xBF\xBD\""}, Row{"plain", "Canon", "\"Canon\""}}) {
    EXPECT_EQ(jsonString(row.text), row.json) << row.name;
  }
}

}  // namespace
}  // namespace kestrix::test
