#include "server/RemoteHttpServer.h"

#include <civetweb.h>

#include <mutex>
#include <string>
#include <vector>

#include "server/RemoteRequest.h"

namespace {

const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 429: return "Too Many Requests";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Error";
  }
}

std::string Header(mg_connection* connection, const char* name) {
  const char* value = mg_get_header(connection, name);
  return value ? value : "";
}

// Reads the body up to kMaxKeyBody bytes; anything beyond makes the request too large.
void ReadBody(mg_connection* connection, const mg_request_info& info, RemoteRequest& request) {
  if (info.content_length > static_cast<long long>(kMaxKeyBody)) {
    request.bodyTooLarge = true;
    return;
  }
  char buffer[kMaxKeyBody + 1];
  std::size_t have = 0;
  // Each read is bounded by the server's request timeout.
  while (have < sizeof buffer) {
    const int got = mg_read(connection, buffer + have, sizeof buffer - have);
    if (got <= 0) break;
    have += static_cast<std::size_t>(got);
  }
  if (have > kMaxKeyBody) {
    request.bodyTooLarge = true;
    return;
  }
  request.body.assign(buffer, have);
}

// Once civetweb's global state for the process.
void InitLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { mg_init_library(0); });
}

}  // namespace

RemoteHttpServer::~RemoteHttpServer() { Stop(); }

int RemoteHttpServer::OnRequest(mg_connection* connection, void* self) {
  const mg_request_info* info = mg_get_request_info(connection);
  if (!info) return 0;
  RemoteRequest request;
  request.method = info->request_method ? info->request_method : "";
  request.path = info->local_uri ? info->local_uri : "";
  request.host = Header(connection, "Host");
  request.origin = Header(connection, "Origin");
  request.secFetchSite = Header(connection, "Sec-Fetch-Site");
  request.authorization = Header(connection, "Authorization");
  if (request.method == "POST") ReadBody(connection, *info, request);

  const RemoteResponse response = static_cast<RemoteHttpServer*>(self)->m_handler->Handle(request);
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + StatusText(response.status) +
                     "\r\nContent-Type: " + response.contentType +
                     "\r\nContent-Length: " + std::to_string(response.body.size()) +
                     "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff"
                     "\r\nReferrer-Policy: no-referrer\r\nX-Frame-Options: DENY\r\nConnection: close\r\n";
  for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
  head += "\r\n";
  mg_write(connection, head.data(), head.size());
  if (request.method != "HEAD") mg_write(connection, response.body.data(), response.body.size());
  return response.status;
}

bool RemoteHttpServer::Start(std::uint16_t port, RemoteRequestHandler& handler, const HttpLimits& limits,
                             std::string& error) {
  Stop();
  InitLibraryOnce();
  m_handler = &handler;
  const std::string ports = std::to_string(port);
  const std::string workers = std::to_string(limits.workers);
  const std::string queued = std::to_string(limits.queued);
  const std::string backlog = std::to_string(limits.backlog);
  const std::string timeout = std::to_string(limits.requestTimeoutMs);
  const std::string head = std::to_string(limits.maxHeadBytes);
  const char* options[] = {
      "listening_ports", ports.c_str(),
      "num_threads", workers.c_str(),
      "connection_queue", queued.c_str(),
      "listen_backlog", backlog.c_str(),
      "request_timeout_ms", timeout.c_str(),
      "keep_alive_timeout_ms", timeout.c_str(),
      "max_request_size", head.c_str(),
      "enable_keep_alive", "no",
      "enable_directory_listing", "no",
      "tcp_nodelay", "1",
      nullptr};
  mg_callbacks callbacks{};
  // civetweb's own log lines (a port in use, a bad request) would go to standard error
  // uncounted; the reason for the user comes back through mg_start2's error report.
  callbacks.log_message = [](const mg_connection*, const char*) { return 1; };
  char errorText[256] = {};
  mg_init_data init{};
  init.callbacks = &callbacks;
  init.configuration_options = options;
  mg_error_data errorData{};
  errorData.text = errorText;
  errorData.text_buffer_size = sizeof errorText;
  m_context = mg_start2(&init, &errorData);
  if (!m_context) {
    error = "The remote page cannot listen at port " + ports + ": " +
            (errorText[0] ? errorText : "the port may be in use");
    return false;
  }
  mg_server_port listening[4] = {};
  const int count = mg_get_server_ports(m_context, 4, listening);
  m_port = count > 0 ? static_cast<std::uint16_t>(listening[0].port) : port;
  mg_set_request_handler(m_context, "/", &RemoteHttpServer::OnRequest, this);
  return true;
}

void RemoteHttpServer::Stop() {
  if (!m_context) return;
  mg_stop(m_context);
  m_context = nullptr;
  m_port = 0;
}
