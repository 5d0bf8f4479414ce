#include "core/fragment_joiner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "imaging/check/jpeg_checker.h"
#include "imaging/jpeg/jpeg_limits.h"
#include "media/boot_sector.h"
#include "platform/byte_view.h"

namespace kestrix {

namespace {

constexpr uint64_t kSector = 512;
// Past the first continuation that checks, the ones this far on (at least
// this many units) are still tried for a smoother seam.
constexpr uint64_t kSettleUnits = 4;
constexpr uint64_t kSettleBytes = 2048;
// The decoder notices foreign bytes within a few KiB of their start: a
// piece's ends are tried this far before its break (and at least one).
constexpr uint64_t kEndReachBytes = 16384;
// How much rougher than the median row the roughest row of a joined DC
// picture may be (whole fixtures: at most 2.6, quality 1 included).
constexpr double kRoughestRowRatio = 4.0;
// How far a DC sample may move without marking the seam (refinement scans
// of a progressive photo move every one a little).
constexpr int kSeamChange = 8;

// The geometry of the volume whose boot sector is at `base`, if it is one.
bool volumeGeometry(const ByteView& image, uint64_t base, ClusterGeometry& out) {
  const uint8_t* boot = image.at(base, kBootSectorBytes);
  if (boot == nullptr) return false;
  const std::optional<ClusterLayout> layout =
      clusterLayout(std::span<const uint8_t>(boot, kBootSectorBytes));
  if (!layout || layout->dataOffset >= image.size() - base) return false;
  out =
      ClusterGeometry{layout->clusterBytes, base + layout->dataOffset, GeometrySource::BootSector};
  return true;
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
// is progressive. `payloads`, when given, receives the spans of its APPn
// segments' payloads (where its EXIF thumbnail and previews lie).
uint64_t firstScanData(const uint8_t* data, uint64_t size, uint64_t start, bool& progressive,
                       FilePieces* payloads = nullptr) {
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
    if (payloads != nullptr && marker >= 0xE0 && marker <= 0xEF) {
      payloads->push_back({p + 4, std::min(size, p + 2 + length)});
    }
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

  // `betweenScans`: the segments a progressive photo has between its scans
  // (tables, restart interval, scan headers) are its own, not foreign.
  void build(const uint8_t* data, uint64_t from, uint64_t to, bool betweenScans) {
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
      else if (next != 0x00 && (next < 0xD0 || next > 0xD7) &&
               !(betweenScans && (next == 0xC4 || next == 0xDA || next == 0xDB || next == 0xDD)))
        foreign.push_back(p);
      p += next == 0xFF ? 1 : 2;
    }
  }

  // Where the first foreign marker at or after `at` lies (the stretch's end
  // when none does): entropy data starting at `at` runs at most to there.
  uint64_t cleanFrom(uint64_t at) const {
    const auto bad = std::lower_bound(foreign.begin(), foreign.end(), at);
    return bad == foreign.end() ? end : *bad;
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

// Whether the sector at `at` is all printable text: another file's, which
// the check would refuse right at the seam (a whole photo's decode wasted).
bool textSector(const uint8_t* data, uint64_t size, uint64_t at) {
  const uint64_t length = std::min<uint64_t>(kSector, size - at);
  for (uint64_t i = 0; i < length; ++i) {
    const uint8_t byte = data[at + i];
    if (!((byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\n' || byte == '\r'))
      return false;
  }
  return length == kSector;
}

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
bool dcContinuous(const JpegDcImage& before, const JpegDcImage& joined, bool& judged,
                  double& roughness) {
  judged = false;
  roughness = 0;
  if (before.width != joined.width || before.height != joined.height ||
      before.channels != joined.channels || before.pixels.size() != joined.pixels.size() ||
      joined.channels == 0) {
    return true;
  }
  const int channels = joined.channels;
  const size_t width = static_cast<size_t>(joined.width);
  const size_t height = static_cast<size_t>(joined.height);
  const size_t stride = width * channels;
  size_t first = 0;
  // A progressive photo's later scans refine every DC value a little: only
  // a clear change marks the seam.
  while (first < joined.pixels.size() &&
         std::abs(int(joined.pixels[first]) - int(before.pixels[first])) <= kSeamChange) {
    ++first;
  }
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

// Whether no row of the joined DC picture stands out from the others: a
// piece of another photo inside (its entropy data under the same tables
// decodes as this one's blocks, and the code resynchronises) shows as a row
// far rougher against the one above than the photo's typical row. Whole
// photos keep their roughest row within a small multiple of the median;
// a photo with a row as sharp as that (a horizon at a block row) is not
// joined, and stays as it was listed.
bool dcRowsNatural(const JpegDcImage& picture) {
  const size_t width = static_cast<size_t>(picture.width);
  const size_t height = static_cast<size_t>(picture.height);
  const size_t stride = width * static_cast<size_t>(picture.channels);
  if (height < 4 || stride == 0 || picture.pixels.size() < stride * height) return true;
  std::vector<double> rows;
  rows.reserve(height - 1);
  for (size_t y = 1; y < height; ++y) {
    uint64_t sum = 0;
    for (size_t i = 0; i < stride; ++i) {
      sum += static_cast<uint64_t>(std::abs(int(picture.pixels[y * stride + i]) -
                                            int(picture.pixels[(y - 1) * stride + i])));
    }
    rows.push_back(double(sum) / double(stride));
  }
  const double roughest = *std::max_element(rows.begin(), rows.end());
  std::nth_element(rows.begin(), rows.begin() + static_cast<long>(rows.size() / 2), rows.end());
  return roughest <= kRoughestRowRatio * (rows[rows.size() / 2] + 1.0);
}

}  // namespace

ClusterGeometry guessClusterGeometry(const uint8_t* data, uint64_t size) {
  const ByteView image(data, size);
  ClusterGeometry geometry;
  if (volumeGeometry(image, 0, geometry)) return geometry;
  // A partition table: the first entry's type and start, in sectors.
  constexpr uint64_t kFirstEntryAt = 446;
  constexpr uint8_t kSignature[] = {0x55, 0xAA};
  const auto type = image.u8(kFirstEntryAt + 4);
  const auto first = image.u32(kFirstEntryAt + 8, ByteOrder::LittleEndian);
  if (image.equals(510, kSignature, sizeof kSignature) && type && *type != 0 && first &&
      *first != 0 && volumeGeometry(image, uint64_t{*first} * kSector, geometry)) {
    return geometry;
  }
  return ClusterGeometry{};
}

// A file system hands out whole clusters and starts every file at the start
// of one, so every file start is origin + k * cluster; the origin (the data
// area's start, after the FATs) is anywhere, so starts are compared by their
// remainder, not divided outright. Largest unit first: a unit that fits fits
// every smaller one too. "Almost all": a few finds are no file's first byte
// (a photo embedded in another file, listed on its own; a false start in old
// data), so 7 in 8 on one remainder are enough. At least 4 must agree: with
// two or three, a chance alignment to a larger power of two is too likely
// (one in two per file and doubling). Too big a guess is not fatal: the
// search then tries sectors (`findContinuation`).
constexpr size_t kStartsAgreeing = 4;
constexpr size_t kStartsAgreeingOf8 = 7;

ClusterGeometry guessClusterFromStarts(std::vector<uint64_t> starts) {
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  std::vector<uint64_t> remainders(starts.size());
  for (uint64_t unit = kLargestGuessedCluster;
       unit > kSmallestGuessedCluster && starts.size() >= kStartsAgreeing; unit /= 2) {
    for (size_t i = 0; i < starts.size(); ++i) remainders[i] = starts[i] % unit;
    std::sort(remainders.begin(), remainders.end());
    size_t most = 0;
    uint64_t origin = 0;
    for (size_t i = 0; i < remainders.size();) {
      size_t j = i;
      while (j < remainders.size() && remainders[j] == remainders[i]) ++j;
      if (j - i > most) most = j - i, origin = remainders[i];
      i = j;
    }
    if (most >= kStartsAgreeing && most * 8 >= starts.size() * kStartsAgreeingOf8) {
      return ClusterGeometry{unit, origin, GeometrySource::FileStarts};
    }
  }
  return ClusterGeometry{};
}

void ClaimedSpace::claim(uint64_t start, uint64_t end) {
  if (end <= start) return;
  FilePiece range{start / kSector * kSector, (end + kSector - 1) / kSector * kSector};
  auto at =
      std::lower_bound(ranges_.begin(), ranges_.end(), range,
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
  auto after =
      std::upper_bound(ranges_.begin(), ranges_.end(), start,
                       [](uint64_t value, const FilePiece& range) { return value < range.start; });
  if (after != ranges_.begin() && std::prev(after)->end > start) return true;
  return after != ranges_.end() && after->start < end;
}

uint64_t ClaimedSpace::foreignFrom(uint64_t start, uint64_t inside) const {
  for (auto range =
           std::lower_bound(ranges_.begin(), ranges_.end(), start,
                            [](const FilePiece&r, uint64_t value) { return r.start < value; });
       range != ranges_.end(); ++range) {
    if (range->end > inside) return range->start;
  }
  return UINT64_MAX;
}

uint64_t ClaimedSpace::skip(uint64_t at) const {
  auto after =
      std::upper_bound(ranges_.begin(), ranges_.end(), at,
                       [](uint64_t value, const FilePiece& range) { return value < range.start; });
  if (after != ranges_.begin() && std::prev(after)->end > at) return std::prev(after)->end;
  return at;
}

namespace {

// A continuation that decodes on for at least a unit past its seam and then
// breaks again: the middle of a photo in three pieces.
struct MiddlePiece {
  uint64_t end;      // where the open piece ends
  uint64_t from;     // where the middle piece starts
  uint64_t breakAt;  // where its data stops being the photo's
  double roughness;
  JpegDcImage picture;  // the photo decoded up to that break
};

// Most middle pieces followed on for one photo: the smoothest seams.
constexpr size_t kMiddlePiecesTried = 4;

// One photo's search: the pieces found so far (`head`), then the open
// piece from `open` up to its break, then a continuation.
class SeamSearch {
 public:
  SeamSearch(const uint8_t* data, uint64_t size, uint64_t start, bool progressive,
             const ClusterGeometry& geometry, const JoinLimits& limits, JoinBudget& budget,
             uint64_t seamsBefore = 0)
      : data_(data),
        size_(size),
        start_(start),
        progressive_(progressive),
        geometry_(geometry),
        limits_(limits),
        budget_(budget),
        seams_(seamsBefore) {}

  // `lower`: ends of the open piece lie past it. `before`: the photo decoded
  // up to the break.
  void search(const FilePieces& head, uint64_t open, uint64_t lower, uint64_t breakAt,
              const ClaimedSpace& claimed, const JpegDcImage& before) {
    std::vector<uint64_t> ends;
    for (uint64_t end = boundaryAtOrBefore(geometry_, std::min(size_, breakAt + 8));
         end > lower && ends.size() < limits_.endsTried &&
         (ends.empty() || end + kEndReachBytes >= breakAt);
         end -= geometry_.unit) {
      if (end <= size_ && !claimed.overlaps(breakAt, end)) ends.push_back(end);
      if (end < geometry_.unit) break;
    }
    if (ends.empty()) return;
    // The nearest end first, everywhere: the break is most often in the
    // unit where the foreign bytes start. The others only when that fails.
    searchWith(head, open, {ends.front()}, breakAt, claimed, before);
    if (result.pieces.empty() && !stop_ && ends.size() > 1) {
      searchWith(head, open, std::vector<uint64_t>(ends.begin() + 1, ends.end()), breakAt, claimed,
                 before);
    }
  }

  ContinuationResult result;
  // Whether a limit ended the search.
  bool stopped() const { return stop_; }
  uint64_t seamsTried() const { return seams_; }

 private:
  void searchWith(const FilePieces& head, uint64_t open, const std::vector<uint64_t>& ends,
                  uint64_t breakAt, const ClaimedSpace& claimed, const JpegDcImage& before) {
    headBytes_.clear();
    for (const FilePiece& piece : head)
      headBytes_.insert(headBytes_.end(), data_ + piece.start, data_ + piece.end);
    // The open piece, a middle one and the last make three more pieces.
    const bool middles = head.size() + 3 <= std::min(limits_.pieces, kMostPieces) && !progressive_;
    std::vector<MiddlePiece> middle;
    const uint64_t lowestEnd = ends.back();

    auto tryAt = [&](uint64_t from, uint64_t dataEnd, bool final, bool forward) {
      for (const uint64_t end : ends) {
        if (forward && from < end) continue;
        const uint64_t seam = headBytes_.size() + (end - open);
        const uint64_t length = seam + (dataEnd - from);
        if (length > limits_.photoBytes) continue;
        if (seams_ >= limits_.seamsPerPhoto) {
          result.seamLimitHit = true;
          stop_ = true;
          return;
        }
        if (budget_.decodedBytes + length > limits_.decodedBytesPerCard) {
          budget_.cardLimitHit = true;
          stop_ = true;
          return;
        }
        ++seams_;
        ++budget_.seamsTried;
        budget_.decodedBytes += length;
        joined_.assign(headBytes_.begin(), headBytes_.end());
        joined_.insert(joined_.end(), data_ + open, data_ + end);
        joined_.insert(joined_.end(), data_ + from, data_ + dataEnd);
        const CheckResult check = JpegChecker::Check(joined_.data(), joined_.size(), &after_);
        bool judged = false;
        double roughness = 0;
        if (final && check.verdict == Verdict::Intact) {
          if (!dcContinuous(before, after_, judged, roughness) || !dcRowsNatural(after_)) continue;
          // A progressive photo's later scans leave the DC picture as it
          // was: nothing says the seam is right.
          if (progressive_ && !judged) continue;
          // A seam that cannot be judged ranks after every judged one.
          const double score = judged ? roughness : 1e9;
          if (result.pieces.empty() || score < best_) {
            best_ = score;
            result.pieces = head;
            result.pieces.push_back({open, end});
            result.pieces.push_back({from, dataEnd});
            result.check = check;
          }
          if (settleAt_ == UINT64_MAX) {
            settleAt_ = forward ? from + std::max(kSettleUnits * geometry_.unit, kSettleBytes) : 0;
          }
          continue;
        }
        // A middle piece must decode on for a whole unit past the seam, and
        // its seam must be judged smooth.
        if (!middles || check.verdict == Verdict::Intact || !check.hasBadOffset ||
            check.badOffset < seam + geometry_.unit || check.badOffset > length) {
          continue;
        }
        if (!dcContinuous(before, after_, judged, roughness) || !judged) continue;
        MiddlePiece piece{end, from, from + (check.badOffset - seam), roughness, after_};
        middle.push_back(std::move(piece));
        std::sort(middle.begin(), middle.end(), [](const MiddlePiece& a, const MiddlePiece& b) {
          return a.roughness < b.roughness;
        });
        if (middle.size() > kMiddlePiecesTried) middle.pop_back();
      }
    };

    MarkerIndex markers;
    // Forward: from the first possible end on.
    {
      const uint64_t reach = std::min(size_, breakAt + limits_.forwardReach);
      markers.build(data_, lowestEnd, reach, progressive_);
      // Not inside the bytes that decoded as the photo's own: from the unit
      // that holds the break on.
      for (uint64_t from = boundaryAtOrAfter(
               geometry_, std::max(lowestEnd + 1, boundaryAtOrBefore(geometry_, breakAt)));
           from < reach;) {
        const uint64_t free = claimed.skip(from);
        if (free != from) {
          from = boundaryAtOrAfter(geometry_, free);
          continue;
        }
        if (!zeroSector(data_, size_, from) && !textSector(data_, size_, from)) {
          const uint64_t eoiEnd = markers.eoiEndFrom(from);
          if (eoiEnd != 0 && !claimed.overlaps(from, eoiEnd)) {
            tryAt(from, eoiEnd, true, true);
          } else if (middles && settleAt_ == UINT64_MAX) {
            const uint64_t clean = markers.cleanFrom(from);
            if (clean >= from + geometry_.unit && !claimed.overlaps(from, from + geometry_.unit)) {
              tryAt(from, std::min(clean, from + limits_.photoBytes), false, true);
            }
          }
          if (stop_ || from >= settleAt_) return;
        }
        from += geometry_.unit;
      }
    }
    if (!result.pieces.empty()) return;
    // Backward: boundaries before the photo, nearest first, whose data ends
    // before the photo starts.
    {
      const uint64_t floor = start_ > limits_.backwardReach ? start_ - limits_.backwardReach : 0;
      markers.build(data_, floor, start_, progressive_);
      for (uint64_t from = boundaryAtOrBefore(geometry_, start_ > 0 ? start_ - 1 : 0);
           from >= floor && from < start_;) {
        if (!claimed.overlaps(from, from + 1) && !zeroSector(data_, size_, from) &&
            !textSector(data_, size_, from)) {
          const uint64_t eoiEnd = markers.eoiEndFrom(from);
          if (eoiEnd != 0 && !claimed.overlaps(from, eoiEnd)) tryAt(from, eoiEnd, true, false);
          if (stop_ || settleAt_ != UINT64_MAX) return;
        }
        if (from < geometry_.unit) break;
        from -= geometry_.unit;
      }
    }
    // Then the middle pieces, smoothest seam first, each with its own
    // pieces claimed so the last piece cannot reuse them.
    for (const MiddlePiece& piece : middle) {
      if (stop_ || !result.pieces.empty()) return;
      FilePieces longer = head;
      longer.push_back({open, piece.end});
      ClaimedSpace mine = claimed;
      for (const FilePiece& taken : longer) mine.claim(taken.start, taken.end);
      const uint64_t breakAt2 = std::min(piece.breakAt, mine.foreignFrom(piece.from, piece.from));
      if (breakAt2 <= piece.from) continue;
      search(longer, piece.from, piece.from, breakAt2, mine, piece.picture);
    }
  }

  const uint8_t* data_;
  uint64_t size_;
  uint64_t start_;
  bool progressive_;
  ClusterGeometry geometry_;
  const JoinLimits& limits_;
  JoinBudget& budget_;
  std::vector<uint8_t> headBytes_;
  std::vector<uint8_t> joined_;
  JpegDcImage after_;
  uint64_t seams_ = 0;
  // Bytes of another photo can decode as this one's blocks and still meet
  // its EOI (the code resynchronises), so the first join that checks is not
  // taken at once: the continuations a little further on are tried too,
  // and the smoothest seam wins.
  double best_ = 0;
  uint64_t settleAt_ = UINT64_MAX;  // no continuation is tried past this
  bool stop_ = false;
};

}  // namespace

ContinuationResult findContinuation(const uint8_t* data, uint64_t size, uint64_t start,
                                    uint64_t breakAt, const ClaimedSpace& claimed,
                                    const ClusterGeometry& suggested, const JoinLimits& limits,
                                    JoinBudget& budget) {
  if (data == nullptr || start >= size || breakAt <= start || breakAt > size) return {};
  bool progressive = false;
  const uint64_t scanData = firstScanData(data, size, start, progressive);
  if (scanData == 0 || scanData >= breakAt) return {};
  // A photo that does not start on a boundary of the volume's clusters was
  // not laid out by it: its own sectors then.
  ClusterGeometry geometry = suggested;
  const ClusterGeometry sectors{kSector, start % kSector, GeometrySource::Sectors};
  if (geometry.unit == 0 || boundaryAtOrBefore(geometry, start) != start) geometry = sectors;
  // Claimed space lying wholly inside the photo's own decoded bytes is its
  // own embedded images; any other claimed range is another file's, and the
  // first piece ends before it.
  breakAt = std::min(breakAt, claimed.foreignFrom(start, breakAt));
  if (scanData >= breakAt) return {};
  // The pre-seam picture: the photo as it decodes up to its break.
  JpegDcImage before;
  JpegChecker::Check(data + start, breakAt - start, &before);
  SeamSearch search(data, size, start, progressive, geometry, limits, budget);
  search.search({}, start, scanData, breakAt, claimed, before);
  // A unit guessed from the files' starts may be too big (a few files that
  // happen to lie on wider boundaries): the pieces then lie on boundaries it
  // skips, so sectors are tried next, in what is left of the photo's seams.
  // A boot sector's cluster is the volume's own word and is not doubted.
  if (search.result.pieces.empty() && !search.stopped() &&
      geometry.source == GeometrySource::FileStarts && geometry.unit > kSector) {
    SeamSearch fine(data, size, start, progressive, sectors, limits, budget, search.seamsTried());
    fine.search({}, start, scanData, breakAt, claimed, before);
    return fine.result;
  }
  return search.result;
}

namespace {

// Gives the rows that lie inside an APPn payload of the joined photo at
// `row` (its EXIF thumbnail, a preview) that photo as their parent, as the
// scan does for the thumbnails of a whole photo: while the photo was broken
// it held nothing, now it is a verified file. Returns how many.
uint64_t holdNestedRows(CandidateList& list, int32_t row,
                        const std::vector<std::pair<uint64_t, int32_t>>& byStart) {
  const Candidate* photo = list.candidateAt(row + 1);
  std::string name;
  if (photo == nullptr || !list.itemName(row, name)) return 0;
  FilePieces payloads;
  bool progressive = false;
  firstScanData(photo->imageData(), photo->find().fragments.front().end, photo->find().start,
                progressive, &payloads);
  uint64_t held = 0;
  for (const FilePiece& payload : payloads) {
    for (auto at = std::lower_bound(byStart.begin(), byStart.end(),
                                    std::make_pair(payload.start, INT32_MIN));
         at != byStart.end() && at->first < payload.end; ++at) {
      const Candidate* inner = list.candidateAt(at->second + 1);
      if (at->second == row || inner == nullptr || inner->find().end > payload.end) continue;
      if (list.setParent(at->second, name)) ++held;
    }
  }
  return held;
}

}  // namespace

JoinOutcome joinFragments(const ImageBlock& image, CandidateList& list, const JoinLimits& limits) {
  JoinOutcome outcome;
  const uint8_t* data = image.data();
  const uint64_t size = image.size();
  const int32_t rows = list.itemCount();
  ClaimedSpace claimed;
  std::vector<int32_t> broken;
  std::vector<uint64_t> starts;  // of the files of their own: where clusters start
  for (int32_t row = 0; row < rows; ++row) {
    const Candidate* candidate = list.candidateAt(row + 1);
    if (candidate == nullptr) continue;
    if (candidate->find().parent.empty()) starts.push_back(candidate->find().start);
    if (!candidate->checked()) continue;
    const CheckResult& check = candidate->check();
    if (check.verdict == Verdict::Intact) {
      claimed.claim(candidate->find().start, candidate->find().end);
    } else if ((check.verdict == Verdict::Damaged || check.verdict == Verdict::Truncated) &&
               check.hasBadOffset && candidate->find().type == FileType::Jpeg &&
               candidate->find().parent.empty() && candidate->find().plainRange &&
               candidate->unreadableSectors() == 0) {
      // A photo with sectors the copy could not read lost those bytes: a
      // join around them would be another picture, not this one.
      broken.push_back(row);
    }
  }
  if (broken.empty()) return outcome;
  std::vector<std::pair<uint64_t, int32_t>> byStart;  // every row, by its start
  for (int32_t row = 0; row < rows; ++row) {
    if (const Candidate* candidate = list.candidateAt(row + 1))
      byStart.emplace_back(candidate->find().start, row);
  }
  std::sort(byStart.begin(), byStart.end());
  ClusterGeometry geometry = guessClusterGeometry(data, size);
  if (geometry.source != GeometrySource::BootSector) geometry = guessClusterFromStarts(starts);
  // A second round: joins of the first claim their pieces, which may leave
  // a photo whose pieces alternate with them only its own to find.
  std::vector<bool> done(broken.size(), false);
  for (int round = 0; round < 2; ++round) {
    const uint64_t joinedBefore = outcome.joined;
    for (size_t i = 0; i < broken.size() && !outcome.budget.cardLimitHit; ++i) {
      if (done[i]) continue;
      const Candidate* candidate = list.candidateAt(broken[i] + 1);
      const uint64_t start = candidate->find().start;
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
      outcome.heldRows += holdNestedRows(list, broken[i], byStart);
    }
    if (outcome.joined == joinedBefore) break;
  }
  return outcome;
}

}  // namespace kestrix
