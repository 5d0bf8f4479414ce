// The program-wide, ordered list of file extensions that the loaded scan
// engines find (".jpg", ".png", ".mov", …). The scan walks it in order, one
// pass per extension, so the order of registration is the order of the
// results list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

class ExtensionRegistry {
 public:
  struct Entry {
    intptr_t tag = 0;   // 0 for extensions
    int32_t index = 0;  // 1-based position
    std::string key;    // the extension with its leading dot, as first met
    std::string value;  // empty for extensions
  };

  // Keys are cut to this many bytes: an extension list from a plug-in is
  // foreign text, and no real extension comes near this length.
  static constexpr size_t MaxKeyLength = 1023;

  // The one list the program uses; it lives until exit and only grows.
  static ExtensionRegistry& global();

  ExtensionRegistry() = default;
  ExtensionRegistry(const ExtensionRegistry&) = delete;
  ExtensionRegistry& operator=(const ExtensionRegistry&) = delete;

  // Adds key unless a key equal to it, ignoring ASCII case, is already there
  // (".JPG" after ".jpg" is not added). Returns the 1-based index of the
  // entry that holds it.
  int32_t add(std::string_view key);
  bool contains(std::string_view key) const;
  // A snapshot of the keys in registration order.
  std::vector<std::string> keys() const;
  std::vector<Entry> entries() const;
  size_t size() const;

 private:
  // Written while plug-ins load at start-up, read by the scan thread later;
  // the lock keeps a late reader safe at no measurable cost.
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace kestrix
