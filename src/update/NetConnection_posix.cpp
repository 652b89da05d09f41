#include "update/NetConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "update/UniqueFd.h"

bool LookUpFirstIPv4(const std::string& host, std::uint32_t& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  sockaddr_in first{};
  std::memcpy(&first, found->ai_addr, sizeof first);
  ::freeaddrinfo(found);
  address = ntohl(first.sin_addr.s_addr);
  return true;
}

// The socket and the stop pipe. The socket descriptor is read by the worker without the
// lock: only the worker itself closes it, and Stop reaches it under the lock.
struct NetConnection::Impl {
  std::mutex mutex;
  bool stopped = false;
  UniqueFd socket;
  UniqueFd stopRead;
  UniqueFd stopWrite;
  int fd = -1;

  void WakeLocked() {
    if (stopWrite) {
      const char byte = 1;
      [[maybe_unused]] const ssize_t written = ::write(stopWrite.Get(), &byte, 1);
    }
  }
};

NetConnection::NetConnection() : m_impl(std::make_unique<Impl>()) {}
NetConnection::~NetConnection() = default;

int NetConnection::OpenStopChannel() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return errno;
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->stopRead.Reset(ends[0]);
  m_impl->stopWrite.Reset(ends[1]);
  // A stop that came before the channel existed must still wake the polls.
  if (m_impl->stopped) m_impl->WakeLocked();
  return 0;
}

int NetConnection::Open() {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket) return errno;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    return errno;
  }
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  if (m_impl->stopped) return kStopped;
  m_impl->fd = socket.Get();
  m_impl->socket = std::move(socket);
  return 0;
}

int NetConnection::Connect(std::uint32_t address, std::uint16_t port) {
  const int fd = m_impl->fd;
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  server.sin_addr.s_addr = htonl(address);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
    if (errno != EINPROGRESS) return errno;
    // The kernel gives up on an unanswered connection after its own retries; a stop wakes
    // us at once.
    pollfd fds[2] = {{fd, POLLOUT, 0}, {m_impl->stopRead.Get(), POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
      if (errno != EINTR) return errno;
    }
    if (fds[1].revents != 0) return kStopped;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
  }
  return 0;
}

int NetConnection::SetBlocking() {
  const int fd = m_impl->fd;
  // Sends block from here on: a stop shuts the socket down, which ends a send that waits
  // for room in a full buffer.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
  return 0;
}

bool NetConnection::SendAll(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(m_impl->fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

long NetConnection::Receive(char* buffer, std::size_t size) {
  pollfd fds[2] = {{m_impl->fd, POLLIN, 0}, {m_impl->stopRead.Get(), POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (fds[1].revents != 0) return -1;
    const ssize_t got = ::recv(m_impl->fd, buffer, size, 0);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

void NetConnection::Close() {
  UniqueFd socket;
  UniqueFd stopRead;
  UniqueFd stopWrite;
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    socket = std::move(m_impl->socket);
    stopRead = std::move(m_impl->stopRead);
    stopWrite = std::move(m_impl->stopWrite);
    m_impl->fd = -1;
  }
  // Closed outside the lock; the socket first, which ends the connection.
  socket.Reset();
}

void NetConnection::Stop() {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->stopped = true;
  // Both wake-ups: the stop channel for the polls, the shutdown for a send that blocks on
  // a full socket buffer.
  m_impl->WakeLocked();
  if (m_impl->socket) ::shutdown(m_impl->socket.Get(), SHUT_RDWR);
}
