// Cards that try to make the structure-aware scan hide files: real files laid
// out between gaps of old data, with stray openings planted into the gaps and
// into the files' own opaque bytes (JPEG entropy data, movie media data): atom
// headers of every opening type with huge, zero, 64-bit and off-by-a-little
// sizes, PNG signatures and headers, SOIs with segment lengths that run into
// the next photo. A planted file changes only where its format does not
// look (bytes of entropy data without FF, media data), so it stays a whole
// file, and it must come back byte for byte.
//
//   Choices choices(seed);                       // or Choices(fuzzData, fuzzSize)
//   PlantedCard card = plantCard(files, choices);
//   Recovered got = recoverCard(card, ScanMode::Precise);
//   // got.whole[i]: card.files[i] came back byte for byte
//
// Shared by the property test and its fuzz target.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/fragment_joiner.h"
#include "core/image_scan.h"

namespace kestrix::test {

// Every choice of the generator: numbers from a seeded generator, or from a
// fuzzer's bytes (0 once they run out; the card then ends).
class Choices {
 public:
  explicit Choices(uint64_t seed) : random_(seed) {}
  Choices(const uint8_t* data, size_t size) : data_(data), size_(size), fromBytes_(true) {}
  // A number below `bound` (> 0).
  uint64_t below(uint64_t bound);
  bool exhausted() const { return fromBytes_ && used_ >= size_; }
  // A seed for bulk random bytes (old data) that the choices do not spell out.
  uint64_t seed() { return below(UINT64_MAX); }

 private:
  std::mt19937_64 random_;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t used_ = 0;
  bool fromBytes_ = false;
};

enum class PlantKind { Jpeg, Png, Movie };

struct PlantFile {
  std::string name;
  PlantKind kind = PlantKind::Jpeg;
  std::vector<uint8_t> bytes;
};

struct PlantedCard {
  std::vector<uint8_t> bytes;
  struct File {
    std::string name;
    uint64_t start = 0;
    std::vector<uint8_t> bytes;  // as planted: what must come back
  };
  std::vector<File> files;
  std::vector<std::string> plants;  // what was planted where, for a failure's message
};

// Lays out up to `maxFiles` of `files` (each may come more than once) with
// gaps and plants, every choice taken from `choices`.
PlantedCard plantCard(const std::vector<PlantFile>& files, Choices& choices, size_t maxFiles = 24);

struct Recovered {
  std::vector<bool> whole;  // per card file: some listed row's bytes are exactly it
  size_t wholeCount = 0;
  size_t rows = 0;
  std::vector<size_t> pieces;  // per card file: the pieces of the row that gave it (0: one range)
  size_t reassembledRows = 0;  // rows joined from pieces, matching a file or not
};

// Scans the card with the shipped engine in `mode` and reads every row as a
// restore writes it.
Recovered recoverCard(const PlantedCard& card, ScanMode mode);
// The same after checking every row and reassembling the split photos, as
// `kestrix-cli scan --check` and `restore --check` do.
// `limits` bound the reassembly, whose outcome goes to `outcome` when given.
Recovered recoverCheckedCard(const PlantedCard& card, ScanMode mode = ScanMode::Precise,
                             const JoinLimits& limits = {}, JoinOutcome* outcome = nullptr);

// The files of the fixtures in `folder` (JPEGs), and a small movie and PNG
// built here, for a fuzz target that has no tools to make a corpus.
std::vector<PlantFile> fixtureFiles(const std::string& folder);

}  // namespace kestrix::test
