#include "server/OscListener.h"

#include <arpa/inet.h>
#include <lo/lo.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "remote/KeyTable.h"
#include "server/KeyDispatcher.h"
#include "server/KeyRateLimit.h"

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

const KeyRow* FindKeyIgnoringCase(std::string_view name) {
  const std::string wanted = Lower(name);
  for (const KeyRow& row : kKeyTable) {
    if (Lower(row.name) == wanted) return &row;
  }
  return nullptr;
}

void IgnoreLibloError(int, const char*, const char*) {}

int OnKey(const char*, const char*, lo_arg** argv, int argc, lo_message message, void* self) {
  const lo_address source = lo_message_get_source(message);
  const char* host = source ? lo_address_get_hostname(source) : nullptr;
  if (argc == 1) static_cast<OscListener*>(self)->OnKeyMessage(host ? host : "", &argv[0]->s);
  return 0;
}

}  // namespace

bool OscAllowedHosts::Parse(std::string_view list, std::string& bad) {
  m_ranges.clear();
  std::vector<std::string> entries(1);
  for (char c : list) {
    if (c == ' ' || c == ',' || c == '\t' || c == ';') {
      if (!entries.back().empty()) entries.emplace_back();
    } else {
      entries.back() += c;
    }
  }
  for (const std::string& entry : entries) {
    if (entry.empty()) continue;
    if (Lower(entry) == "localhost") {
      AddRange("127.0.0.1", bad);
      AddRange("::1", bad);
    } else if (!AddRange(entry, bad)) {
      m_ranges.clear();
      return false;
    }
  }
  return true;
}

bool OscAllowedHosts::AddRange(const std::string& entry, std::string& bad) {
  Range range{};
  const std::size_t slash = entry.find('/');
  const std::string address = entry.substr(0, slash);
  unsigned maxPrefix = 0;
  if (inet_pton(AF_INET, address.c_str(), range.bytes) == 1) {
    range.family = AF_INET;
    maxPrefix = 32;
  } else if (inet_pton(AF_INET6, address.c_str(), range.bytes) == 1) {
    range.family = AF_INET6;
    maxPrefix = 128;
  } else {
    bad = entry;
    return false;
  }
  range.prefix = maxPrefix;
  if (slash != std::string::npos) {
    const std::string digits = entry.substr(slash + 1);
    const bool number = !digits.empty() && digits.size() <= 3 &&
                        std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); });
    if (!number || static_cast<unsigned>(std::stoi(digits)) > maxPrefix) {
      bad = entry;
      return false;
    }
    range.prefix = static_cast<unsigned>(std::stoi(digits));
  }
  m_ranges.push_back(range);
  return true;
}

bool OscAllowedHosts::Allows(const std::string& address) const {
  unsigned char bytes[16] = {};
  int family = AF_INET;
  if (inet_pton(AF_INET, address.c_str(), bytes) != 1) {
    family = AF_INET6;
    if (inet_pton(AF_INET6, address.c_str(), bytes) != 1) return false;
    // An IPv4 sender seen through an IPv6 socket.
    static constexpr unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(bytes, kMapped, sizeof kMapped) == 0) {
      std::memmove(bytes, bytes + 12, 4);
      family = AF_INET;
    }
  }
  for (const Range& range : m_ranges) {
    if (range.family != family) continue;
    const unsigned whole = range.prefix / 8;
    const unsigned rest = range.prefix % 8;
    if (std::memcmp(range.bytes, bytes, whole) != 0) continue;
    if (rest != 0) {
      const auto mask = static_cast<unsigned char>(0xFF << (8 - rest));
      if ((range.bytes[whole] & mask) != (bytes[whole] & mask)) continue;
    }
    return true;
  }
  return false;
}

OscListener::OscListener(KeyDispatcher& dispatcher, KeyRateLimit& rate, std::chrono::milliseconds keyBound)
    : m_dispatcher(dispatcher), m_rate(rate), m_keyBound(keyBound) {}

OscListener::~OscListener() { Stop(); }

bool OscListener::Start(std::uint16_t port, const OscAllowedHosts& allowed, Report report,
                        std::string& error) {
  Stop();
  m_allowed = allowed;
  m_report = std::move(report);
  const std::string service = port ? std::to_string(port) : std::string();
  lo_server_thread thread =
      lo_server_thread_new_with_proto(port ? service.c_str() : nullptr, LO_UDP, &IgnoreLibloError);
  if (!thread) {
    error = "OSC cannot listen at UDP port " + std::to_string(port) + ": the port may be in use";
    return false;
  }
  lo_server_thread_add_method(thread, "/quillmark/key", "s", &OnKey, this);
  if (lo_server_thread_start(thread) != 0) {
    lo_server_thread_free(thread);
    error = "OSC could not start its thread";
    return false;
  }
  m_thread = thread;
  m_port = static_cast<std::uint16_t>(lo_server_thread_get_port(thread));
  return true;
}

void OscListener::Stop() {
  if (!m_thread) return;
  auto* thread = static_cast<lo_server_thread>(m_thread);
  lo_server_thread_stop(thread);
  lo_server_thread_free(thread);
  m_thread = nullptr;
  m_port = 0;
}

void OscListener::OnKeyMessage(const std::string& sender, const std::string& name) {
  if (!m_allowed.Allows(sender)) return;
  const KeyRow* row = FindKeyIgnoringCase(name);
  std::string text;
  if (!row) {
    text = "There is no key of that name.";
  } else if (!m_rate.Take()) {
    text = "Too many keys at once; this key was not sent.";
  } else {
    text = m_dispatcher.Press(*row, m_keyBound).text;
  }
  if (m_report) m_report(sender, name, text);
}
