// The image block: the bytes of one disk image, lent read-only to the scan
// engines and to every candidate. Offsets and sizes are 64-bit: a card of
// hundreds of gigabytes is one block, because the block is a view of the file
// (a read-only mapping), not a copy of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/file_problem.h"

namespace kestrix {

class ImageBlock {
 public:
  virtual ~ImageBlock() = default;
  // Never null, even for an empty image: engines and candidates may keep the
  // pointer, and a null block reads as "nothing bound" to an engine.
  virtual const uint8_t* data() const = 0;
  virtual uint64_t size() const = 0;

  // Read-ahead advice for the scan's front-to-back pass, and its end. Advice
  // only; a block in memory ignores it.
  virtual void adviseSequential() const {}
  virtual void adviseRandom() const {}
  // Copies [start, start + length) into `into` from the medium itself
  // rather than through data(): a restore must learn that bytes could not
  // be read, where the mapping would hand it zeros (see ImageFile). False,
  // with why in `problem` (OutsideImage, ImageUnreadable, ImageShrank), when
  // any byte of the range could not be read; a block in memory always reads.
  virtual bool read(uint64_t start, uint8_t* into, size_t length, FileProblem& problem) const {
    if (start > size() || length > size() - start) {
      problem = {FileProblemCode::OutsideImage};
      return false;
    }
    if (length != 0) std::memcpy(into, data() + start, length);
    return true;
  }
  // Bytes that data() shows as zeros because their pages could not be
  // read; a rise while a file is taken from data() means it holds some.
  virtual uint64_t unreadableBytes() const { return 0; }
  // True while the medium still holds every byte below `end` (a file cut
  // short or a card pulled since the image was opened says false).
  virtual bool stillHolds(uint64_t end) const { return end <= size(); }
  // The range [start, start + length) is not needed soon (see ImageFile).
  virtual void releaseRange(uint64_t start, uint64_t length) const {
    (void)start;
    (void)length;
  }
};

}  // namespace kestrix
