// Byte access to the registers of a PC parallel port: data (base), status
// (base + 1) and control (base + 2). The modules reach the port only through
// the port library in the port-driver directory, so a real ppdev port and the
// virtual board are interchangeable; tests put a recording port in its place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/shared_library.h"

namespace drivers {

class Port {
 public:
  using ReadFunction = unsigned int (*)(unsigned int);
  using WriteFunction = void (*)(unsigned int, unsigned int);

  virtual ~Port() = default;
  virtual std::uint8_t Read(std::uint16_t port) = 0;
  virtual void Write(std::uint16_t port, std::uint8_t value) = 0;
  // The port library's own entry points when this port is nothing more:
  // a caller making an access per clock calls them instead of Read and
  // Write. Null for any other port.
  virtual ReadFunction DirectRead() const { return nullptr; }
  virtual WriteFunction DirectWrite() const { return nullptr; }
};

// The library's file name inside the port-driver directory.
inline constexpr const char* kPortLibraryName = "portcall.so";

// The port library: exports port_readb(port) -> value in the low byte and
// port_writeb(port, value), cdecl, 32-bit arguments.
class PortLibrary final : public Port {
 public:
  // Loads `directory` + "portcall.so" (a separator is put between them when
  // the directory text lacks one). On failure returns null and says why in
  // `error`; `exports_missing` tells a library that loaded but lacks an
  // export (it is freed again) from one that did not load.
  static std::unique_ptr<PortLibrary> Load(const std::string& directory, std::string* error,
                                           bool* exports_missing = nullptr);

  std::uint8_t Read(std::uint16_t port) override;
  void Write(std::uint16_t port, std::uint8_t value) override;
  ReadFunction DirectRead() const override { return read_; }
  WriteFunction DirectWrite() const override { return write_; }

 private:
  PortLibrary() = default;

  platform::SharedLibrary library_;
  ReadFunction read_ = nullptr;
  WriteFunction write_ = nullptr;
};

// The full path the port library is loaded from.
std::string PortLibraryPath(const std::string& directory);

}  // namespace drivers
