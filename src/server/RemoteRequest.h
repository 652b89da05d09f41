// What the remote page's HTTP server answers, apart from the server itself: the checks
// every request passes (Host, Origin, token, size, rate) and the routes. The server
// hands each request over with its headers already read within their limits.
//
// Routes: GET / (the page), GET /remote.js, GET /remote.css, POST /key (the body is one
// key name as quillmark-send takes it; header "Authorization: Bearer <token>").
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/LocalAddresses.h"

class KeyDispatcher;
class KeyRateLimit;

// The longest body a key request may have: a key name and some blanks.
inline constexpr std::size_t kMaxKeyBody = 64;

struct RemoteRequest {
  std::string method;
  std::string path;           // without the query
  std::string host;           // "Host" header
  std::string origin;         // "Origin" header; empty when absent
  std::string secFetchSite;   // "Sec-Fetch-Site" header; empty when absent
  std::string authorization;  // "Authorization" header
  std::string body;
  bool bodyTooLarge = false;  // more than kMaxKeyBody bytes were announced or sent
};

struct RemoteResponse {
  int status = 200;
  std::string contentType;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// True when `host` (a Host header: name or address, optional port) names this computer
// at `port`: one of its addresses, or one of its names. Anything else may be a foreign
// name that resolves here (DNS rebinding).
bool HostIsThisComputer(std::string_view host, std::uint16_t port, const LocalAddresses& local);
// True when a key request may come from the page's own origin: an Origin equal to
// "http://" + host, or no Origin from a client that is not a browser on another site
// (Sec-Fetch-Site absent, "same-origin" or "none").
bool RequestIsSameOrigin(std::string_view origin, std::string_view secFetchSite, std::string_view host);

class RemoteRequestHandler {
 public:
  // None of the references is owned; all must outlive the handler. `keyBound` is how
  // long a key request waits for the key routine.
  RemoteRequestHandler(std::string token, std::uint16_t port, LocalAddresses local,
                       KeyDispatcher& dispatcher, KeyRateLimit& rate, std::chrono::milliseconds keyBound);
  // Any thread.
  RemoteResponse Handle(const RemoteRequest& request) const;
  // The port the server listens at, when the system chose it. Before requests come in.
  void SetPort(std::uint16_t port) { m_port = port; }

 private:
  RemoteResponse PressKey(const RemoteRequest& request) const;

  std::string m_token;
  std::atomic<std::uint16_t> m_port;
  LocalAddresses m_local;
  KeyDispatcher& m_dispatcher;
  KeyRateLimit& m_rate;
  std::chrono::milliseconds m_keyBound;
};

// A JSON string literal for `text`, quotes included.
std::string JsonString(std::string_view text);
