#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;
// No test runs nearly this long; a server left behind by a failing test ends by itself.
constexpr auto kServerLifetime = std::chrono::seconds(20);
constexpr int kRequestWaitMs = 5000;
constexpr std::uint64_t kFloodLimit = 64u << 20;

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

// True when `fd` is ready for `events` before the stop pipe fires or `limitMs` passes.
bool WaitFor(int fd, short events, int stopFd, int limitMs) {
  pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
  if (::poll(fds, 2, limitMs) <= 0) return false;
  return fds[1].revents == 0 && fds[0].revents != 0;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

}  // namespace

LoopbackServer::LoopbackServer(std::vector<Script> scripts) : m_scripts(std::move(scripts)) {
  m_listener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (!m_listener ||
      ::bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(m_listener.Get(), 8) != 0 ||
      ::getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  m_port = ntohs(address.sin_port);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return;
  m_stopRead.Reset(ends[0]);
  m_stopWrite.Reset(ends[1]);
  m_acceptor = std::thread([this] { Accept(); });
}

LoopbackServer::~LoopbackServer() {
  if (m_stopWrite) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_stopWrite.Get(), &byte, 1);
  }
  if (m_acceptor.joinable()) m_acceptor.join();
  for (std::thread& handler : m_handlers) handler.join();
}

std::vector<std::string> LoopbackServer::Requests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requests;
}

bool LoopbackServer::WaitForClientClose(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, limit, [this] { return m_clientClosedHold; });
}

void LoopbackServer::Accept() {
  const auto deadline = Clock::now() + kServerLifetime;
  std::size_t next = 0;
  while (WaitFor(m_listener.Get(), POLLIN, m_stopRead.Get(), MillisecondsUntil(deadline))) {
    UniqueFd connection(::accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection) continue;
    const Script script = m_scripts[std::min(next++, m_scripts.size() - 1)];
    m_handlers.emplace_back(&LoopbackServer::Serve, this, std::move(connection), script);
  }
}

void LoopbackServer::Serve(UniqueFd connection, Script script) {
  const int fd = connection.Get();
  const int stopFd = m_stopRead.Get();
  std::string request;
  char buffer[1024];
  while (request.find("\r\n") == std::string::npos && request.size() < 65536 &&
         WaitFor(fd, POLLIN, stopFd, kRequestWaitMs)) {
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    request.append(buffer, static_cast<std::size_t>(got));
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(request);
  }

  switch (script.action) {
    case Action::kReply: {
      std::size_t sent = 0;
      while (sent < script.reply.size()) {
        const ssize_t n =
            ::send(fd, script.reply.data() + sent, script.reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      break;
    }
    case Action::kReset: {
      const linger abortive{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
      break;
    }
    case Action::kHold: {
      const auto deadline = Clock::now() + kServerLifetime;
      if (WaitFor(fd, POLLIN, stopFd, MillisecondsUntil(deadline)) &&
          ::recv(fd, buffer, sizeof buffer, 0) <= 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clientClosedHold = true;
        m_changed.notify_all();
      }
      break;
    }
    case Action::kEndless: {
      const std::string digits(65536, '1');
      while (m_flooded.load() < kFloodLimit && WaitFor(fd, POLLOUT, stopFd, kRequestWaitMs)) {
        const ssize_t n = ::send(fd, digits.data(), digits.size(), MSG_NOSIGNAL);
        if (n <= 0) break;
        m_flooded.fetch_add(static_cast<std::uint64_t>(n));
      }
      break;
    }
  }
}

std::uint16_t UnusedLoopbackPort() {
  UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  ::bind(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}
