#include "drivers/transport/port.h"

namespace drivers {

std::string PortLibraryPath(const std::string& directory) {
  std::string path = directory;
  if (!path.empty() && path.back() != '/') path += '/';
  if (path.empty()) path = "./";
  return path + kPortLibraryName;
}

std::unique_ptr<PortLibrary> PortLibrary::Load(const std::string& directory, std::string* error,
                                               bool* exports_missing) {
  if (exports_missing) *exports_missing = false;
  std::unique_ptr<PortLibrary> library(new PortLibrary());
  const std::string path = PortLibraryPath(directory);
  if (!library->library_.Open(path)) {
    if (error) *error = library->library_.error();
    return nullptr;
  }
  library->read_ = library->library_.Get<ReadFunction>("port_readb");
  library->write_ = library->library_.Get<WriteFunction>("port_writeb");
  if (!library->read_ || !library->write_) {
    if (error) *error = path + " does not export port_readb and port_writeb";
    if (exports_missing) *exports_missing = true;
    return nullptr;
  }
  return library;
}

// The export may be declared with a byte result; only the low byte is defined.
std::uint8_t PortLibrary::Read(std::uint16_t port) {
  return static_cast<std::uint8_t>(read_(port) & 0xFFu);
}

void PortLibrary::Write(std::uint16_t port, std::uint8_t value) { write_(port, value); }

}  // namespace drivers
