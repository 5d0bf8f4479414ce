// The image block: the bytes of one disk image, lent read-only to the scan
// engines and to every candidate. Offsets and sizes are 64-bit: a card of
// hundreds of gigabytes is one block, because the block is a view of the file
// (a read-only mapping), not a copy of it.
#pragma once

#include <cstdint>

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
  // The range [start, start + length) is about to be read in one go (a
  // restore writing it out): bring it in now (see ImageFile).
  virtual void prefault(uint64_t start, uint64_t length) const {
    (void)start;
    (void)length;
  }
  // The range [start, start + length) is not needed soon (see ImageFile).
  virtual void releaseRange(uint64_t start, uint64_t length) const {
    (void)start;
    (void)length;
  }
};

}  // namespace kestrix
