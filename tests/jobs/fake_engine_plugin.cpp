// A scan-engine plug-in for the job tests, with hits that are easy to place:
// ".aaa" finds "[[" … "]]", ".bbb" finds "{{" … "}}", and "()" before an
// ".aaa" hit is a hit of length 0. "@@" before an ".aaa" hit makes the
// engine stand still: it returns the position it was given, as a faulty
// third-party engine might. In the precise modes (261, 262) it keeps their
// contract: a hit whose closing pair lies past the bound block ends exactly
// at the block's end, and no hit gives size 0 with the block size.
#include <cstring>
#include <string>

#include "engine/scan_engine.h"

namespace {

class FakeEngine : public kestrix::ScanEngine {
 public:
  FakeEngine() {
    std::memset(&info_, 0, sizeof info_);
    std::strcpy(info_.name, "fake");
    std::strcpy(info_.extensions, ".aaa;.bbb");
    info_.type = 1;
    info_.version = kestrix::EngineInterfaceVersion;
  }
  ~FakeEngine() override { FreeExtraction(); }

  uint8_t* Extract(uint64_t* start, uint64_t* size, const char*) override {
    FreeExtraction();
    if (data_ == nullptr || *start + *size > size_) return nullptr;
    block_ = new uint8_t[*size ? *size : 1];
    std::memcpy(block_, data_ + *start, *size);
    return block_;
  }
  int32_t GetMode() override { return mode_; }
  void SetMode(int32_t mode) override { mode_ = mode; }
  void Attach(const uint8_t* data, uint32_t sizeLow, uint32_t sizeHigh, const char* extension,
              int32_t mode) override {
    data_ = data;
    size_ = kestrix::joinHalves(sizeLow, sizeHigh);
    SetMode(mode);
    SelectType(extension);
    block_ = nullptr;
  }
  int32_t IsCompatible(int32_t version) override {
    return version == 0 || version == info_.version;
  }
  int32_t ListContains(const char* list, const char* item) override {
    return list != nullptr && item != nullptr && std::strstr(list, item) != nullptr;
  }
  const kestrix::PluginInfo* GetInfo() override { return &info_; }
  uint64_t FindNext(uint32_t positionLow, uint32_t positionHigh, uint64_t* size,
                    const char* extension) override {
    if (extension != nullptr) SelectType(extension);
    const uint64_t low = kestrix::joinHalves(positionLow, positionHigh);
    const uint64_t start = find(low, open_);
    const uint64_t empty = bbb_ ? size_ + 1 : find(low, "()");
    const uint64_t stuck = bbb_ ? size_ + 1 : find(low, "@@");
    if (stuck < start && stuck < empty) {
      *size = 0;
      return low;
    }
    if (empty < start) {
      *size = 0;
      return empty + 2;
    }
    if (start > size_) {
      *size = 0;
      return mode_ == 261 || mode_ == 262 ? size_ : size_ + 1;
    }
    const uint64_t end = find(start + 2, close_);
    const bool precise = mode_ == 261 || mode_ == 262;
    if (end > size_ && precise) {
      *size = size_ - start;  // ran out of data: the caller decides on more
      return size_;
    }
    if (end > size_) {
      *size = 0;
      return size_ + 1;
    }
    *size = end + 2 - start;
    return end + 2;
  }
  void FreeExtraction() override {
    delete[] block_;
    block_ = nullptr;
  }
  int32_t SelectType(const char* extension) override {
    bbb_ = extension != nullptr && std::strstr(extension, "bbb") != nullptr;
    open_ = bbb_ ? "{{" : "[[";
    close_ = bbb_ ? "}}" : "]]";
    return 0;
  }
  uint64_t FindPattern(uint32_t low, uint32_t, const uint8_t*, int32_t) override { return low; }
  int32_t Supports(const char* extension) override {
    return ListContains(info_.extensions, extension);
  }

 private:
  // Position of the two-byte pattern at or after `from`; size + 1 when none.
  uint64_t find(uint64_t from, const char* pattern) const {
    for (uint64_t i = from; i + 1 < size_; ++i) {
      if (data_[i] == pattern[0] && data_[i + 1] == pattern[1]) return i;
    }
    return size_ + 1;
  }

  kestrix::PluginInfo info_;
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  int32_t mode_ = 256;
  bool bbb_ = false;
  const char* open_ = "[[";
  const char* close_ = "]]";
  uint8_t* block_ = nullptr;
};

}  // namespace

extern "C" {
__attribute__((visibility("default"))) kestrix::ScanEngine* CreateKxEngine() {
  return new FakeEngine;
}
__attribute__((visibility("default"))) void DeleteKxEngine(kestrix::ScanEngine* engine) {
  delete engine;
}
}
