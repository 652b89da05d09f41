#include "server/RemoteServer.h"

#include "server/AccessToken.h"
#include "server/KeyDispatcher.h"
#include "server/RemoteRequest.h"

std::vector<std::string> PageAddressesFor(const LocalAddresses& local, std::uint16_t port,
                                          const std::string& token) {
  std::vector<std::string> addresses;
  for (const std::string& address : local.addresses) {
    const std::string host = address.find(':') == std::string::npos ? address : "[" + address + "]";
    addresses.push_back("http://" + host + ":" + std::to_string(port) + "/#token=" + token);
  }
  return addresses;
}

RemoteServer::RemoteServer(KeyDispatcher& dispatcher, HttpLimits limits)
    : m_dispatcher(dispatcher), m_limits(limits), m_osc(dispatcher, m_rate, kRemoteKeyBound) {}

RemoteServer::~RemoteServer() { Stop(); }

bool RemoteServer::Start(const RemoteSettings& settings, std::string& error,
                         OscListener::Report oscReport) {
  Stop();
  std::vector<std::string> problems;
  if (settings.pageEnabled) {
    std::string reason;
    if (!IsWellFormedToken(settings.token)) {
      problems.emplace_back("The remote page has no access token, so it stays off.");
    } else {
      m_token = settings.token;
      m_handler = std::make_unique<RemoteRequestHandler>(m_token, settings.pagePort, ReadLocalAddresses(),
                                                         m_dispatcher, m_rate, kRemoteKeyBound);
      if (m_http.Start(settings.pagePort, *m_handler, m_limits, reason)) {
        m_handler->SetPort(m_http.Port());  // the one the system chose for port 0
      } else {
        problems.push_back(reason);
        m_handler.reset();
      }
    }
  }
  if (settings.oscEnabled) {
    OscAllowedHosts allowed;
    std::string bad;
    std::string reason;
    if (!allowed.Parse(settings.oscAllowedHosts, bad)) {
      problems.push_back("OSC stays off: \"" + bad + "\" is not an address or address/prefix.");
    } else if (!m_osc.Start(settings.oscPort, allowed, std::move(oscReport), reason)) {
      problems.push_back(reason);
    }
  }
  error.clear();
  for (const std::string& problem : problems) error += (error.empty() ? "" : "\n") + problem;
  return problems.empty();
}

void RemoteServer::Stop() {
  m_osc.Stop();
  m_http.Stop();
  m_handler.reset();
}

std::vector<std::string> RemoteServer::PageAddresses() const {
  if (!m_http.Running()) return {};
  return PageAddressesFor(ReadLocalAddresses(), m_http.Port(), m_token);
}
