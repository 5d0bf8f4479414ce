// Photos back whole from pieces: after the scan and the check, a JPEG whose
// data stops being its own before its EOI (a camera wrote it into freed
// clusters around photos that stayed) is searched for its continuation.
//
//   FilePieces claimed = ...;               // every verified whole find
//   JoinOutcome outcome = joinFragments(image, list);   // rows checked first
//
// How one photo is joined (`findContinuation`):
//   - Where it breaks: the check's first bad byte. The first piece ends on
//     one of the few unit boundaries at or just before it (the decoder
//     notices foreign bytes a little after they start).
//   - Where it goes on: unit boundaries of unclaimed space, from the break
//     forward, then before the photo backward, in the order a file system
//     hands out free clusters. A boundary is tried only when the bytes from
//     it on can be entropy data up to an EOI (no marker that cannot stand
//     there, no zero-filled sector).
//   - What is accepted: the joined bytes must check intact (every scan
//     decoded to the EOI, restart markers in order, no hole), the DC
//     picture must stay continuous across the seam and no row of it may
//     stand out (another photo's data decoding as this one's). A
//     progressive photo whose seam lies past its first scan cannot be
//     judged that way and stays as it was.
//   - Three pieces and more: a continuation that decodes on for a unit and
//     breaks again is a middle piece, and the search goes on from its break,
//     up to `JoinLimits::pieces` pieces.
//   - Units: the cluster of a FAT or exFAT boot sector at the image's start
//     (or in the first partition of a partition table), else the cluster
//     the spacing of the files' starts suggests (tried again in 512-byte
//     sectors when it finds nothing: the guess may be too big), else
//     512-byte sectors counted from the photo's own start.
// Every try is counted; a photo stops at `seamsPerPhoto`, the card at
// `decodedBytesPerCard`, and the outcome says which limits were hit.
#pragma once

#include <cstdint>
#include <vector>

#include "core/candidate_list.h"
#include "core/image_block.h"

namespace kestrix {

// Where a cluster geometry was taken from.
enum class GeometrySource {
  Sectors,     // nothing better known: 512-byte sectors
  BootSector,  // a FAT or exFAT boot sector: the volume's own word
  FileStarts,  // the spacing of the files found: a guess that may be too big
};

// How pieces of files are laid out: boundaries at origin + k * unit.
struct ClusterGeometry {
  uint64_t unit = 512;
  uint64_t origin = 0;
  GeometrySource source = GeometrySource::Sectors;
};

// The cluster layout of a FAT12/16/32 or exFAT volume at the image's start,
// or in the first entry of an MBR partition table; 512-byte sectors from 0
// when there is none.
ClusterGeometry guessClusterGeometry(const uint8_t* data, uint64_t size);

// Smallest and largest cluster guessed from where files start.
inline constexpr uint64_t kSmallestGuessedCluster = 512;
inline constexpr uint64_t kLargestGuessedCluster = uint64_t{256} << 10;

// The cluster layout that the starts of the files found suggest, when no
// boot sector gives it: the largest power of two from 512 B to 256 KiB by
// which (almost) all starts lie apart (see the .cpp for the rule); 512-byte
// sectors when too few starts agree.
ClusterGeometry guessClusterFromStarts(std::vector<uint64_t> starts);

// Most pieces one photo is joined from: each middle piece is searched from
// the break of the one before (at most 4 of them followed at each step), so
// the tries grow with the depth; `seamsPerPhoto` bounds them whatever it is.
inline constexpr uint32_t kMostPieces = 8;

struct JoinLimits {
  uint64_t seamsPerPhoto = 4096;                     // joined files decoded per photo
  uint64_t decodedBytesPerCard = uint64_t{4} << 30;  // bytes decoded by every try together
  uint64_t photoBytes = uint64_t{64} << 20;          // longest joined photo
  uint64_t forwardReach = uint64_t{64} << 20;  // continuations searched this far past the break
  uint64_t backwardReach = uint64_t{8} << 20;  // and this far before the photo's start
  uint32_t endsTried = 32;                     // ends of a piece tried before its break
  uint32_t pieces = kMostPieces;               // most pieces of one photo (at most kMostPieces)
};

// The work of one search, shared by the photos of one card.
struct JoinBudget {
  uint64_t seamsTried = 0;    // all photos
  uint64_t decodedBytes = 0;  // all photos
  bool cardLimitHit = false;
};

struct JoinOutcome {
  uint64_t photosTried = 0;        // broken photos searched
  uint64_t joined = 0;             // rows made whole
  uint64_t photosAtSeamLimit = 0;  // searches ended by seamsPerPhoto
  uint64_t heldRows = 0;  // rows found inside a joined photo's APPn payloads, given it as parent
  JoinBudget budget;
};

// Sorted, disjoint byte ranges no piece may touch.
class ClaimedSpace {
 public:
  // Adds start..end widened to whole 512-byte sectors.
  void claim(uint64_t start, uint64_t end);
  bool overlaps(uint64_t start, uint64_t end) const;
  // Where the first claimed range at or after `start` begins that is not
  // wholly inside start..inside; UINT64_MAX when there is none.
  uint64_t foreignFrom(uint64_t start, uint64_t inside) const;
  // The end of the claimed range holding `at`, or `at` when none does.
  uint64_t skip(uint64_t at) const;

 private:
  FilePieces ranges_;
};

struct ContinuationResult {
  FilePieces pieces;  // empty when no join was accepted
  CheckResult check;  // of the joined bytes, when accepted
  bool seamLimitHit = false;
};

// Searches the continuation of the JPEG at `start`, whose data stops being
// its own at `breakAt`. `claimed` holds the other files' sectors; claimed
// ranges lying wholly inside start..breakAt are the photo's own embedded
// images and do not stop its first piece.
ContinuationResult findContinuation(const uint8_t* data, uint64_t size, uint64_t start,
                                    uint64_t breakAt, const ClaimedSpace& claimed,
                                    const ClusterGeometry& geometry, const JoinLimits& limits,
                                    JoinBudget& budget);

// Claims every intact find of the (checked) list, then joins each damaged
// or truncated JPEG it can, claiming its pieces as it goes; a second round
// takes the photos that a join of the first round freed. A row lying inside
// an APPn payload of a joined photo (its EXIF thumbnail) gets that photo as
// its parent: the normal mode then no longer lists it (`isListed`).
JoinOutcome joinFragments(const ImageBlock& image, CandidateList& list,
                          const JoinLimits& limits = {});

}  // namespace kestrix
