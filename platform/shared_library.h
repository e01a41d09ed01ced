// Loading a module by path and finding its exports.
#pragma once

#include <filesystem>
#include <string>

namespace platform {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary();
  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Loads the module (its own symbols kept local, resolved at once).
  [[nodiscard]] bool Open(const std::filesystem::path& path);
  bool IsOpen() const { return handle_ != nullptr; }

  // The address of an export, or nullptr.
  void* Symbol(const char* name) const;
  template <typename Function>
  Function Get(const char* name) const {
    return reinterpret_cast<Function>(Symbol(name));
  }

  void Close();

  // What the loader said about the last failure.
  const std::string& error() const { return error_; }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace platform
