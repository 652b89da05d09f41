// OSC for control surfaces: "/quillmark/key" with one string argument, the key's name as
// quillmark-send takes it, over UDP (liblo). Messages are taken only from the hosts the
// user allows; the rest, and anything that is not a key, are ignored. The keys go
// through the same hand-off, rate limit and key routine as the page's.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class KeyDispatcher;
class KeyRateLimit;

// Hosts allowed to send OSC: numeric IPv4 or IPv6 addresses, each optionally with a
// prefix length ("192.168.1.0/24"), separated by blanks or commas; "localhost" stands for
// 127.0.0.1 and ::1.
class OscAllowedHosts {
 public:
  // False with the first entry it could not read in `bad`; nothing is allowed then.
  bool Parse(std::string_view list, std::string& bad);
  // `address`: numeric, as the sender's address was seen.
  bool Allows(const std::string& address) const;

 private:
  bool AddRange(const std::string& entry, std::string& bad);
  struct Range {
    int family;
    unsigned char bytes[16];
    unsigned prefix;
  };
  std::vector<Range> m_ranges;
};

struct lo_server_thread_;

class OscListener {
 public:
  // What happened to a message, for the headless mode's log: the sender, the key name,
  // and the outcome's text.
  using Report = std::function<void(const std::string& sender, const std::string& key, const std::string& text)>;

  OscListener(KeyDispatcher& dispatcher, KeyRateLimit& rate, std::chrono::milliseconds keyBound);
  OscListener(const OscListener&) = delete;
  OscListener& operator=(const OscListener&) = delete;
  ~OscListener();

  // Listens at UDP `port` (0: a free port) on liblo's own thread. False with a reason.
  bool Start(std::uint16_t port, const OscAllowedHosts& allowed, Report report, std::string& error);
  // Waits for the message in hand, whose key is bounded, and closes the port.
  void Stop();
  std::uint16_t Port() const { return m_port; }

  // One "/quillmark/key" message from `sender` (numeric address): liblo's thread.
  void OnKeyMessage(const std::string& sender, const std::string& name);

 private:

  KeyDispatcher& m_dispatcher;
  KeyRateLimit& m_rate;
  std::chrono::milliseconds m_keyBound;
  OscAllowedHosts m_allowed;
  Report m_report;
  void* m_thread = nullptr;  // lo_server_thread
  std::uint16_t m_port = 0;
};
