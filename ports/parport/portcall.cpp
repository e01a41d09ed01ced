// portcall.so for real parallel ports: port_readb and port_writeb over ppdev.
// Devices are claimed on first use and released when the library unloads.
#include <cstdio>
#include <cstdlib>

#include "ports/parport/parallel_ports.h"

namespace {

ports::parport::ParallelPorts& Ports() {
  static ports::parport::PpdevSystem system;
  static ports::parport::ParallelPorts claimed(
      &system, ports::parport::DeviceTable(std::getenv("ROMSMITH_PARPORT")),
      [](const std::string& text) { std::fputs(text.c_str(), stderr); });
  return claimed;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) unsigned int port_readb(unsigned int port) {
  return Ports().Read(port);
}

extern "C" __attribute__((visibility("default"))) void port_writeb(unsigned int port,
                                                                   unsigned int value) {
  Ports().Write(port, static_cast<std::uint8_t>(value));
}
