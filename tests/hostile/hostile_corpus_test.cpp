// Replays tests/data/hostile/: every row of corpus.tsv runs its file through
// its parser in-process and compares the outcome text with the table's.
// Rows of parser "cli-scan" and "cli-scan-todo" belong to replay-cli.sh.
//
// Outcome texts, by parser:
//   exif      exif=yes|no limits=BITS main=N exififd=N gps=yes|no make=TEXT|-
//   jpeg      open=CODE [size=WxH start=R [rows=N|64+ end=R] error=CODE]
//   dib       load=0|1 [size=WxH bits=N]   (.bmp: LoadBmp, .jpg: LoadJpeg)
//   boot      kind=N probe=CODE [sectors=NxBYTES cluster=N]  (detectVolumeKind, RawDrive::probe)
//   engine:X  finds=N [sizes=A,B,...]      (the scan's FindNext loop for type X)
//   rescuemap map=no error=TEXT | map=yes end=N roundtrip=same|differs marked=N
//             (RescueMap::parse, then what fuzz/rescuemap asks: the format/parse
//             round trip, and the bytes left unfinished in [half, end + 4096)
//             after marking that range finished)
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/carving_engine.h"
#include "engine/scan_engine.h"
#include "imaging/exif_info.h"
#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/memory_byte_source.h"
#include "imaging/loader/dib_image.h"
#include "media/boot_sector.h"
#include "media/raw_drive.h"
#include "media/rescue_map.h"
#include "tests/media/memory_sector_device.h"

namespace kestrix {
namespace {

const std::string kCorpus = KX_HOSTILE_CORPUS_DIR;
// Rows decoded before a huge frame counts as "decodes on": enough to show the
// decoder neither refused nor crashed, few enough to stay quick.
constexpr int kJpegRowCap = 64;

using Bytes = std::vector<uint8_t>;

struct CorpusRow {
  std::string file;
  std::string parser;
  std::string expected;
};

void PrintTo(const CorpusRow& row, std::ostream* out) { *out << row.file; }

std::vector<CorpusRow> readTable() {
  std::vector<CorpusRow> rows;
  std::ifstream table(kCorpus + "/corpus.tsv");
  std::string line;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    CorpusRow row;
    std::getline(fields, row.file, '\t');
    std::getline(fields, row.parser, '\t');
    std::getline(fields, row.expected, '\t');
    if (!row.parser.starts_with("cli-scan")) rows.push_back(row);
  }
  return rows;
}

Bytes readFile(const std::string& name) {
  std::ifstream in(kCorpus + "/" + name, std::ios::binary);
  return Bytes{std::istreambuf_iterator<char>(in), {}};
}

std::string exifOutcome(const Bytes& bytes) {
  ExifInfo exif;
  const bool found = exif.parse(bytes.data(), bytes.size());
  const ExifDirectories dirs = exif.readDirectories();
  std::string make = "-";
  exif.mainChainText(kTagMake, make);
  return std::string("exif=") + (found ? "yes" : "no") +
         " limits=" + std::to_string(exif.limitsHit()) +
         " main=" + std::to_string(dirs.mainChain.size()) +
         " exififd=" + std::to_string(dirs.exifIfd.size()) +
         " gps=" + (exif.hasGps() ? "yes" : "no") + " make=" + make;
}

std::string jpegOutcome(const Bytes& bytes) {
  auto decoder = std::make_unique<JpegDecoder>();  // large: on the heap
  MemoryByteSource source(bytes);
  decoder->Open(&source);
  std::string out = "open=" + std::to_string(decoder->ErrorCode());
  if (decoder->ErrorCode() != 0) return out;
  out += " size=" + std::to_string(decoder->Width()) + "x" + std::to_string(decoder->Height());
  const int start = decoder->Start();
  out += " start=" + std::to_string(start);
  if (start == 0) {
    int rows = 0;
    int result = 0;
    const uint8_t* row = nullptr;
    int byteCount = 0;
    while (rows < kJpegRowCap && (result = decoder->ReadRow(&row, &byteCount)) == 0) ++rows;
    out +=
        " rows=" + (rows == kJpegRowCap ? std::to_string(kJpegRowCap) + "+" : std::to_string(rows));
    if (rows < kJpegRowCap) out += " end=" + std::to_string(result);
  }
  out += " error=" + std::to_string(decoder->ErrorCode());
  decoder->Close();
  return out;
}

std::string dibOutcome(const std::string& file, const Bytes& bytes) {
  DibImage image;
  bool loaded = false;
  if (file.ends_with(".bmp")) {
    std::istringstream stream(std::string(bytes.begin(), bytes.end()));
    loaded = image.LoadBmp(stream);
  } else {
    MemoryByteSource source(bytes);
    loaded = image.LoadJpeg(source);
  }
  if (!loaded) return "load=0";
  return "load=1 size=" + std::to_string(image.Width()) + "x" + std::to_string(image.Height()) +
         " bits=" + std::to_string(image.BitCount());
}

std::string bootOutcome(const Bytes& bytes) {
  auto state = std::make_shared<test::MemoryDriveState>();
  state->bytes = bytes;
  RawDrive drive(std::make_unique<test::MemorySectorDevice>(state));
  const int probe = drive.probe("card");
  std::string out = "kind=" + std::to_string(static_cast<int>(detectVolumeKind(bytes))) +
                    " probe=" + std::to_string(probe);
  if (probe == 0) {
    // What a copy would read: it must fit the drive.
    const BootInfo& info = drive.bootInfo();
    out += " sectors=" + std::to_string(info.totalSectors) + "x" + std::to_string(info.sectorSize) +
           " cluster=" + std::to_string(info.sectorsPerCluster);
  }
  return out;
}

// The scan job's loop: a hit of length 0, or longer than its end position,
// is no file.
std::string engineOutcome(const std::string& extension, const Bytes& bytes) {
  CarvingEngine engine;
  engine.Attach(bytes.data(), static_cast<uint32_t>(bytes.size()), 0, extension.c_str(), 256);
  uint64_t size = 0;
  uint64_t previous = 0;
  std::string sizes;
  int finds = 0;
  uint64_t position = engine.FindNext(0, 0, &size, extension.c_str());
  while (position <= bytes.size() && position > previous) {
    previous = position;
    if (size != 0 && size <= position) {
      ++finds;
      sizes += (sizes.empty() ? "" : ",") + std::to_string(size);
    }
    position = engine.FindNext(lowHalf(position), highHalf(position), &size, extension.c_str());
  }
  return "finds=" + std::to_string(finds) + (sizes.empty() ? "" : " sizes=" + sizes);
}

std::string rescueMapOutcome(const Bytes& bytes) {
  std::string error;
  auto map = RescueMap::parse(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &error);
  if (!map) return "map=no error=" + error;
  const uint64_t end = map->domainEnd();
  const uint64_t half = map->domainBegin() + (end - map->domainBegin()) / 2;
  auto again = RescueMap::parse(map->format());
  const bool same = again && again->format() == map->format();
  map->set(half, end + 4096, BlockStatus::Finished);
  return "map=yes end=" + std::to_string(end) + " roundtrip=" + (same ? "same" : "differs") +
         " marked=" + std::to_string(map->unfinishedBytes(half, end + 4096));
}

class HostileCorpus : public ::testing::TestWithParam<CorpusRow> {};

TEST_P(HostileCorpus, OutcomeAsRecorded) {
  const CorpusRow& row = GetParam();
  const Bytes bytes = readFile(row.file);
  ASSERT_FALSE(bytes.empty()) << "missing " << row.file;
  std::string outcome;
  if (row.parser == "exif") {
    outcome = exifOutcome(bytes);
  } else if (row.parser == "jpeg") {
    outcome = jpegOutcome(bytes);
  } else if (row.parser == "dib") {
    outcome = dibOutcome(row.file, bytes);
  } else if (row.parser == "boot") {
    outcome = bootOutcome(bytes);
  } else if (row.parser.starts_with("engine:")) {
    outcome = engineOutcome(row.parser.substr(7), bytes);
  } else if (row.parser == "rescuemap") {
    outcome = rescueMapOutcome(bytes);
  } else {
    FAIL() << "unknown parser " << row.parser;
  }
  EXPECT_EQ(outcome, row.expected) << row.file << " through " << row.parser;
}

TEST(HostileCorpusTable, ListsEveryFileAndKeepsItSmall) {
  std::ifstream table(kCorpus + "/corpus.tsv");
  const std::string text{std::istreambuf_iterator<char>(table), {}};
  ASSERT_FALSE(text.empty());
  uintmax_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
    const std::string name = entry.path().filename().string();
    if (name == "corpus.tsv" || name == "README.md") continue;
    EXPECT_NE(text.find(name + "\t"), std::string::npos) << name << " has no row in corpus.tsv";
    total += entry.file_size();
  }
  EXPECT_LT(total, 100u * 1024) << "the corpus is meant to stay small";
}

std::string rowName(const ::testing::TestParamInfo<CorpusRow>& info) {
  std::string name = info.param.file + "_" + info.param.parser;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileCorpus, ::testing::ValuesIn(readTable()), rowName);

}  // namespace
}  // namespace kestrix
