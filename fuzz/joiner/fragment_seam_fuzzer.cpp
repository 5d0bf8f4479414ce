// The seam search over bytes the fuzzer chooses: a real photo's first
// sectors, then anything (the continuation, fillers, boot sectors, claimed
// ranges). However the bytes fall, the search stays inside its named limits,
// and a join it accepts is pieces inside the image, clear of claimed space,
// that check intact.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/fragment_joiner.h"
#include "imaging/check/jpeg_checker.h"

namespace {

const std::vector<uint8_t>& photo() {
  static const std::vector<uint8_t> bytes = [] {
    std::ifstream in(KESTRIX_TEST_DATA "/jpeg/cjpeg_320x240_quality_60.jpg", std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
  }();
  return bytes;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  if (size < 4 || photo().size() < 2048) return 0;
  // Byte 0: how many sectors of the photo come first; bytes 1..2: a claimed
  // range (in sectors) of what follows; byte 3: the search's geometry, from
  // the bytes themselves, from file starts they give, or bare sectors.
  const uint64_t head = 512 * (1 + data[0] % (photo().size() / 512));
  std::vector<uint8_t> image(photo().begin(), photo().begin() + static_cast<long>(head));
  image.insert(image.end(), data + 4, data + size);
  ClaimedSpace claimed;
  const uint64_t claimFrom = head + 512 * uint64_t{data[1]};
  claimed.claim(claimFrom, claimFrom + 512 * uint64_t(data[2] % 16));
  // Bit 1 of byte 3: the geometry guessed from file starts the bytes give
  // (two bytes each, in sectors), which may be too big for the pieces.
  std::vector<uint64_t> starts;
  for (size_t i = 4; i + 2 <= std::min<size_t>(size, 36); i += 2) {
    starts.push_back(512 * uint64_t((data[i] << 8) | data[i + 1]));
  }
  const ClusterGeometry guessed = guessClusterFromStarts(starts);
  if (guessed.unit < kSmallestGuessedCluster || guessed.unit > kLargestGuessedCluster ||
      (guessed.unit & (guessed.unit - 1)) != 0) {
    fail("a guessed cluster outside its bounds");
  }
  const ClusterGeometry geometry =
      data[3] & 2   ? guessed
      : data[3] & 1 ? guessClusterGeometry(image.data() + head, image.size() - head)
                    : ClusterGeometry{};
  if (geometry.unit == 0) fail("a geometry without a unit");

  JoinLimits limits;
  limits.seamsPerPhoto = 48;
  limits.decodedBytesPerCard = uint64_t{2} << 20;
  limits.forwardReach = uint64_t{1} << 20;
  limits.backwardReach = uint64_t{1} << 20;
  JoinBudget budget;
  const CheckResult check = JpegChecker::Check(image.data(), image.size());
  const uint64_t breakAt = check.hasBadOffset ? check.badOffset : head;
  const ContinuationResult found =
      findContinuation(image.data(), image.size(), 0, breakAt, claimed, geometry, limits, budget);
  if (budget.seamsTried > limits.seamsPerPhoto) fail("more seams than the limit");
  if (budget.decodedBytes > limits.decodedBytesPerCard) fail("more bytes decoded than the limit");
  if (found.pieces.empty()) return 0;
  if (found.pieces.front().start != 0) fail("a join that does not start at the photo");
  std::vector<uint8_t> joined;
  for (const FilePiece& piece : found.pieces) {
    if (piece.end <= piece.start || piece.end > image.size()) fail("a piece outside the image");
    if (&piece != &found.pieces.front() && claimed.overlaps(piece.start, piece.end))
      fail("a piece in claimed space");
    joined.insert(joined.end(), image.begin() + static_cast<long>(piece.start),
                  image.begin() + static_cast<long>(piece.end));
  }
  if (joined.size() > limits.photoBytes) fail("a join longer than the limit");
  if (JpegChecker::Check(joined.data(), joined.size()).verdict != Verdict::Intact)
    fail("a join that is not intact");
  return 0;
}
