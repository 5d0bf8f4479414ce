#include "host/plugin_entry.h"

namespace kestrix {

PluginEntry::~PluginEntry() {
  Unload();
  next_.reset();
}

void PluginEntry::Unload() {
  if (engine_ != nullptr && destroy_ != nullptr) destroy_(engine_);
  engine_ = nullptr;
  create_ = nullptr;
  destroy_ = nullptr;
  library_.close();
  index_ = 0;
}

}  // namespace kestrix
