// The PC parallel-port registers at a port base (data +0, status +1,
// control +2) mapped onto Linux ppdev devices. ppdev's data, status and
// control ioctls already carry the register values as a PC port shows them
// to software (status bit 7 and control bits 0, 1, 3 inverted against the
// connector pins), so those bits pass through unchanged; what ppdev does not
// take through its control ioctl (the data direction, bit 5, and the bits it
// ignores) is kept here so that a read-modify-write of the control register
// behaves as on the hardware.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ports::parport {

// The system calls the mapping needs; the library uses the real ones, tests a
// fake.
class PpdevIo {
 public:
  virtual ~PpdevIo() = default;
  // Returns a descriptor, or -1 with errno set.
  virtual int Open(const std::string& path) = 0;
  // Returns 0, or -1 with errno set.
  virtual int Ioctl(int fd, unsigned long request, void* argument) = 0;
  virtual void Close(int fd) = 0;
};

class PpdevSystem final : public PpdevIo {
 public:
  int Open(const std::string& path) override;
  int Ioctl(int fd, unsigned long request, void* argument) override;
  void Close(int fd) override;
};

struct PortDevice {
  std::uint16_t base = 0;
  std::string path;
};

// 0x378 is /dev/parport0 and 0x278 /dev/parport1. `override_text` (the
// environment variable ROMSMITH_PARPORT) may name other devices: a list of
// BASE=DEVICE entries separated by "," or ";" (BASE in C notation, 0x378),
// or one DEVICE alone, which then serves every base.
std::vector<PortDevice> DeviceTable(const char* override_text);

class ParallelPorts {
 public:
  using Reporter = std::function<void(const std::string&)>;

  ParallelPorts(PpdevIo* io, std::vector<PortDevice> devices, Reporter report);
  ~ParallelPorts();
  ParallelPorts(const ParallelPorts&) = delete;
  ParallelPorts& operator=(const ParallelPorts&) = delete;

  // A register of a known base; the device is opened and claimed on first
  // use. Ports of no known base, and every port of a device that cannot be
  // opened or claimed, read 0xFF and ignore writes.
  std::uint8_t Read(std::uint32_t port);
  void Write(std::uint32_t port, std::uint8_t value);

  // Releases and closes every claimed device.
  void ReleaseAll();

 private:
  struct Device {
    PortDevice where;
    int fd = -1;
    bool failed = false;  // reported once, not retried
    std::uint8_t control_kept = 0;  // control bits 4..7 as last written
  };

  Device* Find(std::uint32_t port, int* offset);
  bool Ready(Device& device);
  void Fail(Device& device, const char* what, int error);

  PpdevIo* io_;
  std::vector<Device> devices_;
  Reporter report_;
};

}  // namespace ports::parport
