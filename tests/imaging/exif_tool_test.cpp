// Camera-like files written by exiftool at test time, read by ExifInfo and
// checked against exiftool's own reading of the same file. Skipped when
// exiftool or ImageMagick's convert is not installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/exif_info.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

bool toolExists(const char* name) {
  const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

std::string capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  pclose(pipe);
  return out;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

struct ToolRow {
  const char* name;
  const char* arguments;  // exiftool tag assignments
};

class ExifAgainstExiftool : public ::testing::TestWithParam<ToolRow> {
 protected:
  void SetUp() override {
    if (!toolExists("exiftool") || !toolExists("convert"))
      GTEST_SKIP() << "exiftool or convert missing";
    directory_ =
        fs::temp_directory_path() / ("kx_exif_" + std::to_string(getpid()) + "_" + GetParam().name);
    fs::create_directories(directory_);
  }
  void TearDown() override {
    if (!directory_.empty()) fs::remove_all(directory_);
  }
  fs::path directory_;
};

TEST_P(ExifAgainstExiftool, AgreesOnCameraFields) {
  const fs::path file = directory_ / "photo.jpg";
  const std::string make = "convert -size 32x24 xc:navy '" + file.string() + "' && exiftool -q " +
                           "-overwrite_original " + GetParam().arguments + " '" + file.string() +
                           "'";
  ASSERT_EQ(std::system(make.c_str()), 0);
  const std::vector<std::string> tool = lines(
      capture("exiftool -s3 -f -Make -Model -DateTimeOriginal -ExifByteOrder -GPSVersionID '" +
              file.string() + "'"));
  ASSERT_EQ(tool.size(), 5u);

  std::ifstream in(file, std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(bytes.data(), bytes.size()));

  const auto field = [&](const IfdEntry* entry) {
    std::string out = "-";  // exiftool's mark for an absent tag
    if (entry) exif.valueText(*entry, exif.isMotorola(), out);
    return out;
  };
  EXPECT_EQ(field(exif.findInMainChain(kTagMake)), tool[0]);
  EXPECT_EQ(field(exif.findInMainChain(kTagModel)), tool[1]);
  EXPECT_EQ(field(exif.findInExifIfd(kTagDateTimeOriginal)), tool[2]);
  EXPECT_EQ(exif.isMotorola(), tool[3].find("Big-endian") != std::string::npos) << tool[3];
  EXPECT_EQ(exif.hasGps(), tool[4] != "-");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExifAgainstExiftool,
    ::testing::Values(
        ToolRow{"MotorolaWithGps",
                "-ExifByteOrder=Big-endian -Make=Testmaker -Model='TM-1 Pro' "
                "'-DateTimeOriginal=2019:07:08 09:10:11' -GPSLatitude=35.5 -GPSLatitudeRef=N"},
        ToolRow{"IntelWithoutGps",
                "-ExifByteOrder=Little-endian -Make=NIKON -Model=D70 "
                "'-DateTimeOriginal=2004:05:06 07:08:09'"},
        ToolRow{"IntelInlineMakeNoExifDirectory",
                "-ExifByteOrder=Little-endian -Make=Ab '-ModifyDate=2001:02:03 04:05:06'"},
        ToolRow{"MotorolaWithThumbnailIfd1",
                "-ExifByteOrder=Big-endian -Make=Canon -Model='Canon PowerShot' "
                "'-DateTimeOriginal=2010:10:10 10:10:10' -IFD1:XResolution=72 "
                "-IFD1:YResolution=72 -IFD1:ResolutionUnit=inches"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrix
