// The remote page's HTTP server (civetweb): plain HTTP on every IPv4 address of this
// computer, at one port. Its limits keep a flood or a slow client from growing memory or
// holding the server: a fixed number of worker threads and a fixed queue of accepted
// connections (further ones wait in the kernel's listen queue), a time limit for the
// whole request head and for each read and write, a limit on the size of the head and of
// the body, and one request per connection.
#pragma once

#include <cstdint>
#include <string>

struct mg_context;
struct mg_connection;
class RemoteRequestHandler;

struct HttpLimits {
  int workers = 6;             // requests served at once
  int queued = 12;             // accepted connections waiting for a worker
  int backlog = 16;            // the kernel's queue of connections not yet accepted
  int requestTimeoutMs = 3000;  // the request head must be in within this; each read/write too
  int maxHeadBytes = 4096;
};

class RemoteHttpServer {
 public:
  RemoteHttpServer() = default;
  RemoteHttpServer(const RemoteHttpServer&) = delete;
  RemoteHttpServer& operator=(const RemoteHttpServer&) = delete;
  ~RemoteHttpServer();

  // Listens at `port` (0: a free port of the system's choice) and serves every request
  // through `handler`, which must outlive the server. False with a reason for the user.
  bool Start(std::uint16_t port, RemoteRequestHandler& handler, const HttpLimits& limits,
             std::string& error);
  // Waits for the requests in progress (each bounded by the handler's own bound) and
  // closes the port. Safe to call when not running.
  void Stop();
  bool Running() const { return m_context != nullptr; }
  std::uint16_t Port() const { return m_port; }

 private:
  static int OnRequest(mg_connection* connection, void* self);

  mg_context* m_context = nullptr;
  RemoteRequestHandler* m_handler = nullptr;
  std::uint16_t m_port = 0;
};
