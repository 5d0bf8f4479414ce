#include "cli/scan_session.h"
#include "cli/cli_texts.h"

#include <cstdio>
#include <thread>

#include "platform/program_path.h"
#include "texts/job_texts.h"

namespace kestrix {

void printError(const std::string& message) {
  std::string text;
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') continue;
    text += message[i];
  }
  std::fprintf(stderr, "%s\n", text.c_str());
}

ScanSession::ScanSession() {
  if (host_.LoadFolder(programFolder()) == 0) {
    printError(kNoPluginMessage);
    for (const std::string& line : host_.loadErrors()) printError(line);
  }
  engines_ = host_.createEngineSet();
  // A second set lets the scan search the later file types on the second
  // core while the first type is searched on this one.
  if (std::thread::hardware_concurrency() > 1) besideEngines_ = host_.createEngineSet();
}

bool ScanSession::chooseMap(const std::string& imagePath, const std::string& mapPath,
                            std::string& error) {
  map_.reset();
  if (!mapPath.empty()) {
    RescueMapLoad loaded = RescueMap::load(mapPath);
    if (!loaded.map) {
      error = cliFormat(CliText::MapUnreadable, mapPath.c_str(), loaded.error.c_str());
      return false;
    }
    map_ = std::move(loaded.map);
    return true;
  }
  ImageMapLoad beside = loadMapBeside(imagePath);
  if (!beside.path.empty() && !beside.map) {
    // A stray or damaged file must not stop the scan of a good image.
    const std::string why =
        cliFormat(CliText::MapUnreadable, beside.path.c_str(), beside.error.c_str());
    printError(cliFormat(CliText::MapBesideUnreadable, why.c_str()));
  }
  map_ = std::move(beside.map);
  return true;
}

bool ScanSession::scan(const std::string& imagePath, const ScanSettings& settings,
                       std::string& error, const std::function<bool()>& stopRequested) {
  list_.clear();
  image_.reset();
  ImageOpenResult opened = ImageFile::open(imagePath);
  if (!opened.image) {
    error = loadStatusMessage(opened.status);
    return false;
  }
  image_ = std::move(opened.image);
  ScanCallbacks callbacks;
  if (stopRequested) callbacks.shouldContinue = [&stopRequested] { return !stopRequested(); };
  mode_ = settings.mode;
  summary_ = scanImage(*image_, engines_, registry_.keys(), list_, settings, callbacks,
                       besideEngines_.empty() ? nullptr : &besideEngines_);
  if (map_) markUnreadableSectors(list_, *map_);
  return true;
}

}  // namespace kestrix
