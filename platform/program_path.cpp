#include "platform/program_path.h"

#include <climits>
#include <cstdlib>
#include <memory>

namespace kestrix {

std::string programFile() {
  // /proc/self/exe is a link to the executable; realpath also resolves any
  // links along the way, so a program started through a symlink in
  // /usr/bin still finds the plug-ins beside its real file.
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath("/proc/self/exe", nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

std::string programFolder() {
  std::string path = programFile();
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  path.resize(slash + 1);
  return path;
}

}  // namespace kestrix
