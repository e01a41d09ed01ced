#include "ports/parport/parallel_ports.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace ports::parport {
namespace {

constexpr int kData = 0;
constexpr int kStatus = 1;
constexpr int kControl = 2;

// Control bits ppdev's control ioctl takes: strobe, auto feed, init, select.
constexpr std::uint8_t kControlLines = 0x0F;
// Control bit 5: data lines driven by the peripheral (reverse direction).
constexpr std::uint8_t kDirectionBit = 0x20;

std::string Trim(std::string text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

int PpdevSystem::Open(const std::string& path) { return ::open(path.c_str(), O_RDWR | O_CLOEXEC); }

int PpdevSystem::Ioctl(int fd, unsigned long request, void* argument) {
  return ::ioctl(fd, request, argument);
}

void PpdevSystem::Close(int fd) { ::close(fd); }

std::vector<PortDevice> DeviceTable(const char* override_text) {
  std::vector<PortDevice> table = {{0x378, "/dev/parport0"}, {0x278, "/dev/parport1"}};
  if (!override_text || !*override_text) return table;
  const std::string text = override_text;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(",;", start);
    if (end == std::string::npos) end = text.size();
    const std::string entry = Trim(text.substr(start, end - start));
    start = end + 1;
    if (entry.empty()) continue;
    const auto equals = entry.find('=');
    if (equals == std::string::npos) {
      for (PortDevice& device : table) device.path = entry;
      continue;
    }
    const std::string base_text = Trim(entry.substr(0, equals));
    const std::string path = Trim(entry.substr(equals + 1));
    char* rest = nullptr;
    const unsigned long base = std::strtoul(base_text.c_str(), &rest, 0);
    if (base_text.empty() || *rest != '\0' || base > 0xFFFF || path.empty()) continue;
    bool known = false;
    for (PortDevice& device : table) {
      if (device.base == base) {
        device.path = path;
        known = true;
      }
    }
    if (!known) table.push_back({static_cast<std::uint16_t>(base), path});
  }
  return table;
}

ParallelPorts::ParallelPorts(PpdevIo* io, std::vector<PortDevice> devices, Reporter report)
    : io_(io), report_(std::move(report)) {
  for (PortDevice& where : devices) devices_.push_back(Device{std::move(where)});
}

ParallelPorts::~ParallelPorts() { ReleaseAll(); }

ParallelPorts::Device* ParallelPorts::Find(std::uint32_t port, int* offset) {
  for (Device& device : devices_) {
    if (port >= device.where.base && port <= device.where.base + 2u) {
      *offset = static_cast<int>(port - device.where.base);
      return &device;
    }
  }
  return nullptr;
}

void ParallelPorts::Fail(Device& device, const char* what, int error) {
  device.failed = true;
  if (!report_) return;
  char base[16];
  std::snprintf(base, sizeof base, "0x%X", device.where.base);
  report_("portcall: cannot " + std::string(what) + " " + device.where.path + " for port " +
          base + ": " + std::strerror(error) +
          ". The user needs read and write access to the device (membership of the lp "
          "group), the ppdev kernel module must be loaded, and no other program may hold "
          "the port. ROMSMITH_PARPORT can name another device (BASE=DEVICE).\n");
}

bool ParallelPorts::Ready(Device& device) {
  if (device.fd >= 0) return true;
  if (device.failed) return false;
  const int fd = io_->Open(device.where.path);
  if (fd < 0) {
    Fail(device, "open", errno);
    return false;
  }
  if (io_->Ioctl(fd, PPCLAIM, nullptr) != 0) {
    const int error = errno;
    io_->Close(fd);
    Fail(device, "claim", error);
    return false;
  }
  device.fd = fd;
  // Start in the forward direction, as a PC port comes up.
  int forward = 0;
  io_->Ioctl(fd, PPDATADIR, &forward);
  return true;
}

std::uint8_t ParallelPorts::Read(std::uint32_t port) {
  int offset = 0;
  Device* device = Find(port, &offset);
  if (!device || !Ready(*device)) return 0xFF;
  unsigned char value = 0xFF;
  switch (offset) {
    case kData:
      io_->Ioctl(device->fd, PPRDATA, &value);
      break;
    case kStatus:
      io_->Ioctl(device->fd, PPRSTATUS, &value);
      break;
    case kControl:
      if (io_->Ioctl(device->fd, PPRCONTROL, &value) != 0) value = 0;
      value = static_cast<unsigned char>((value & kControlLines) | device->control_kept);
      break;
  }
  return value;
}

void ParallelPorts::Write(std::uint32_t port, std::uint8_t value) {
  int offset = 0;
  Device* device = Find(port, &offset);
  if (!device || !Ready(*device)) return;
  unsigned char byte = value;
  switch (offset) {
    case kData:
      io_->Ioctl(device->fd, PPWDATA, &byte);
      break;
    case kStatus:
      break;  // read only
    case kControl: {
      const bool was_reverse = (device->control_kept & kDirectionBit) != 0;
      const bool reverse = (value & kDirectionBit) != 0;
      if (reverse != was_reverse) {
        int direction = reverse ? 1 : 0;
        io_->Ioctl(device->fd, PPDATADIR, &direction);
      }
      device->control_kept = static_cast<std::uint8_t>(value & ~kControlLines);
      unsigned char lines = static_cast<unsigned char>(value & kControlLines);
      io_->Ioctl(device->fd, PPWCONTROL, &lines);
      break;
    }
  }
}

void ParallelPorts::ReleaseAll() {
  for (Device& device : devices_) {
    if (device.fd < 0) continue;
    io_->Ioctl(device.fd, PPRELEASE, nullptr);
    io_->Close(device.fd);
    device.fd = -1;
  }
}

}  // namespace ports::parport
