#include "engine/plugin_info.h"

#include <cstring>

namespace kestrix {

namespace {

PluginInfo pluginInfo;  // zero until the load-time fill below has run

static_assert(sizeof(PluginName) <= sizeof(PluginInfo::name));
static_assert(sizeof(PluginExtensions) <= sizeof(PluginInfo::extensions));

// Runs when the library is loaded into a process, the counterpart of the
// process-attach notification; unloading needs nothing.
__attribute__((constructor)) void fillPluginInfo() {
  std::memcpy(pluginInfo.name, PluginName, sizeof(PluginName));
  std::memcpy(pluginInfo.extensions, PluginExtensions, sizeof(PluginExtensions));
  pluginInfo.type = PluginType;
  pluginInfo.version = EngineInterfaceVersion;
}

}  // namespace

const PluginInfo& kxPluginInfo() { return pluginInfo; }

}  // namespace kestrix
