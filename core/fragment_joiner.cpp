#include "core/fragment_joiner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/check/jpeg_checker.h"
#include "imaging/jpeg/jpeg_limits.h"

namespace kestrix {

namespace {

constexpr uint64_t kSector = 512;
// Units past the first continuation that checks still tried for a smoother
// seam.
constexpr uint64_t kSettleUnits = 16;

uint32_t little(const uint8_t* p, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

bool isPowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The geometry of the volume whose boot sector is at `base`, if it is one.
bool volumeGeometry(const uint8_t* data, uint64_t size, uint64_t base, ClusterGeometry& out) {
  if (base > size || size - base < kSector) return false;
  const uint8_t* boot = data + base;
  if (boot[510] != 0x55 || boot[511] != 0xAA) return false;
  if (std::memcmp(boot + 3, "EXFAT   ", 8) == 0) {
    const uint32_t sectorShift = boot[108];
    const uint32_t clusterShift = boot[109];
    if (sectorShift < 9 || sectorShift > 12 || clusterShift > 25 - sectorShift) return false;
    const uint64_t sector = uint64_t{1} << sectorShift;
    out.unit = sector << clusterShift;
    out.origin = base + uint64_t{little(boot + 88, 4)} * sector;
    out.fromBootSector = true;
    return out.origin < size;
  }
  if (boot[0] != 0xEB && boot[0] != 0xE9) return false;
  const uint64_t sector = little(boot + 11, 2);
  const uint64_t perCluster = boot[13];
  const uint64_t reserved = little(boot + 14, 2);
  const uint64_t fats = boot[16];
  const uint64_t rootEntries = little(boot + 17, 2);
  const uint64_t fatSize = little(boot + 22, 2) != 0 ? little(boot + 22, 2) : little(boot + 36, 4);
  if (sector < 512 || sector > 4096 || !isPowerOfTwo(sector) || !isPowerOfTwo(perCluster) || reserved == 0 ||
      fats == 0 || fats > 4 || fatSize == 0) {
    return false;
  }
  const uint64_t rootSectors = (rootEntries * 32 + sector - 1) / sector;
  out.unit = sector * perCluster;
  out.origin = base + (reserved + fats * fatSize + rootSectors) * sector;
  out.fromBootSector = true;
  return out.origin < size;
}

// The first boundary of `geometry` at or after `at`.
uint64_t boundaryAtOrAfter(const ClusterGeometry& geometry, uint64_t at) {
  const uint64_t phase = geometry.origin % geometry.unit;
  if (at <= phase) return phase;
  return phase + (at - phase + geometry.unit - 1) / geometry.unit * geometry.unit;
}

uint64_t boundaryAtOrBefore(const ClusterGeometry& geometry, uint64_t at) {
  const uint64_t phase = geometry.origin % geometry.unit;
  if (at < phase) return 0;
  return phase + (at - phase) / geometry.unit * geometry.unit;
}

// Where the photo's first scan's entropy data begins, walking its segments;
// 0 when the header does not reach a scan, and `progressive` when its frame
// is progressive.
uint64_t firstScanData(const uint8_t* data, uint64_t size, uint64_t start, bool& progressive) {
  progressive = false;
  uint64_t p = start + 2;
  while (p + 4 <= size && p - start < (uint64_t{1} << 24)) {
    if (data[p] != 0xFF) return 0;
    const uint8_t marker = data[p + 1];
    if (marker == 0xFF) {
      ++p;
      continue;
    }
    if (marker == 0xD8 || marker == 0xD9 || (marker >= 0xD0 && marker <= 0xD7)) return 0;
    const uint64_t length = (uint64_t{data[p + 2]} << 8) | data[p + 3];
    if (length < 2) return 0;
    if (marker == 0xC2) progressive = true;
    p += 2 + length;
    if (marker == 0xDA) return p <= size ? p : 0;
  }
  return 0;
}

// Markers of a stretch of the image that decide whether entropy data may
// start at a boundary: EOIs, and FF pairs that cannot stand in entropy data.
struct MarkerIndex {
  uint64_t begin = 0;
  uint64_t end = 0;
  std::vector<uint64_t> ends;     // offsets of FF D9
  std::vector<uint64_t> foreign;  // offsets of FF followed by anything but 00, D0..D7, D9

  void build(const uint8_t* data, uint64_t from, uint64_t to) {
    begin = from;
    end = to;
    ends.clear();
    foreign.clear();
    for (uint64_t p = from; p + 1 < to;) {
      const void* hit = std::memchr(data + p, 0xFF, static_cast<size_t>(to - 1 - p));
      if (hit == nullptr) break;
      p = static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - data);
      const uint8_t next = data[p + 1];
      if (next == 0xD9)
        ends.push_back(p);
      else if (next != 0x00 && (next < 0xD0 || next > 0xD7))
        foreign.push_back(p);
      p += next == 0xFF ? 1 : 2;
    }
  }

  // The end (just past FF D9) of entropy data starting at `at`, or 0 when a
  // foreign marker comes first or no EOI lies inside the stretch.
  uint64_t eoiEndFrom(uint64_t at) const {
    const auto eoi = std::lower_bound(ends.begin(), ends.end(), at);
    if (eoi == ends.end()) return 0;
    const auto bad = std::lower_bound(foreign.begin(), foreign.end(), at);
    if (bad != foreign.end() && *bad < *eoi) return 0;
    return *eoi + 2;
  }
};

bool zeroSector(const uint8_t* data, uint64_t size, uint64_t at) {
  const uint64_t length = std::min<uint64_t>(kJpegZeroRunBytes, size - at);
  for (uint64_t i = 0; i < length; ++i) {
    if (data[at + i] != 0) return false;
  }
  return true;
}

// How the joined DC picture leaves `before` (the photo decoded up to its
// break). The seam is the first block that differs; the blocks from it on
// through the next two rows are compared with the row above each, against
// the rows above the seam. `roughness` is the ratio of the two (lower is
// smoother; the right continuation is as smooth as the photo around it),
// `judged` false when the seam could not be found or has no row above it.
// False when the seam is much rougher than a sharp edge would be.
bool dcContinuous(const JpegDcImage& before, const JpegDcImage& joined, bool& judged, double& roughness) {
  judged = false;
  roughness = 0;
  if (before.width != joined.width || before.height != joined.height || before.channels != joined.channels ||
      before.pixels.size() != joined.pixels.size() || joined.channels == 0) {
    return true;
  }
  const int channels = joined.channels;
  const size_t width = static_cast<size_t>(joined.width);
  const size_t height = static_cast<size_t>(joined.height);
  const size_t stride = width * channels;
  size_t first = 0;
  while (first < joined.pixels.size() && joined.pixels[first] == before.pixels[first]) ++first;
  if (first == joined.pixels.size()) return true;
  const size_t row = first / stride;
  if (row == 0) return true;
  const size_t column = (first % stride) / channels;
  auto difference = [&](size_t y, size_t x) {
    int total = 0;
    for (int c = 0; c < channels; ++c) {
      const size_t at = y * stride + x * channels + c;
      total += std::abs(int(joined.pixels[at]) - int(joined.pixels[at - stride]));
    }
    return total;
  };
  uint64_t seamSum = 0;
  uint64_t seamCount = 0;
  for (size_t x = column; x < width; ++x, ++seamCount) seamSum += difference(row, x);
  for (size_t y = row + 1; y < std::min(height, row + 3); ++y) {
    for (size_t x = 0; x < width; ++x, ++seamCount) seamSum += difference(y, x);
  }
  uint64_t baseSum = 0;
  uint64_t baseCount = 0;
  for (size_t y = row > 8 ? row - 8 : 1; y < row; ++y) {
    for (size_t x = 0; x < width; ++x, ++baseCount) baseSum += difference(y, x);
  }
  if (seamCount < 4 || baseCount == 0) return true;
  judged = true;
  // Mean differences per block (all channels).
  const double seam = double(seamSum) / double(seamCount);
  const double base = double(baseSum) / double(baseCount);
  roughness = seam / (base + 1.0);
  return seam <= 2.5 * base + 12.0 * channels;
}

}  // namespace

ClusterGeometry guessClusterGeometry(const uint8_t* data, uint64_t size) {
  ClusterGeometry geometry;
  if (data == nullptr) return geometry;
  if (volumeGeometry(data, size, 0, geometry)) return geometry;
  geometry = ClusterGeometry{};
  // A partition table: the first entry's start, in sectors.
  if (size >= kSector && data[510] == 0x55 && data[511] == 0xAA) {
    const uint8_t* entry = data + 446;
    const uint64_t first = little(entry + 8, 4);
    if (entry[4] != 0 && first != 0 && volumeGeometry(data, size, first * kSector, geometry)) return geometry;
  }
  return ClusterGeometry{};
}

void ClaimedSpace::claim(uint64_t start, uint64_t end) {
  if (end <= start) return;
  FilePiece range{start / kSector * kSector, (end + kSector - 1) / kSector * kSector};
  auto at = std::lower_bound(ranges_.begin(), ranges_.end(), range,
                             [](const FilePiece& a, const FilePiece& b) { return a.start < b.start; });
  at = ranges_.insert(at, range);
  // Merge with neighbours so the ranges stay disjoint and sorted.
  if (at != ranges_.begin() && std::prev(at)->end >= at->start) {
    std::prev(at)->end = std::max(std::prev(at)->end, at->end);
    at = std::prev(ranges_.erase(at));
  }
  while (std::next(at) != ranges_.end() && std::next(at)->start <= at->end) {
    at->end = std::max(at->end, std::next(at)->end);
    ranges_.erase(std::next(at));
  }
}

bool ClaimedSpace::overlaps(uint64_t start, uint64_t end) const {
  if (end <= start) return false;
  auto after = std::upper_bound(ranges_.begin(), ranges_.end(), start,
                                [](uint64_t value, const FilePiece& range) { return value < range.start; });
  if (after != ranges_.begin() && std::prev(after)->end > start) return true;
  return after != ranges_.end() && after->start < end;
}

uint64_t ClaimedSpace::foreignFrom(uint64_t start, uint64_t inside) const {
  for (auto range = std::lower_bound(ranges_.begin(), ranges_.end(), start,
                                     [](const FilePiece& r, uint64_t value) { return r.start < value; });
       range != ranges_.end(); ++range) {
    if (range->end > inside) return range->start;
  }
  return UINT64_MAX;
}

uint64_t ClaimedSpace::skip(uint64_t at) const {
  auto after = std::upper_bound(ranges_.begin(), ranges_.end(), at,
                                [](uint64_t value, const FilePiece& range) { return value < range.start; });
  if (after != ranges_.begin() && std::prev(after)->end > at) return std::prev(after)->end;
  return at;
}

ContinuationResult findContinuation(const uint8_t* data, uint64_t size, uint64_t start, uint64_t breakAt,
                                    const ClaimedSpace& claimed, const ClusterGeometry& suggested,
                                    const JoinLimits& limits, JoinBudget& budget) {
  ContinuationResult result;
  if (data == nullptr || start >= size || breakAt <= start || breakAt > size) return result;
  bool progressive = false;
  const uint64_t scanData = firstScanData(data, size, start, progressive);
  if (scanData == 0 || scanData >= breakAt) return result;
  // A photo that does not start on a boundary of the volume's clusters was
  // not laid out by it: its own sectors then.
  ClusterGeometry geometry = suggested;
  if (geometry.unit == 0 || boundaryAtOrBefore(geometry, start) != start) geometry = {kSector, start % kSector, false};

  // Claimed space lying wholly inside the photo's own decoded bytes is its
  // own embedded images; any other claimed range is another file's, and the
  // first piece ends before it.
  breakAt = std::min(breakAt, claimed.foreignFrom(start, breakAt));
  if (scanData >= breakAt) return result;
  // The first piece's possible ends, nearest the break first.
  std::vector<uint64_t> ends;
  for (uint64_t end = boundaryAtOrBefore(geometry, std::min(size, breakAt + 8));
       end > scanData && ends.size() < limits.endsTried; end -= geometry.unit) {
    if (end <= size && !claimed.overlaps(breakAt, end)) ends.push_back(end);
    if (end < geometry.unit) break;
  }
  if (ends.empty()) return result;
  const uint64_t lowestEnd = ends.back();

  // The pre-seam picture: the photo as it decodes up to its break.
  JpegDcImage before;
  JpegChecker::Check(data + start, breakAt - start, &before);

  std::vector<uint8_t> joined;
  JpegDcImage after;
  uint64_t seams = 0;
  // Bytes of another photo can decode as this one's blocks and still meet
  // its EOI (the code resynchronises), so the first join that checks is not
  // taken at once: the continuations a little further on are tried too,
  // and the smoothest seam wins.
  double best = 0;
  uint64_t settleAt = UINT64_MAX;  // no continuation is tried past this
  bool stop = false;
  auto tryAt = [&](uint64_t from, uint64_t eoiEnd, bool forward) {
    for (const uint64_t end : ends) {
      if (forward && from < end) continue;
      const uint64_t length = (end - start) + (eoiEnd - from);
      if (length > limits.photoBytes) continue;
      if (seams >= limits.seamsPerPhoto) {
        result.seamLimitHit = true;
        stop = true;
        return;
      }
      if (budget.decodedBytes + length > limits.decodedBytesPerCard) {
        budget.cardLimitHit = true;
        stop = true;
        return;
      }
      ++seams;
      ++budget.seamsTried;
      budget.decodedBytes += length;
      joined.assign(data + start, data + end);
      joined.insert(joined.end(), data + from, data + eoiEnd);
      const CheckResult check = JpegChecker::Check(joined.data(), joined.size(), &after);
      if (check.verdict != Verdict::Intact) continue;
      bool judged = false;
      double roughness = 0;
      if (!dcContinuous(before, after, judged, roughness)) continue;
      // A progressive photo's later scans leave the DC picture as it was:
      // nothing says the seam is right.
      if (progressive && !judged) continue;
      // A seam that cannot be judged ranks after every judged one.
      const double score = judged ? roughness : 1e9;
      if (result.pieces.empty() || score < best) {
        best = score;
        result.pieces = {{start, end}, {from, eoiEnd}};
        result.check = check;
      }
      if (settleAt == UINT64_MAX) settleAt = forward ? from + kSettleUnits * geometry.unit : 0;
    }
  };

  MarkerIndex markers;
  // Forward: from the first possible end on.
  {
    const uint64_t reach = std::min(size, breakAt + limits.forwardReach);
    markers.build(data, lowestEnd, reach);
    for (uint64_t from = boundaryAtOrAfter(geometry, lowestEnd + 1); from < reach;) {
      const uint64_t free = claimed.skip(from);
      if (free != from) {
        from = boundaryAtOrAfter(geometry, free);
        continue;
      }
      if (!zeroSector(data, size, from)) {
        const uint64_t eoiEnd = markers.eoiEndFrom(from);
        if (eoiEnd != 0 && !claimed.overlaps(from, eoiEnd)) tryAt(from, eoiEnd, true);
        if (stop || from >= settleAt) return result;
      }
      from += geometry.unit;
    }
  }
  if (!result.pieces.empty()) return result;
  // Backward: boundaries before the photo, nearest first, whose data ends
  // before the photo starts.
  {
    const uint64_t floor = start > limits.backwardReach ? start - limits.backwardReach : 0;
    markers.build(data, floor, start);
    for (uint64_t from = boundaryAtOrBefore(geometry, start > 0 ? start - 1 : 0); from >= floor && from < start;) {
      if (!claimed.overlaps(from, from + 1) && !zeroSector(data, size, from)) {
        const uint64_t eoiEnd = markers.eoiEndFrom(from);
        if (eoiEnd != 0 && !claimed.overlaps(from, eoiEnd)) tryAt(from, eoiEnd, false);
        if (stop || settleAt != UINT64_MAX) return result;
      }
      if (from < geometry.unit) break;
      from -= geometry.unit;
    }
  }
  return result;
}

JoinOutcome joinFragments(const ImageBlock& image, CandidateList& list, const JoinLimits& limits) {
  JoinOutcome outcome;
  const uint8_t* data = image.data();
  const uint64_t size = image.size();
  const int32_t rows = list.itemCount();
  ClaimedSpace claimed;
  std::vector<int32_t> broken;
  for (int32_t row = 0; row < rows; ++row) {
    const Candidate* candidate = list.candidateAt(row + 1);
    if (candidate == nullptr || !candidate->checked()) continue;
    const CheckResult& check = candidate->check();
    if (check.verdict == Verdict::Intact) {
      claimed.claim(candidate->start(), candidate->end());
    } else if ((check.verdict == Verdict::Damaged || check.verdict == Verdict::Truncated) && check.hasBadOffset &&
               candidate->type() == "jpeg" && candidate->parent().empty() && candidate->plainRange() &&
               candidate->unreadableSectors() == 0) {
      // A photo with sectors the copy could not read lost those bytes: a
      // join around them would be another picture, not this one.
      broken.push_back(row);
    }
  }
  if (broken.empty()) return outcome;
  const ClusterGeometry geometry = guessClusterGeometry(data, size);
  // A second round: joins of the first claim their pieces, which may leave
  // a photo whose pieces alternate with them only its own to find.
  std::vector<bool> done(broken.size(), false);
  for (int round = 0; round < 2; ++round) {
    const uint64_t joinedBefore = outcome.joined;
    for (size_t i = 0; i < broken.size() && !outcome.budget.cardLimitHit; ++i) {
      if (done[i]) continue;
      const Candidate* candidate = list.candidateAt(broken[i] + 1);
      const uint64_t start = candidate->start();
      const uint64_t breakAt = std::min(size, start + candidate->check().badOffset);
      if (round == 0) ++outcome.photosTried;
      const ContinuationResult found =
          findContinuation(data, size, start, breakAt, claimed, geometry, limits, outcome.budget);
      if (found.seamLimitHit && round == 0) ++outcome.photosAtSeamLimit;
      if (found.pieces.empty()) continue;
      if (!list.setReassembly(broken[i], found.pieces, found.check)) continue;
      for (const FilePiece& piece : found.pieces) claimed.claim(piece.start, piece.end);
      done[i] = true;
      ++outcome.joined;
    }
    if (outcome.joined == joinedBefore) break;
  }
  return outcome;
}

}  // namespace kestrix
