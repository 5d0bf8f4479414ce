// The plug-in host: loads every *.kxp scan-engine plug-in of a folder, asks
// each for one engine, registers the file types it finds, and answers which
// engine handles an extension.
//
//   PluginHost host;                        // empty chain
//   host.LoadFolder(programFolder());       // at start-up, once
//   ScanEngine* e = host.EngineFor(".jpg"); // scan and restore, later
//   ~PluginHost                             // engines deleted, libraries released
//
// Loading happens on the main thread before any job exists; afterwards the
// chain is only read, so scan and job threads need no lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/engine_set.h"
#include "host/extension_registry.h"
#include "host/plugin_entry.h"

namespace kestrix {

class PluginHost : public PluginEntry {
 public:
  // Extensions are registered into `registry`; the program uses the global
  // one, tests their own.
  explicit PluginHost(ExtensionRegistry& registry = ExtensionRegistry::global());
  ~PluginHost() override = default;

  // Loads every regular file named *.kxp (any letter case) in the folder, in
  // byte order of the names so that which plug-in wins a shared extension
  // does not depend on the directory's internal order. Directories and files
  // that fail to load are skipped (see loadErrors()). Returns the number of
  // plug-ins loaded.
  int LoadFolder(const std::string& folder);

  // 1 when the plug-in was loaded, created its engine and registered its
  // extensions; 0 otherwise (the library is released again).
  int LoadPlugin(const std::string& path);

  // The first entry in load order whose engine supports the extension and
  // accepts the version; null when there is none.
  PluginEntry* FindEngine(const char* extension, int32_t version);

  // Shortcut for FindEngine(extension, 0)->engine().
  ScanEngine* EngineFor(const char* extension);

  int loadedCount() const;

  // A fresh engine from every loaded plug-in, in load order, for one user
  // (the scan, the restore, the thumbnails). A plug-in whose create returns
  // null is left out of the set. Safe on any thread once loading is done.
  EngineSet createEngineSet() const;

  // One line per file that was skipped: the file and the loader's reason.
  const std::vector<std::string>& loadErrors() const { return loadErrors_; }

  ExtensionRegistry& registry() const { return registry_; }

 private:
  PluginEntry& takeFreeEntry();
  void registerExtensions(ScanEngine& engine);

  ExtensionRegistry& registry_;
  std::vector<std::string> loadErrors_;
};

}  // namespace kestrix
