// One loaded plug-in: its library, its two exports and the one engine it
// created. Entries form a singly linked chain whose first entry is the
// PluginHost itself; the entries in use are an unbroken prefix of the chain.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/scan_engine.h"
#include "platform/shared_library.h"

namespace kestrix {

class PluginEntry {
 public:
  PluginEntry() = default;
  // Unloads this entry, then the rest of the chain.
  virtual ~PluginEntry();
  PluginEntry(const PluginEntry&) = delete;
  PluginEntry& operator=(const PluginEntry&) = delete;

  // Destroys the engine through the plug-in's own DeleteKxEngine, then
  // releases the library; the entry becomes free (index 0). Engines are
  // always destroyed before their code is unmapped.
  void Unload();

  bool inUse() const { return index_ != 0; }
  int32_t index() const { return index_; }
  ScanEngine* engine() const { return engine_; }
  PluginEntry* next() const { return next_.get(); }

 protected:
  friend class PluginHost;

  std::unique_ptr<PluginEntry> next_;  // owned; null at the end of the chain
  int32_t index_ = 0;                  // 1-based position; 0 marks a free entry
  ScanEngine* engine_ = nullptr;       // created by create_, destroyed by destroy_
  SharedLibrary library_;
  CreateEngineFunction create_ = nullptr;
  DeleteEngineFunction destroy_ = nullptr;
};

}  // namespace kestrix
