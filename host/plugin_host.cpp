#include "host/plugin_host.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace kestrix {

namespace {

bool hasPluginExtension(std::string_view name) {
  constexpr std::string_view suffix = ".kxp";
  if (name.size() < suffix.size()) return false;
  const std::string_view tail = name.substr(name.size() - suffix.size());
  return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
    return (a >= 'A' && a <= 'Z' ? a + ('a' - 'A') : a) == b;
  });
}

}  // namespace

PluginHost::PluginHost(ExtensionRegistry& registry) : registry_(registry) {}

int PluginHost::LoadFolder(const std::string& folder) {
  // An empty folder is the current one, spelt "./": dlopen takes a name
  // without a slash as a library to look up on the system's search path.
  std::string prefix = folder.empty() ? "./" : folder;
  if (prefix.back() != '/') prefix += '/';

  std::vector<std::string> names;
  if (DIR* dir = opendir(prefix.c_str())) {
    while (const dirent* item = readdir(dir)) {
      if (hasPluginExtension(item->d_name)) names.emplace_back(item->d_name);
    }
    closedir(dir);
  } else {
    loadErrors_.push_back(prefix + ": " + std::strerror(errno));
    return 0;
  }
  std::sort(names.begin(), names.end());

  int count = 0;
  for (const std::string& name : names) {
    const std::string path = prefix + name;
    struct stat info {};
    // A folder that happens to be named x.kxp is not a plug-in.
    if (stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
    if (LoadPlugin(path) == 1) ++count;
  }
  return count;
}

int PluginHost::LoadPlugin(const std::string& path) {
  SharedLibrary library;
  if (!library.open(path)) {
    loadErrors_.push_back(path + ": " + library.error());
    return 0;
  }
  auto create = reinterpret_cast<CreateEngineFunction>(library.symbol(CreateEngineSymbol));
  auto destroy = create != nullptr
                     ? reinterpret_cast<DeleteEngineFunction>(library.symbol(DeleteEngineSymbol))
                     : nullptr;
  if (create == nullptr || destroy == nullptr) {
    loadErrors_.push_back(path + ": " + library.error());
    return 0;  // the library is released as it goes out of scope
  }
  ScanEngine* engine = create();
  if (engine == nullptr) {
    // Without an engine the plug-in can answer nothing; keeping it would
    // leave a hole in the chain that FindEngine would have to step over.
    loadErrors_.push_back(path + ": " + CreateEngineSymbol + " returned no engine");
    return 0;
  }

  PluginEntry& entry = takeFreeEntry();
  entry.library_ = std::move(library);
  entry.create_ = create;
  entry.destroy_ = destroy;
  entry.engine_ = engine;
  registerExtensions(*engine);
  return 1;
}

PluginEntry& PluginHost::takeFreeEntry() {
  PluginEntry* entry = this;
  int32_t position = 1;
  while (entry->inUse()) {
    if (!entry->next_) entry->next_ = std::make_unique<PluginEntry>();
    entry = entry->next_.get();
    ++position;
  }
  entry->index_ = position;
  return *entry;
}

void PluginHost::registerExtensions(ScanEngine& engine) {
  const PluginInfo* info = engine.GetInfo();
  if (info == nullptr) return;
  // The record comes from foreign code: never trust it to be terminated.
  const std::string_view list(info->extensions,
                              strnlen(info->extensions, sizeof(info->extensions)));
  // Every piece between separators counts, empty ones included: ".jpg;;"
  // registers ".jpg" and "".
  size_t begin = 0;
  while (true) {
    const size_t end = list.find(';', begin);
    registry_.add(list.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
}

PluginEntry* PluginHost::FindEngine(const char* extension, int32_t version) {
  for (PluginEntry* entry = this; entry != nullptr && entry->inUse(); entry = entry->next()) {
    ScanEngine* engine = entry->engine();
    if (engine != nullptr && engine->Supports(extension) != 0 &&
        engine->IsCompatible(version) != 0) {
      return entry;
    }
  }
  return nullptr;
}

ScanEngine* PluginHost::EngineFor(const char* extension) {
  PluginEntry* entry = FindEngine(extension, 0);
  return entry != nullptr ? entry->engine() : nullptr;
}

EngineSet PluginHost::createEngineSet() const {
  EngineSet set;
  for (const PluginEntry* entry = this; entry != nullptr && entry->inUse(); entry = entry->next()) {
    if (entry->create_ == nullptr || entry->destroy_ == nullptr) continue;
    set.add(entry->create_(), entry->destroy_);
  }
  return set;
}

int PluginHost::loadedCount() const {
  int count = 0;
  for (const PluginEntry* entry = this; entry != nullptr && entry->inUse(); entry = entry->next())
    ++count;
  return count;
}

}  // namespace kestrix
