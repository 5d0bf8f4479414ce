// One scan for the command line: plug-ins loaded from the program's folder,
// the image mapped read-only, and the same synchronous scan the window's
// scan thread runs (core/image_scan.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/candidate_list.h"
#include "core/image_file.h"
#include "core/image_scan.h"
#include "core/unreadable_sectors.h"
#include "host/engine_set.h"
#include "host/extension_registry.h"
#include "host/plugin_host.h"

namespace kestrix {

class ScanSession {
 public:
  // Loads the plug-ins next to the program; warns on stderr when none loads.
  ScanSession();

  // True when at least one plug-in was loaded: without one no scan can be
  // trusted to mean "nothing on the card".
  bool hasEngines() const { return !engines_.empty(); }

  // Maps the image and scans it. False with the user's message in `error`
  // when the image cannot be opened. `stopRequested` (may be empty) is asked
  // between finds; a stopped scan returns true with stopped() set.
  bool scan(const std::string& imagePath, const ScanSettings& settings, std::string& error,
            const std::function<bool()>& stopRequested = {});

  // Chooses the rescue map the next scan reads: `mapPath` when not empty
  // (false with the message in `error` when it cannot be read), else the
  // map beside the image (mapPathBeside), which is only warned about on
  // stderr and left out when it cannot be read.
  bool chooseMap(const std::string& imagePath, const std::string& mapPath, std::string& error);
  // The map in use, or null: every row then carries its unreadable sectors.
  const RescueMap* map() const { return map_ ? &*map_ : nullptr; }

  const ImageFile* image() const { return image_.get(); }
  CandidateList& list() { return list_; }
  EngineSet& engines() { return engines_; }
  // Another set of fresh engines, for a second thread.
  EngineSet createEngineSet() const { return host_.createEngineSet(); }
  const ScanSummary& summary() const { return summary_; }
  // How the last scan looked at the bytes.
  ScanMode mode() const { return mode_; }

 private:
  ExtensionRegistry registry_;
  PluginHost host_{registry_};
  EngineSet engines_;        // after host_: deleted before the libraries go
  EngineSet besideEngines_;  // the scan's second thread; empty on one core
  std::unique_ptr<ImageFile> image_;
  CandidateList list_;  // after image_: rows go before the mapping they view
  ScanSummary summary_;
  ScanMode mode_ = ScanMode::Precise;
  std::optional<RescueMap> map_;
};

// Prints a message for the terminal: the system's CR LF become LF.
void printError(const std::string& message);

}  // namespace kestrix
