// The image block: the whole disk image in memory, lent read-only to the scan
// engines and to every candidate. Callers see only this interface, so the
// block can come from an anonymous mapping filled by reads (today) or from a
// file mapping (later) without touching the scan, restore or report code.
#pragma once

#include <cstdint>

namespace kestrix {

class ImageBlock {
 public:
  virtual ~ImageBlock() = default;
  // Never null, even for an empty image: engines and candidates may keep the
  // pointer, and a null block reads as "nothing bound" to an engine.
  virtual const uint8_t* data() const = 0;
  // Bytes of the image; the block is addressed with 32-bit offsets.
  virtual uint32_t size() const = 0;
};

}  // namespace kestrix
