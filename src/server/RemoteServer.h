// The remote control as a whole: the page's HTTP server and OSC, on one key hand-off and
// one rate limit, as the settings switch them on. Used by the panel and the headless
// mode alike. Start, Stop and the queries come from one thread (the owner's).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "server/KeyRateLimit.h"
#include "server/LocalAddresses.h"
#include "server/OscListener.h"
#include "server/RemoteHttpServer.h"
#include "server/RemoteSettings.h"

class KeyDispatcher;
class RemoteRequestHandler;

// Keys per second from all remote clients together, and how many may come at once.
inline constexpr double kRemoteKeysPerSecond = 20;
inline constexpr double kRemoteKeyBurst = 20;
// How long a remote key waits for the key routine.
inline constexpr std::chrono::milliseconds kRemoteKeyBound{2000};

// "http://<address>:<port>/#token=<token>" for each address (IPv6 in brackets), in the
// order given.
std::vector<std::string> PageAddressesFor(const LocalAddresses& local, std::uint16_t port,
                                          const std::string& token);

class RemoteServer {
 public:
  // The dispatcher must outlive the server.
  explicit RemoteServer(KeyDispatcher& dispatcher, HttpLimits limits = {});
  RemoteServer(const RemoteServer&) = delete;
  RemoteServer& operator=(const RemoteServer&) = delete;
  ~RemoteServer();

  // Stops what runs, then starts the page when settings.pageEnabled (it needs a token)
  // and OSC when settings.oscEnabled. False with the reasons for the user when something
  // could not start; what could start runs. A port of 0 takes a free one.
  bool Start(const RemoteSettings& settings, std::string& error, OscListener::Report oscReport = {});
  void Stop();

  bool PageRunning() const { return m_http.Running(); }
  std::uint16_t PagePort() const { return m_http.Port(); }
  bool OscRunning() const { return m_osc.Port() != 0; }
  std::uint16_t OscPort() const { return m_osc.Port(); }
  // The running page's addresses with the token, the network's first; empty when the
  // page is off.
  std::vector<std::string> PageAddresses() const;

 private:
  KeyDispatcher& m_dispatcher;
  HttpLimits m_limits;
  KeyRateLimit m_rate{kRemoteKeysPerSecond, kRemoteKeyBurst};
  std::unique_ptr<RemoteRequestHandler> m_handler;
  RemoteHttpServer m_http;
  OscListener m_osc;
  std::string m_token;
};
