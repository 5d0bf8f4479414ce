// An engine set: one fresh engine from every loaded plug-in, owned by one
// user. Engines hold the block they are bound to and their extraction between
// calls, so two threads must never share one. The scan, the restore and the
// thumbnail worker therefore each take their own set from the host and need
// no lock between them.
//
//   EngineSet engines = host.createEngineSet();   // on any thread
//   ScanEngine* jpeg = engines.engineFor(".jpg"); // same choice as the host's
//   ~EngineSet                                    // engines deleted first
//
// The set must not outlive the host: its engines' code lives in the host's
// libraries.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/scan_engine.h"

namespace kestrix {

class EngineSet {
 public:
  EngineSet() = default;
  ~EngineSet();
  EngineSet(EngineSet&& other) noexcept;
  EngineSet& operator=(EngineSet&& other) noexcept;
  EngineSet(const EngineSet&) = delete;
  EngineSet& operator=(const EngineSet&) = delete;

  // The first engine in plug-in load order that supports the extension (with
  // or without its dot) and accepts interface version 0; null when none.
  ScanEngine* engineFor(const char* extension) const;
  size_t size() const { return engines_.size(); }
  bool empty() const { return engines_.empty(); }

  // Used by the host: takes ownership of an engine and its plug-in's delete.
  void add(ScanEngine* engine, DeleteEngineFunction destroy);

 private:
  void release();

  struct Owned {
    ScanEngine* engine;
    DeleteEngineFunction destroy;
  };
  std::vector<Owned> engines_;  // in plug-in load order
};

}  // namespace kestrix
