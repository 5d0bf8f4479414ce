#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "platform/program_path.h"

namespace kestrix {
namespace {

const std::string pluginRoot = KX_TEST_PLUGIN_ROOT;

std::string tagOf(PluginEntry* entry) {
  return entry != nullptr && entry->engine() != nullptr ? entry->engine()->GetInfo()->name : "";
}

// Reads a plug-in's count of live engines through a handle of our own, which
// keeps the library mapped after the host has released it.
class LiveEngineCounter {
 public:
  explicit LiveEngineCounter(const std::string& path)
      : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  ~LiveEngineCounter() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  int live() const {
    auto function = reinterpret_cast<int (*)()>(dlsym(handle_, "TestPluginLiveEngines"));
    return function != nullptr ? function() : -1;
  }

 private:
  void* handle_;
};

TEST(PluginHostTest, FirstLoadedPluginWinsASharedExtensionRegisteredOnce) {
  ExtensionRegistry registry;
  PluginHost host(registry);
  ASSERT_EQ(host.LoadFolder(pluginRoot + "/shared/"), 2);

  // ".JPG" of the second plug-in differs from ".jpg" only in case.
  EXPECT_EQ(registry.keys(), (std::vector<std::string>{".jpg", ".gif", ".png"}));
  EXPECT_EQ(tagOf(host.FindEngine(".jpg", 0)), "first");
  EXPECT_EQ(tagOf(host.FindEngine(".png", 0)), "second");
  EXPECT_EQ(host.FindEngine(".tif", 0), nullptr);
  EXPECT_EQ(host.EngineFor(".gif"), host.FindEngine(".gif", 0)->engine());
}

TEST(PluginHostTest, FindEngineSkipsEnginesThatRefuseTheVersion) {
  ExtensionRegistry registry;
  PluginHost host(registry);
  ASSERT_EQ(host.LoadFolder(pluginRoot + "/shared"), 2);
  EXPECT_EQ(tagOf(host.FindEngine(".jpg", EngineInterfaceVersion)), "first");
  EXPECT_EQ(host.FindEngine(".jpg", 0x00020000), nullptr);
}

TEST(PluginHostTest, EmptyPiecesOfTheExtensionListAreRegisteredOnce) {
  ExtensionRegistry registry;
  PluginHost host(registry);
  ASSERT_EQ(host.LoadFolder(pluginRoot + "/separators/"), 1);
  EXPECT_EQ(registry.keys(), (std::vector<std::string>{".a", "", ".b"}));
  for (const auto& entry : registry.entries()) EXPECT_EQ(entry.tag, 0);
  // Every engine supports the empty text: it occurs in every list.
  EXPECT_NE(host.FindEngine("", 0), nullptr);
}

TEST(PluginHostTest, FolderSkipsDirectoriesTextFilesAndIncompletePlugins) {
  ExtensionRegistry registry;
  PluginHost host(registry);
  EXPECT_EQ(host.LoadFolder(pluginRoot + "/junk/"), 1);
  EXPECT_EQ(host.loadedCount(), 1);
  EXPECT_EQ(registry.keys(), (std::vector<std::string>{".jpg"}));
  EXPECT_EQ(host.FindEngine(".nd", 0), nullptr);
  EXPECT_EQ(host.FindEngine(".nc", 0), nullptr);

  // Each skipped file is named with the loader's reason; the folder is not a file.
  const auto& errors = host.loadErrors();
  ASSERT_EQ(errors.size(), 3u);
  auto mentions = [&](const std::string& text) {
    for (const auto& line : errors)
      if (line.find(text) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(mentions("not_a_library.kxp"));
  EXPECT_TRUE(mentions("no_delete.kxp"));
  EXPECT_TRUE(mentions("DeleteKxEngine"));
  EXPECT_TRUE(mentions("null_create.kxp: CreateKxEngine returned no engine"));
  EXPECT_FALSE(mentions("folder.kxp"));
}

TEST(PluginHostTest, PluginWithoutEngineLeavesNoHoleInTheChain) {
  ExtensionRegistry registry;
  PluginHost host(registry);
  EXPECT_EQ(host.LoadPlugin(pluginRoot + "/junk/null_create.kxp"), 0);
  EXPECT_EQ(host.LoadPlugin(pluginRoot + "/junk/good.kxp"), 1);
  EXPECT_EQ(host.loadedCount(), 1);
  EXPECT_EQ(host.index(), 1);
  EXPECT_EQ(tagOf(&host), "good");
}

TEST(PluginHostTest, EmptyFolderMeansTheCurrentOneNotTheLibrarySearchPath) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir((pluginRoot + "/separators").c_str()), 0);
  ExtensionRegistry registry;
  PluginHost host(registry);
  const int loaded = host.LoadFolder("");
  const std::vector<std::string> errors = host.loadErrors();
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(loaded, 1);
  EXPECT_TRUE(errors.empty()) << errors[0];
}

TEST(PluginHostTest, MissingFolderLoadsNothingAndSaysWhy) {
  ExtensionRegistry registry;
  PluginHost host(registry);
  EXPECT_EQ(host.LoadFolder(pluginRoot + "/no-such-folder/"), 0);
  ASSERT_EQ(host.loadErrors().size(), 1u);
  EXPECT_NE(host.loadErrors()[0].find("no-such-folder"), std::string::npos);
}

TEST(PluginHostTest, DestructionDeletesEveryEngineThroughItsPlugin) {
  const std::string path = pluginRoot + "/shared/a_first.kxp";
  LiveEngineCounter counter(path);
  {
    ExtensionRegistry registry;
    PluginHost host(registry);
    ASSERT_EQ(host.LoadFolder(pluginRoot + "/shared/"), 2);
    EXPECT_EQ(counter.live(), 1);
  }
  EXPECT_EQ(counter.live(), 0);
}

TEST(PluginHostTest, UnloadedEntryIsReusedInPlace) {
  ExtensionRegistry registry;
  PluginHost host(registry);
  ASSERT_EQ(host.LoadPlugin(pluginRoot + "/junk/good.kxp"), 1);
  ASSERT_EQ(host.LoadPlugin(pluginRoot + "/separators/sep.kxp"), 1);
  host.next()->Unload();
  EXPECT_EQ(host.loadedCount(), 1);
  ASSERT_EQ(host.LoadPlugin(pluginRoot + "/shared/a_first.kxp"), 1);
  EXPECT_EQ(host.next()->index(), 2);
  EXPECT_EQ(tagOf(host.next()), "first");
}

TEST(PluginHostTest, ShippedEngineRegistersItsFourTypesInOrder) {
  const char* bin = std::getenv("KESTRIX_BIN_DIR");
  const std::string path = std::string(bin != nullptr ? bin : "") + "/kxengine.kxp";
  if (bin == nullptr || access(path.c_str(), R_OK) != 0) GTEST_SKIP() << "no " << path;
  ExtensionRegistry registry;
  PluginHost host(registry);
  ASSERT_EQ(host.LoadPlugin(path), 1);
  const auto entries = registry.entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].key, ".jpg");
  EXPECT_EQ(entries[1].key, ".png");
  EXPECT_EQ(entries[2].key, ".mov");
  EXPECT_EQ(entries[3].key, ".mp4");
  EXPECT_EQ(entries[3].index, 4);
  EXPECT_NE(host.EngineFor("jpg"), nullptr);
  EXPECT_NE(host.EngineFor(".mov"), nullptr);
  EXPECT_NE(host.EngineFor(".mp4"), nullptr);
}

TEST(ProgramPathTest, FolderOfTheRunningProgramEndsWithASlash) {
  const std::string folder = programFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(programFile().rfind(folder, 0), 0u);
  EXPECT_NE(programFile().find("host_tests"), std::string::npos);
}

}  // namespace
}  // namespace kestrix
