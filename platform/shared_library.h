// A loaded shared library (dlopen), released on destruction.
#pragma once

#include <string>

namespace kestrix {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary();
  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Loads the file with every symbol resolved now and kept local to it, so
  // two plug-ins that define the same internal names never see each other's.
  // On failure returns false and error() holds the loader's own text.
  bool open(const std::string& path);
  // The address of an exported symbol, or null (error() then says why).
  void* symbol(const char* name);
  void close();
  bool isOpen() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace kestrix
