// Shared helpers of the command-line tests: run kestrix-cli as a user would.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace kestrix::test {

struct CommandRun {
  int exitCode = -1;
  std::string out;
};

// Runs a shell command and collects its standard output.
inline CommandRun run(const std::string& command) {
  CommandRun result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buffer;
  size_t got;
  while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    result.out.append(buffer.data(), got);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string cli() { return std::string(std::getenv("KESTRIX_BIN_DIR")) + "/kestrix-cli"; }

// A scratch folder removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/kestrix-cli-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace kestrix::test
