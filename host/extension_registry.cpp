#include "host/extension_registry.h"

#include <algorithm>

namespace kestrix {

namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

ExtensionRegistry& ExtensionRegistry::global() {
  static ExtensionRegistry registry;
  return registry;
}

int32_t ExtensionRegistry::add(std::string_view key) {
  key = key.substr(0, MaxKeyLength);
  std::lock_guard lock(mutex_);
  for (const Entry& entry : entries_) {
    if (equalIgnoringCase(entry.key, key)) return entry.index;
  }
  Entry entry;
  entry.index = static_cast<int32_t>(entries_.size() + 1);
  entry.key = std::string(key);
  entries_.push_back(std::move(entry));
  return entries_.back().index;
}

bool ExtensionRegistry::contains(std::string_view key) const {
  std::lock_guard lock(mutex_);
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const Entry& entry) { return equalIgnoringCase(entry.key, key); });
}

std::vector<std::string> ExtensionRegistry::keys() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> result;
  result.reserve(entries_.size());
  for (const Entry& entry : entries_) result.push_back(entry.key);
  return result;
}

std::vector<ExtensionRegistry::Entry> ExtensionRegistry::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

size_t ExtensionRegistry::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace kestrix
