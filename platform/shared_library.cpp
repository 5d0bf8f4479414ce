#include "platform/shared_library.h"

#include <dlfcn.h>

#include <utility>

namespace kestrix {

SharedLibrary::~SharedLibrary() { close(); }

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool SharedLibrary::open(const std::string& path) {
  close();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* text = dlerror();
    error_ = text != nullptr ? text : "unknown loader error";
    return false;
  }
  error_.clear();
  return true;
}

void* SharedLibrary::symbol(const char* name) {
  if (handle_ == nullptr) {
    error_ = "library not loaded";
    return nullptr;
  }
  dlerror();  // clear a stale error so that a null result can be told apart
  void* address = dlsym(handle_, name);
  if (address == nullptr) {
    const char* text = dlerror();
    error_ = text != nullptr ? text : std::string("symbol ") + name + " is null";
  }
  return address;
}

void SharedLibrary::close() {
  if (handle_ != nullptr) {
    dlclose(handle_);
    handle_ = nullptr;
  }
}

}  // namespace kestrix
