#include "server/RemoteRequest.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "remote/KeyTable.h"
#include "server/AccessToken.h"
#include "server/KeyDispatcher.h"
#include "server/KeyRateLimit.h"
#include "server/RemotePage.h"

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// The binary form of a numeric address, or empty when `text` is none.
std::string AddressBytes(const std::string& text) {
  std::array<unsigned char, 16> bytes{};
  if (inet_pton(AF_INET, text.c_str(), bytes.data()) == 1) return std::string(bytes.begin(), bytes.begin() + 4);
  if (inet_pton(AF_INET6, text.c_str(), bytes.data()) == 1) return std::string(bytes.begin(), bytes.end());
  return {};
}

const KeyRow* FindKeyIgnoringCase(std::string_view name) {
  const std::string wanted = Lower(name);
  for (const KeyRow& row : kKeyTable) {
    if (Lower(row.name) == wanted) return &row;
  }
  return nullptr;
}

RemoteResponse Json(int status, std::string_view state, std::string_view text, std::string_view key = {}) {
  RemoteResponse response;
  response.status = status;
  response.contentType = "application/json";
  // Built by appending to one string: GCC 12 at -O3 warns falsely (-Wrestrict) about
  // assigning a literal to a fresh member string.
  std::string body(1, '{');
  if (!key.empty()) body.append("\"key\":").append(JsonString(key)).append(",");
  body.append("\"status\":").append(JsonString(state)).append(",\"text\":").append(JsonString(text)).append("}");
  response.body = std::move(body);
  return response;
}

RemoteResponse Resource(std::string contentType, std::string body) {
  RemoteResponse response;
  response.contentType = std::move(contentType);
  response.body = std::move(body);
  response.headers = {
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
       "frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
  };
  return response;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (c == '\n') {
      json += "\\n";
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

bool HostIsThisComputer(std::string_view host, std::uint16_t port, const LocalAddresses& local) {
  host = Trim(host);
  std::string name;
  std::string_view portText;
  if (host.starts_with('[')) {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    name = std::string(host.substr(1, close - 1));
    const std::string_view rest = host.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) return false;
    if (!rest.empty()) portText = rest.substr(1);
  } else {
    const std::size_t colon = host.find(':');
    name = std::string(host.substr(0, colon));
    if (colon != std::string_view::npos) portText = host.substr(colon + 1);
  }
  unsigned givenPort = 80;
  if (!portText.empty()) {
    const auto [ptr, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), givenPort);
    if (ec != std::errc() || ptr != portText.data() + portText.size()) return false;
  } else if (host.find(':') != std::string_view::npos && !host.starts_with('[')) {
    return false;  // "name:" with nothing after it
  }
  if (givenPort != port || name.empty()) return false;

  const std::string bytes = AddressBytes(name);
  if (!bytes.empty()) {
    return std::any_of(local.addresses.begin(), local.addresses.end(),
                       [&](const std::string& address) { return AddressBytes(address) == bytes; });
  }
  name = Lower(name);
  if (name.ends_with('.')) name.pop_back();
  return std::find(local.names.begin(), local.names.end(), name) != local.names.end();
}

bool RequestIsSameOrigin(std::string_view origin, std::string_view secFetchSite, std::string_view host) {
  origin = Trim(origin);
  if (origin.empty()) {
    const std::string site = Lower(Trim(secFetchSite));
    return site.empty() || site == "same-origin" || site == "none";
  }
  return Lower(origin) == "http://" + Lower(Trim(host));
}

RemoteRequestHandler::RemoteRequestHandler(std::string token, std::uint16_t port, LocalAddresses local,
                                           KeyDispatcher& dispatcher, KeyRateLimit& rate,
                                           std::chrono::milliseconds keyBound)
    : m_token(std::move(token)),
      m_port(port),
      m_local(std::move(local)),
      m_dispatcher(dispatcher),
      m_rate(rate),
      m_keyBound(keyBound) {}

RemoteResponse RemoteRequestHandler::Handle(const RemoteRequest& request) const {
  if (!HostIsThisComputer(request.host, m_port, m_local)) {
    return Json(403, "refused", "This address does not name this computer.");
  }
  if (request.path == "/key") {
    if (request.method != "POST") {
      RemoteResponse response = Json(405, "refused", "Keys are pressed with POST.");
      response.headers.emplace_back("Allow", "POST");
      return response;
    }
    return PressKey(request);
  }
  if (request.method != "GET" && request.method != "HEAD") {
    RemoteResponse response = Json(405, "refused", "Only GET is served here.");
    response.headers.emplace_back("Allow", "GET, HEAD");
    return response;
  }
  if (request.path == "/") return Resource("text/html; charset=utf-8", RemotePageHtml());
  if (request.path == "/remote.js") return Resource("text/javascript; charset=utf-8", RemotePageScript());
  if (request.path == "/remote.css") return Resource("text/css; charset=utf-8", RemotePageStyle());
  return Json(404, "refused", "Not found.");
}

RemoteResponse RemoteRequestHandler::PressKey(const RemoteRequest& request) const {
  if (!RequestIsSameOrigin(request.origin, request.secFetchSite, request.host)) {
    return Json(403, "refused", "Keys are taken only from Quillmark's own page.");
  }
  constexpr std::string_view kBearer = "bearer ";
  const std::string_view authorization = Trim(request.authorization);
  const bool bearer = authorization.size() > kBearer.size() &&
                      Lower(authorization.substr(0, kBearer.size())) == kBearer;
  if (!bearer || !TokenMatches(m_token, Trim(authorization.substr(kBearer.size())))) {
    RemoteResponse response =
        Json(401, "refused", "The access token is missing or wrong: open the address that Quillmark shows.");
    response.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"Quillmark\"");
    return response;
  }
  if (request.bodyTooLarge) return Json(413, "refused", "A key request names one key.");
  const std::string_view name = Trim(request.body);
  const KeyRow* row = FindKeyIgnoringCase(name);
  if (!row) return Json(400, "refused", "There is no key of that name.");
  if (!m_rate.Take()) {
    RemoteResponse response = Json(429, "busy", "Too many keys at once; this key was not sent.", row->name);
    response.headers.emplace_back("Retry-After", "1");
    return response;
  }
  const KeyOutcome outcome = m_dispatcher.Press(*row, m_keyBound);
  switch (outcome.status) {
    case KeyStatus::Sent: return Json(200, "sent", outcome.text, row->name);
    case KeyStatus::DeviceError: return Json(502, "error", outcome.text, row->name);
    case KeyStatus::NotSent: return Json(503, "not-sent", outcome.text, row->name);
    case KeyStatus::Busy: return Json(503, "busy", outcome.text, row->name);
    case KeyStatus::TimedOut: return Json(504, "timeout", outcome.text, row->name);
    case KeyStatus::Stopped: return Json(503, "stopped", outcome.text, row->name);
  }
  return Json(500, "error", "Unknown outcome.", row->name);
}
