// The two exports of kxengine.kxp. Everything else in the module is hidden
// (-fvisibility=hidden and plugin_exports.map), so the host sees only these.
#include <new>

#include "engine/carving_engine.h"
#include "engine/scan_engine.h"

extern "C" __attribute__((visibility("default"))) kestrix::ScanEngine* CreateKxEngine() {
  return new (std::nothrow) kestrix::CarvingEngine;
}

extern "C" __attribute__((visibility("default"))) void DeleteKxEngine(kestrix::ScanEngine* engine) {
  delete engine;  // virtual destructor; deleting null does nothing
}
