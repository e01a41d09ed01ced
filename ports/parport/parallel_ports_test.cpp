#include <gtest/gtest.h>

#include <cerrno>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <map>
#include <string>
#include <vector>

#include "ports/parport/parallel_ports.h"

namespace ports::parport {
namespace {

// Devices that hold the three registers ppdev shows; every call is logged.
class FakePpdev : public PpdevIo {
 public:
  struct Registers {
    unsigned char data = 0, status = 0x7F, control = 0x0C;
    int direction = -1;
    bool claimed = false;
  };

  int Open(const std::string& path) override {
    log.push_back("open " + path);
    if (refuse_open.count(path)) {
      errno = EACCES;
      return -1;
    }
    const int fd = next_fd++;
    paths[fd] = path;
    return fd;
  }
  int Ioctl(int fd, unsigned long request, void* argument) override {
    Registers& r = devices[paths[fd]];
    auto* byte = static_cast<unsigned char*>(argument);
    switch (request) {
      case PPCLAIM:
        log.push_back("claim " + paths[fd]);
        if (refuse_claim) {
          errno = EBUSY;
          return -1;
        }
        r.claimed = true;
        return 0;
      case PPRELEASE: log.push_back("release " + paths[fd]); r.claimed = false; return 0;
      case PPWDATA: r.data = *byte; return 0;
      case PPRDATA: *byte = r.data; return 0;
      case PPRSTATUS: *byte = r.status; return 0;
      case PPWCONTROL:
        EXPECT_EQ(*byte & 0xF0, 0) << "ppdev takes only the four control lines";
        r.control = *byte;
        return 0;
      case PPRCONTROL: *byte = r.control; return 0;
      case PPDATADIR: r.direction = *static_cast<int*>(argument); return 0;
    }
    ADD_FAILURE() << "unexpected ioctl " << request;
    return -1;
  }
  void Close(int fd) override { log.push_back("close " + paths[fd]); }

  int next_fd = 3;
  bool refuse_claim = false;
  std::map<std::string, bool> refuse_open;
  std::map<int, std::string> paths;
  std::map<std::string, Registers> devices;
  std::vector<std::string> log;
};

TEST(ParportDevices, DefaultsAndOverrides) {
  auto table = DeviceTable(nullptr);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0].base, 0x378);
  EXPECT_EQ(table[0].path, "/dev/parport0");
  EXPECT_EQ(table[1].base, 0x278);
  EXPECT_EQ(table[1].path, "/dev/parport1");

  table = DeviceTable("0x278=/dev/parport3, 0x3BC=/dev/parport5;junk=/x;0x378=");
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].path, "/dev/parport0");
  EXPECT_EQ(table[1].path, "/dev/parport3");
  EXPECT_EQ(table[2].base, 0x3BC);
  EXPECT_EQ(table[2].path, "/dev/parport5");

  table = DeviceTable("/dev/parport2");
  EXPECT_EQ(table[0].path, "/dev/parport2");
  EXPECT_EQ(table[1].path, "/dev/parport2");
}

TEST(ParportMapping, RegistersReachTheirIoctlsAndTheDeviceIsClaimedOnce) {
  FakePpdev io;
  std::vector<std::string> reports;
  ParallelPorts ports(&io, DeviceTable(nullptr), [&](const std::string& t) { reports.push_back(t); });
  EXPECT_TRUE(io.log.empty()) << "nothing is opened before the first access";

  ports.Write(0x378, 0x5A);
  EXPECT_EQ(io.devices["/dev/parport0"].data, 0x5A);
  EXPECT_EQ(ports.Read(0x378), 0x5A);
  io.devices["/dev/parport0"].status = 0x87;  // inverted busy line shows as bit 7
  EXPECT_EQ(ports.Read(0x379), 0x87);
  EXPECT_EQ(io.devices["/dev/parport0"].direction, 0);

  ports.Write(0x279, 0x12);  // status is read only: opens parport1, writes nothing
  EXPECT_EQ(io.devices["/dev/parport1"].data, 0);
  EXPECT_EQ(io.log, (std::vector<std::string>{"open /dev/parport0", "claim /dev/parport0",
                                              "open /dev/parport1", "claim /dev/parport1"}));
  EXPECT_TRUE(reports.empty());

  ports.ReleaseAll();
  EXPECT_EQ(io.log.size(), 8u);
  EXPECT_EQ(io.log[4], "release /dev/parport0");
  EXPECT_FALSE(io.devices["/dev/parport0"].claimed);
}

TEST(ParportMapping, ControlKeepsTheBitsPpdevDoesNotTake) {
  FakePpdev io;
  ParallelPorts ports(&io, DeviceTable(nullptr), nullptr);
  ports.Write(0x37A, 0xC6);
  EXPECT_EQ(io.devices["/dev/parport0"].control, 0x06);
  EXPECT_EQ(ports.Read(0x37A), 0xC6);
  // The driver's read-modify-writes see what they wrote.
  ports.Write(0x37A, ports.Read(0x37A) & 0xF9);
  EXPECT_EQ(ports.Read(0x37A), 0xC0);

  ports.Write(0x37A, 0x20);
  EXPECT_EQ(io.devices["/dev/parport0"].direction, 1);
  ports.Write(0x37A, 0x01);
  EXPECT_EQ(io.devices["/dev/parport0"].direction, 0);
  EXPECT_EQ(ports.Read(0x37A), 0x01);
}

TEST(ParportMapping, UnknownPortsReadAllOnesAndTouchNoDevice) {
  FakePpdev io;
  ParallelPorts ports(&io, DeviceTable(nullptr), nullptr);
  EXPECT_EQ(ports.Read(0x37B), 0xFF);
  ports.Write(0x3BC, 1);
  EXPECT_TRUE(io.log.empty());
}

TEST(ParportFailure, OpenAndClaimFailuresAreReportedOnceWithTheLpGroup) {
  FakePpdev io;
  io.refuse_open["/dev/parport0"] = true;
  std::vector<std::string> reports;
  ParallelPorts ports(&io, DeviceTable(nullptr), [&](const std::string& t) { reports.push_back(t); });
  EXPECT_EQ(ports.Read(0x379), 0xFF);
  ports.Write(0x378, 0x38);
  EXPECT_EQ(ports.Read(0x379), 0xFF);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("cannot open /dev/parport0 for port 0x378"), std::string::npos);
  EXPECT_NE(reports[0].find("lp group"), std::string::npos);
  EXPECT_EQ(io.log.size(), 1u) << "a failed device is not retried";

  FakePpdev busy;
  busy.refuse_claim = true;
  reports.clear();
  ParallelPorts other(&busy, DeviceTable(nullptr), [&](const std::string& t) { reports.push_back(t); });
  EXPECT_EQ(other.Read(0x278), 0xFF);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("cannot claim /dev/parport1"), std::string::npos);
  EXPECT_EQ(busy.log.back(), "close /dev/parport1");
}

}  // namespace
}  // namespace ports::parport

#include "drivers/transport/port.h"

namespace ports::parport {
namespace {

TEST(ParportLibrary, TheStagedLibraryLoadsThroughThePortInterface) {
  std::string error;
  auto library =
      drivers::PortLibrary::Load(std::string(ROMSMITH_STAGE_DIR) + "/ports/parport/", &error);
  ASSERT_NE(library, nullptr) << error;
  // A port of no known base touches no device.
  EXPECT_EQ(library->Read(0x123), 0xFF);
  library->Write(0x123, 0x00);
}

}  // namespace
}  // namespace ports::parport
