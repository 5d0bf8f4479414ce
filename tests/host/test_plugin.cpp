// A minimal scan-engine plug-in for the host tests. CMake builds it several
// times with different definitions: the extensions it claims, a tag naming
// the build, an engine-less create, a missing DeleteKxEngine.
#include <cstring>

#include "engine/scan_engine.h"

#define KX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

kestrix::PluginInfo info;
int liveEngines = 0;

__attribute__((constructor)) void fillInfo() {
  std::strncpy(info.name, KX_TEST_TAG, sizeof(info.name) - 1);
  // CMake cannot pass ';' inside a definition, so the build writes '|'.
  std::strncpy(info.extensions, KX_TEST_EXTENSIONS, sizeof(info.extensions) - 1);
  for (char& c : info.extensions)
    if (c == '|') c = ';';
  info.type = 1;
  info.version = kestrix::EngineInterfaceVersion;
}

class TestEngine : public kestrix::ScanEngine {
 public:
  uint8_t* Extract(uint64_t*, uint64_t*, const char*) override { return nullptr; }
  int32_t GetMode() override { return mode_; }
  void SetMode(int32_t mode) override { mode_ = mode; }
  void Attach(const uint8_t*, uint32_t, uint32_t, const char*, int32_t mode) override {
    mode_ = mode;
  }
  int32_t IsCompatible(int32_t version) override {
    return version == 0 || version == info.version ? 1 : 0;
  }
  int32_t ListContains(const char* list, const char* item) override {
    return item != nullptr && std::strstr(list, item) != nullptr ? 1 : 0;
  }
  const kestrix::PluginInfo* GetInfo() override { return &info; }
  uint64_t FindNext(uint32_t, uint32_t, uint64_t* size, const char*) override {
    *size = 0;
    return UINT64_MAX;
  }
  void FreeExtraction() override {}
  ~TestEngine() override { --liveEngines; }
  int32_t SelectType(const char*) override { return -1; }
  uint64_t FindPattern(uint32_t low, uint32_t high, const uint8_t*, int32_t) override {
    return kestrix::joinHalves(low, high);
  }
  int32_t Supports(const char* extension) override {
    return ListContains(info.extensions, extension);
  }

 private:
  int32_t mode_ = kestrix::ScanModeNormal;
};

}  // namespace

KX_EXPORT kestrix::ScanEngine* CreateKxEngine() {
#ifdef KX_TEST_CREATE_NULL
  return nullptr;
#else
  ++liveEngines;
  return new TestEngine;
#endif
}

#ifndef KX_TEST_NO_DELETE
KX_EXPORT void DeleteKxEngine(kestrix::ScanEngine* engine) { delete engine; }
#endif

// Lets a test see whether the host destroyed every engine it created.
KX_EXPORT int TestPluginLiveEngines() { return liveEngines; }
