#include "jobs/mapped_image_block.h"

#include <sys/mman.h>

#include <cstdint>

namespace kestrix {

namespace {

// Transparent huge pages on x86-64 are 2 MiB; aligning the block to that
// lets the kernel back it with huge pages from its first byte.
constexpr size_t kHugePageSize = size_t{2} << 20;

size_t roundUp(size_t value, size_t unit) { return (value + unit - 1) / unit * unit; }

}  // namespace

std::unique_ptr<MappedImageBlock> MappedImageBlock::allocate(uint32_t size) {
  // An empty image still gets one page, so data() is never null.
  const size_t usable = roundUp(size == 0 ? 1 : size, kHugePageSize);
  // Small blocks gain nothing from huge pages; skip the alignment slack.
  const bool huge = size >= kHugePageSize;
  const size_t length = huge ? usable + kHugePageSize : usable;
  void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                       -1, 0);
  if (mapping == MAP_FAILED) return nullptr;

  auto* base = static_cast<uint8_t*>(mapping);
  uint8_t* data = base;
  if (huge) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(base);
    data = base + (roundUp(address, kHugePageSize) - address);
    // Advice only: without transparent huge pages the block works the same.
    madvise(data, usable, MADV_HUGEPAGE);
  }
  return std::unique_ptr<MappedImageBlock>(new MappedImageBlock(data, size, mapping, length));
}

MappedImageBlock::~MappedImageBlock() { munmap(mapping_, mappingLength_); }

}  // namespace kestrix
