#include "host/engine_set.h"

#include <utility>

namespace kestrix {

EngineSet::~EngineSet() { release(); }

EngineSet::EngineSet(EngineSet&& other) noexcept : engines_(std::move(other.engines_)) {
  other.engines_.clear();
}

EngineSet& EngineSet::operator=(EngineSet&& other) noexcept {
  if (this != &other) {
    release();
    engines_ = std::move(other.engines_);
    other.engines_.clear();
  }
  return *this;
}

void EngineSet::release() {
  for (const Owned& owned : engines_) owned.destroy(owned.engine);
  engines_.clear();
}

void EngineSet::add(ScanEngine* engine, DeleteEngineFunction destroy) {
  if (engine == nullptr || destroy == nullptr) return;
  try {
    engines_.push_back({engine, destroy});
  } catch (...) {
    destroy(engine);
  }
}

ScanEngine* EngineSet::engineFor(const char* extension) const {
  for (const Owned& owned : engines_) {
    if (owned.engine->Supports(extension) != 0 && owned.engine->IsCompatible(0) != 0) {
      return owned.engine;
    }
  }
  return nullptr;
}

}  // namespace kestrix
