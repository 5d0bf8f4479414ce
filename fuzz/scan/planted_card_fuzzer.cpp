// The never-hide property under a fuzzer: the input chooses a card (which
// fixture files, where, which stray openings with which sizes, where they are
// planted); every file on it must come back byte for byte in the default
// scan, and never fewer than with the signature rules.
#include <cstdio>
#include <cstdlib>

#include "tests/core/planted_card.h"

namespace {

const std::vector<kestrix::test::PlantFile>& files() {
  static const std::vector<kestrix::test::PlantFile> loaded =
      kestrix::test::fixtureFiles(KESTRIX_TEST_DATA "/jpeg");
  return loaded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  test::Choices choices(data, size);
  const test::PlantedCard card = test::plantCard(files(), choices, 8);
  if (card.files.empty()) return 0;
  const test::Recovered precise = test::recoverCard(card, ScanMode::Precise);
  const test::Recovered rules = test::recoverCard(card, ScanMode::SignatureRules);
  if (precise.wholeCount != card.files.size() || precise.wholeCount < rules.wholeCount) {
    std::fprintf(stderr, "%zu of %zu files back whole (signature rules: %zu)\n", precise.wholeCount,
                 card.files.size(), rules.wholeCount);
    for (size_t i = 0; i < card.files.size(); ++i) {
      std::fprintf(stderr, "  %s@%llu %s\n", card.files[i].name.c_str(),
                   static_cast<unsigned long long>(card.files[i].start),
                   precise.whole[i] ? "whole" : "LOST");
    }
    for (const std::string& plant : card.plants)
      std::fprintf(stderr, "  plant %s\n", plant.c_str());
    // The card itself, for a look with kestrix-cli.
    if (const char* path = std::getenv("KESTRIX_FAILED_CARD")) {
      if (std::FILE* out = std::fopen(path, "wb")) {
        std::fwrite(card.bytes.data(), 1, card.bytes.size(), out);
        std::fclose(out);
      }
    }
    std::abort();
  }
  return 0;
}
