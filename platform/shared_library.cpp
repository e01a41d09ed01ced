#include "platform/shared_library.h"

#include <dlfcn.h>
#include <utility>

namespace platform {

SharedLibrary::~SharedLibrary() { Close(); }

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool SharedLibrary::Open(const std::filesystem::path& path) {
  Close();
  dlerror();
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* text = dlerror();
    error_ = text ? text : "cannot load " + path.string();
    return false;
  }
  error_.clear();
  return true;
}

void* SharedLibrary::Symbol(const char* name) const {
  if (!handle_) return nullptr;
  return ::dlsym(handle_, name);
}

void SharedLibrary::Close() {
  if (handle_) ::dlclose(handle_);
  handle_ = nullptr;
}

}  // namespace platform
