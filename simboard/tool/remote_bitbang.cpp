#include "simboard/tool/remote_bitbang.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace simboard {

bool BitbangProtocol::Process(const char* data, std::size_t size, std::string& reply) {
  for (std::size_t i = 0; i < size; ++i) {
    char c = data[i];
    ++counters_.commands;
    if (c >= '0' && c <= '7') {
      unsigned bits = static_cast<unsigned>(c - '0');
      target_.SetPins((bits & 4) != 0, (bits & 2) != 0, (bits & 1) != 0);
    } else if (c == 'R') {
      ++counters_.reads;
      reply += target_.Tdo() ? '1' : '0';
    } else if (c >= 'r' && c <= 'u') {
      unsigned bits = static_cast<unsigned>(c - 'r');
      target_.SetTestReset((bits & 2) != 0);
      target_.SetSystemReset((bits & 1) != 0);
    } else if (c == 'B' || c == 'b') {
      led_ = c == 'B';
    } else if (c == 'Q') {
      return false;
    } else if (c == 'Z' || c == 'z' || c == '\n' || c == '\r' || c == ' ') {
      // Sleeps cost nothing on a virtual board.
    } else {
      --counters_.commands;
      ++counters_.unknown;
    }
  }
  return true;
}

RemoteBitbangServer::~RemoteBitbangServer() {
  if (listen_fd_ >= 0) close(listen_fd_);
}

bool RemoteBitbangServer::Listen(std::uint16_t port, std::string& error) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
  if (listen_fd_ < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_fd_, 1) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    close(listen_fd_);
    listen_fd_ = -1;
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  return true;
}

bool RemoteBitbangServer::Serve(const std::atomic<bool>& stop, std::string& error) {
  if (listen_fd_ < 0) {
    error = "not listening";
    return false;
  }
  while (!stop) {
    pollfd waiting{listen_fd_, POLLIN, 0};
    int ready = poll(&waiting, 1, 100);
    if (ready < 0) {
      if (errno == EINTR) continue;
      error = std::string("poll: ") + std::strerror(errno);
      return false;
    }
    if (ready == 0) continue;
    int fd = accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      error = std::string("accept: ") + std::strerror(errno);
      return false;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ++protocol_.MutableCounters().clients;
    bool quit = ServeClient(fd, stop);
    close(fd);
    if (quit) return true;
  }
  return true;
}

bool RemoteBitbangServer::ServeClient(int fd, const std::atomic<bool>& stop) {
  char buffer[8192];
  std::string reply;
  while (!stop) {
    pollfd waiting{fd, POLLIN, 0};
    int ready = poll(&waiting, 1, 100);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (ready == 0) continue;
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // the client went away without quitting
    reply.clear();
    bool more = protocol_.Process(buffer, static_cast<std::size_t>(got), reply);
    std::size_t sent = 0;
    while (sent < reply.size()) {
      ssize_t n = write(fd, reply.data() + sent, reply.size() - sent);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    if (!more) return true;
  }
  return false;
}

}  // namespace simboard
