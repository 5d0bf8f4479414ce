// An image block in an anonymous memory mapping, filled by reading the file.
//
// Why a mapping and not the heap: the block is one huge allocation that is
// read once and then walked sequentially by every engine pass. An anonymous
// mapping is zero-filled by the kernel (no extra memset pass), is returned to
// the system at once on release, and can be advised to use transparent huge
// pages, which cuts TLB misses for the whole-image passes. It is aligned to
// the huge-page size so that every 2 MiB stretch can be backed by one page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "jobs/image_block.h"

namespace kestrix {

class MappedImageBlock : public ImageBlock {
 public:
  // A zero-filled block of `size` bytes; null when the mapping fails.
  static std::unique_ptr<MappedImageBlock> allocate(uint32_t size);
  ~MappedImageBlock() override;

  const uint8_t* data() const override { return data_; }
  uint32_t size() const override { return size_; }
  // Writable view for the loader, which fills the block before anyone reads.
  uint8_t* writableData() { return data_; }

 private:
  MappedImageBlock(uint8_t* data, uint32_t size, void* mapping, size_t mappingLength)
      : data_(data), size_(size), mapping_(mapping), mappingLength_(mappingLength) {}

  uint8_t* data_;          // huge-page aligned start inside the mapping
  uint32_t size_;
  void* mapping_;          // what munmap releases
  size_t mappingLength_;
};

}  // namespace kestrix
