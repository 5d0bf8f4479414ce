// Loads the built kxengine.kxp as the program does and checks its boundary:
// the dynamic symbol table, the identity record and an engine driven only
// through the two exports.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "engine/scan_engine.h"

namespace kestrix {
namespace {

std::string pluginPath() {
  const char* folder = std::getenv("KESTRIX_BIN_DIR");
  return std::string(folder ? folder : ".") + "/kxengine.kxp";
}

// Names of the symbols an ELF64 file defines in its dynamic symbol table,
// read from the section headers (.dynsym and its string table).
std::set<std::string> definedDynamicSymbols(const std::vector<char>& file) {
  std::set<std::string> names;
  auto fits = [&](uint64_t offset, uint64_t length) {
    return offset <= file.size() && length <= file.size() - offset;
  };
  if (!fits(0, sizeof(Elf64_Ehdr))) return names;
  Elf64_Ehdr header;
  std::memcpy(&header, file.data(), sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) {
    return names;
  }
  auto section = [&](uint64_t index, Elf64_Shdr& out) {
    const uint64_t at = header.e_shoff + index * header.e_shentsize;
    if (index >= header.e_shnum || !fits(at, sizeof(Elf64_Shdr))) return false;
    std::memcpy(&out, file.data() + at, sizeof out);
    return true;
  };
  for (uint64_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr symbols;
    Elf64_Shdr strings;
    if (!section(i, symbols) || symbols.sh_type != SHT_DYNSYM) continue;
    if (!section(symbols.sh_link, strings) || !fits(symbols.sh_offset, symbols.sh_size) ||
        !fits(strings.sh_offset, strings.sh_size)) {
      continue;
    }
    for (uint64_t at = 0; at + sizeof(Elf64_Sym) <= symbols.sh_size; at += sizeof(Elf64_Sym)) {
      Elf64_Sym symbol;
      std::memcpy(&symbol, file.data() + symbols.sh_offset + at, sizeof symbol);
      if (symbol.st_shndx == SHN_UNDEF || symbol.st_name == 0 ||
          symbol.st_name >= strings.sh_size) {
        continue;
      }
      const char* name = file.data() + strings.sh_offset + symbol.st_name;
      names.insert(std::string(name, strnlen(name, strings.sh_size - symbol.st_name)));
    }
  }
  return names;
}

class PluginModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    library_ = dlopen(pluginPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << pluginPath() << ": " << dlerror();
    create_ = reinterpret_cast<CreateEngineFunction>(dlsym(library_, CreateEngineSymbol));
    destroy_ = reinterpret_cast<DeleteEngineFunction>(dlsym(library_, DeleteEngineSymbol));
    ASSERT_NE(create_, nullptr);
    ASSERT_NE(destroy_, nullptr);
  }
  void TearDown() override {
    if (library_) dlclose(library_);
  }

  void* library_ = nullptr;
  CreateEngineFunction create_ = nullptr;
  DeleteEngineFunction destroy_ = nullptr;
};

TEST_F(PluginModuleTest, ExportsExactlyTheTwoFunctions) {
  std::ifstream in(pluginPath(), std::ios::binary);
  ASSERT_TRUE(in) << pluginPath();
  const std::vector<char> file((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  EXPECT_EQ(definedDynamicSymbols(file),
            (std::set<std::string>{"CreateKxEngine", "DeleteKxEngine"}));
}

TEST_F(PluginModuleTest, RecordFilledAtLoadAndShared) {
  ScanEngine* first = create_();
  ScanEngine* second = create_();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  const PluginInfo* info = first->GetInfo();
  EXPECT_EQ(info, second->GetInfo());
  const unsigned char name[] = {0x4b, 0x78, 0x43, 0x6f, 0x72, 0x65, 0x20, 0x83, 0x76,
                                0x83, 0x89, 0x83, 0x4f, 0x83, 0x43, 0x83, 0x93, 0x00};
  EXPECT_EQ(std::memcmp(info->name, name, sizeof name), 0);
  EXPECT_STREQ(info->extensions, ".jpg;.png;.mov;.mp4");
  EXPECT_EQ(info->type, 1);
  EXPECT_EQ(info->version, 0x00010003);
  destroy_(first);
  destroy_(second);
  destroy_(nullptr);  // ignored
}

TEST_F(PluginModuleTest, EngineScansAndExtractsThroughExports) {
  std::vector<uint8_t> block(4096, 0x11);
  const uint8_t soi[] = {0xFF, 0xD8, 0xFF, 0xE1};
  std::memcpy(block.data() + 100, soi, 4);
  block[2000] = 0xFF;
  block[2001] = 0xD9;
  ScanEngine* engine = create_();
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(engine->Supports(".jpg"), 1);
  EXPECT_EQ(engine->IsCompatible(0), 1);
  engine->Attach(block.data(), static_cast<uint32_t>(block.size()), 0, "jpg", ScanModeNormal);
  uint64_t size = 0;
  const uint64_t result = engine->FindNext(0, 0, &size, "jpg");
  EXPECT_EQ(result, 2002u);
  EXPECT_EQ(size, 1902u);
  uint64_t start = result - size;
  engine->Attach(block.data(), static_cast<uint32_t>(block.size()), 0, ".jpg", ScanModeNormal);
  const uint8_t* copy = engine->Extract(&start, &size, ".jpg");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::memcmp(copy, block.data() + 100, size), 0);
  engine->FreeExtraction();
  destroy_(engine);
}

}  // namespace
}  // namespace kestrix
