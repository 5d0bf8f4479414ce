// What a find's structure says, walked on the whole image: the scan layer
// asks it where an engine's find ran out of data or was cut by the image's
// end, and what a find holds before it drops the finds inside it.
//
// The same walkers as the engine's precise rules (engine/*_structure.h), so
// a find the engine reported and the scan's judgement of it cannot differ;
// they are linked into the core directly, not asked through the plug-in, as
// the plug-in interface has no call for them.
#pragma once

#include <cstdint>

#include "core/find.h"
#include "core/image_block.h"
#include "engine/structure_end.h"

namespace kestrix {

struct FindStructure {
  enum class Kind {
    Unknown,   // an extension without a walker: the engine's word is taken
    NotAFile,  // no file of the type starts there, or bytes that only open like one
    Whole,     // the structure closed at `end`
    Damaged,   // the bytes stop being the file's at `end`
    Cut,       // a proven file cut short by the image's end
  };
  Kind kind = Kind::Unknown;
  uint64_t end = 0;     // Whole and Damaged: just past the file; Cut: the image end
  uint64_t resume = 0;  // Cut: where the next search of the type may go on
  ByteSpans holds;      // Whole, when asked for: the spans that hold other files
};

// Walks the file of `type` whose first byte is at `start` of `image` (Unknown
// is not walked). With `wantHolds`, a whole file's spans that hold files of
// their own are filled in.
FindStructure walkFind(const ImageBlock& image, FileType type, uint64_t start, bool wantHolds);

}  // namespace kestrix
