// OpenOCD's remote_bitbang protocol on a TCP socket: every byte the client
// sends is one command for the JTAG connector.
//   '0'..'7'  drive TCK (4), TMS (2), TDI (1)
//   'R'       reply '0' or '1' with TDO
//   'r' 's' 't' 'u'  nTRST and the system reset: 'r' + 2*trst + srst (1 = asserted)
//   'B' 'b'   LED on and off
//   'Q'       the client quits
// Sleep requests ('Z', 'z') and whitespace are accepted and ignored.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "simboard/debug/probe.h"

namespace simboard {

struct BitbangCounters {
  std::uint64_t commands = 0;
  std::uint64_t reads = 0;
  std::uint64_t clients = 0;
  std::uint64_t unknown = 0;  // bytes that are no command
};

// The protocol without the socket, for one client's byte stream.
class BitbangProtocol {
 public:
  explicit BitbangProtocol(JtagConnector& target) : target_(target) {}
  // Acts on `size` bytes and appends the replies. Returns false once 'Q'
  // came; the bytes after it are not looked at.
  bool Process(const char* data, std::size_t size, std::string& reply);
  bool Led() const { return led_; }
  const BitbangCounters& Counters() const { return counters_; }
  BitbangCounters& MutableCounters() { return counters_; }

 private:
  JtagConnector& target_;
  bool led_ = false;
  BitbangCounters counters_;
};

class RemoteBitbangServer {
 public:
  explicit RemoteBitbangServer(JtagConnector& target) : protocol_(target) {}
  ~RemoteBitbangServer();
  RemoteBitbangServer(const RemoteBitbangServer&) = delete;
  RemoteBitbangServer& operator=(const RemoteBitbangServer&) = delete;

  // Listens on 127.0.0.1:port (0: any free port; see Port()).
  bool Listen(std::uint16_t port, std::string& error);
  std::uint16_t Port() const { return port_; }

  // Serves one client after the other until a client sends 'Q' (true) or
  // `stop` becomes true (true) or the socket fails (false, with `error`).
  bool Serve(const std::atomic<bool>& stop, std::string& error);

  const BitbangProtocol& Protocol() const { return protocol_; }

 private:
  // Serves one connected client; true when it sent 'Q'.
  bool ServeClient(int fd, const std::atomic<bool>& stop);

  BitbangProtocol protocol_;
  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace simboard
