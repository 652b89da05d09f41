// The version check's connection on Windows: Winsock, with the socket's events and a stop
// event waited on together, so that a stop from another thread ends every wait.
#include "update/NetConnection.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <mutex>
#include <utility>

namespace {

// Winsock for the whole run, started on first use.
bool WinsockStarted() {
  struct Library {
    bool started = false;
    Library() {
      WSADATA data{};
      started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~Library() {
      if (started) WSACleanup();
    }
  };
  static const Library s_library;
  return s_library.started;
}

// Owner of one Winsock socket or event: closes it once.
template <typename Handle, auto kInvalid, typename Closer>
class UniqueWinsock {
 public:
  UniqueWinsock() = default;
  explicit UniqueWinsock(Handle handle) : m_handle(handle) {}
  UniqueWinsock(const UniqueWinsock&) = delete;
  UniqueWinsock& operator=(const UniqueWinsock&) = delete;
  UniqueWinsock(UniqueWinsock&& other) noexcept : m_handle(std::exchange(other.m_handle, kInvalid)) {}
  UniqueWinsock& operator=(UniqueWinsock&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.m_handle, kInvalid));
    return *this;
  }
  ~UniqueWinsock() { Reset(); }
  Handle Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != kInvalid; }
  void Reset(Handle handle = kInvalid) {
    if (m_handle != kInvalid) Closer{}(m_handle);
    m_handle = handle;
  }

 private:
  Handle m_handle = kInvalid;
};

struct CloseSocket {
  void operator()(SOCKET socket) const { closesocket(socket); }
};
struct CloseEvent {
  void operator()(WSAEVENT event) const { WSACloseEvent(event); }
};
using UniqueSocket = UniqueWinsock<SOCKET, INVALID_SOCKET, CloseSocket>;
using UniqueEvent = UniqueWinsock<WSAEVENT, nullptr, CloseEvent>;

}  // namespace

bool LookUpFirstIPv4(const std::string& host, std::uint32_t& address) {
  if (!WinsockStarted()) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  sockaddr_in first{};
  std::memcpy(&first, found->ai_addr, sizeof first);
  freeaddrinfo(found);
  address = ntohl(first.sin_addr.s_addr);
  return true;
}

// The socket stays non-blocking and tied to socketEvent for its whole life; every wait is
// on socketEvent and stopEvent together. The socket is used by the worker without the
// lock: only the worker itself closes it.
struct NetConnection::Impl {
  std::mutex mutex;
  bool stopped = false;
  UniqueSocket socket;
  UniqueEvent socketEvent;
  UniqueEvent stopEvent;

  // Waits for the socket's next event: true with its network events, false after a stop
  // or a failure (error set).
  bool WaitForSocket(WSANETWORKEVENTS& events, int& error) {
    const WSAEVENT handles[2] = {socketEvent.Get(), stopEvent.Get()};
    const DWORD woken = WSAWaitForMultipleEvents(2, handles, FALSE, WSA_INFINITE, FALSE);
    if (woken == WSA_WAIT_EVENT_0 + 1) {
      error = kStopped;
      return false;
    }
    if (woken != WSA_WAIT_EVENT_0 ||
        WSAEnumNetworkEvents(socket.Get(), socketEvent.Get(), &events) != 0) {
      error = WSAGetLastError();
      return false;
    }
    return true;
  }
};

NetConnection::NetConnection() : m_impl(std::make_unique<Impl>()) {}
NetConnection::~NetConnection() = default;

int NetConnection::OpenStopChannel() {
  if (!WinsockStarted()) return WSANOTINITIALISED;
  UniqueEvent stopEvent(WSACreateEvent());
  if (!stopEvent) return WSAGetLastError();
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->stopEvent = std::move(stopEvent);
  // A stop that came before the channel existed must still end the waits.
  if (m_impl->stopped) WSASetEvent(m_impl->stopEvent.Get());
  return 0;
}

int NetConnection::Open() {
  if (!WinsockStarted()) return WSANOTINITIALISED;
  UniqueSocket socket(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                 WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
  if (!socket) return WSAGetLastError();
  UniqueEvent socketEvent(WSACreateEvent());
  if (!socketEvent) return WSAGetLastError();
  // Also makes the socket non-blocking.
  if (WSAEventSelect(socket.Get(), socketEvent.Get(), FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
    return WSAGetLastError();
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    return WSAGetLastError();
  }
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  if (m_impl->stopped) return kStopped;
  m_impl->socket = std::move(socket);
  m_impl->socketEvent = std::move(socketEvent);
  return 0;
}

int NetConnection::Connect(std::uint32_t address, std::uint16_t port) {
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  server.sin_addr.s_addr = htonl(address);
  if (connect(m_impl->socket.Get(), reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0) {
    return 0;
  }
  if (WSAGetLastError() != WSAEWOULDBLOCK) return WSAGetLastError();
  // The system gives up on an unanswered connection after its own retries; a stop ends
  // the wait at once.
  for (;;) {
    WSANETWORKEVENTS events{};
    int error = 0;
    if (!m_impl->WaitForSocket(events, error)) return error;
    if (events.lNetworkEvents & FD_CONNECT) return events.iErrorCode[FD_CONNECT_BIT];
  }
}

int NetConnection::SetBlocking() {
  // The socket stays non-blocking here: sends and reads wait for its events together with
  // the stop event, which ends them as a blocking call could not be ended.
  return 0;
}

bool NetConnection::SendAll(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = send(m_impl->socket.Get(), bytes.data() + sent,
                       static_cast<int>(bytes.size() - sent), 0);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return false;
    WSANETWORKEVENTS events{};
    int error = 0;
    if (!m_impl->WaitForSocket(events, error)) return false;
    if ((events.lNetworkEvents & FD_CLOSE) != 0) return false;
  }
  return true;
}

long NetConnection::Receive(char* buffer, std::size_t size) {
  const int capacity = static_cast<int>(size > 0x7FFFFFFF ? 0x7FFFFFFF : size);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(m_impl->mutex);
      if (m_impl->stopped) return -1;
    }
    const int got = recv(m_impl->socket.Get(), buffer, capacity, 0);
    if (got >= 0) return got;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return -1;
    WSANETWORKEVENTS events{};
    int error = 0;
    if (!m_impl->WaitForSocket(events, error)) return -1;
  }
}

void NetConnection::Close() {
  UniqueSocket socket;
  UniqueEvent socketEvent;
  UniqueEvent stopEvent;
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    socket = std::move(m_impl->socket);
    socketEvent = std::move(m_impl->socketEvent);
    stopEvent = std::move(m_impl->stopEvent);
  }
  // Closed outside the lock; the socket first, which ends the connection.
  socket.Reset();
}

void NetConnection::Stop() {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->stopped = true;
  if (m_impl->stopEvent) WSASetEvent(m_impl->stopEvent.Get());
  if (m_impl->socket) shutdown(m_impl->socket.Get(), SD_BOTH);
}
